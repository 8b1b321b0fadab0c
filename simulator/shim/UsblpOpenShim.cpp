// liborvane-usblp-shim.so: preloaded in front of umockdev's preload library, it gives emulated
// /dev/usb/lpN nodes the open and close of the usblp driver. umockdev cannot fail an open, so
// after each open of such a node the shim asks the emulation for the driver's verdict (EBUSY when
// another descriptor has the node, ENODEV once the printer is gone) and fails the open with it;
// it also reports the open's flags (O_NONBLOCK changes what read does) and each close before the
// descriptor goes, so that a quick reopen is not refused. Other files pass through untouched.
//
// With ORVANE_SIM_FD_REPORT naming a file, the shim also appends to it, at the process's exit,
// every descriptor open then that was not open at its start ("<pid> <program> <fd> <target>"),
// so that a soak can tell a descriptor the program lost.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "simulator/UsblpShimRequests.h"

namespace {

constexpr int kTrackedDescriptors = 65536;
std::atomic<bool> tracked[kTrackedDescriptors];

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool IsEmulatedPrinterNode(const char* path) {
    return path != nullptr && std::strncmp(path, "/dev/usb/lp", 11) == 0 &&
           std::getenv("UMOCKDEV_DIR") != nullptr;
}

int CloseNext(int fd) {
    static const auto next = Next<int (*)(int)>("close");
    return next(fd);
}

// The driver's verdict on a descriptor just opened on path.
int Admit(int fd, const char* path, int flags) {
    if (fd < 0 || !IsEmulatedPrinterNode(path)) {
        return fd;
    }
    const int saved = errno;
    if (ioctl(fd, simulator::kShimOpenRequest, static_cast<unsigned long>(flags)) != 0) {
        const int refusal = errno;
        if (refusal == EBUSY || refusal == ENODEV) {
            CloseNext(fd);
            errno = refusal;
            return -1;
        }
        errno = saved;
        return fd;
    }
    if (fd < kTrackedDescriptors) {
        tracked[fd] = true;
    }
    errno = saved;
    return fd;
}

std::set<int> OpenDescriptors() {
    std::set<int> open;
    if (DIR* folder = opendir("/proc/self/fd")) {
        const int own = dirfd(folder);
        while (const dirent* entry = readdir(folder)) {
            const int fd = std::atoi(entry->d_name);
            if (entry->d_name[0] != '.' && fd != own) {
                open.insert(fd);
            }
        }
        closedir(folder);
    }
    return open;
}

// A socket connected to the simulator, which hosts the testbed: umockdev's own channel to a
// device node's emulation. The soak sees umockdev keep one now and then after the node's
// descriptor was closed, under libusb's concurrent opens; it is not a descriptor of the program.
bool IsEmulationPlumbing(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.pid == getppid();
}

// Descriptors open before main; null without a report to write.
std::set<int>* startDescriptors = nullptr;

__attribute__((constructor)) void NoteStartDescriptors() {
    if (std::getenv("ORVANE_SIM_FD_REPORT") != nullptr) {
        startDescriptors = new std::set<int>(OpenDescriptors());
    }
}

__attribute__((destructor)) void ReportLostDescriptors() {
    const char* report = std::getenv("ORVANE_SIM_FD_REPORT");
    if (startDescriptors == nullptr || report == nullptr) {
        return;
    }
    std::string lines;
    for (const int fd : OpenDescriptors()) {
        if (startDescriptors->count(fd) != 0 || IsEmulationPlumbing(fd)) {
            continue;
        }
        char target[512] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        if (readlink(link.c_str(), target, sizeof target - 1) < 0) {
            std::strcpy(target, "?");
        }
        lines += std::to_string(getpid()) + " " + program_invocation_short_name + " " +
                 std::to_string(fd) + " " + target + "\n";
    }
    if (!lines.empty()) {
        if (FILE* out = std::fopen(report, "a")) {
            std::fputs(lines.c_str(), out);
            std::fclose(out);
        }
    }
    delete startDescriptors;
    startDescriptors = nullptr;
}

mode_t ModeArgument(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    static const auto next = Next<int (*)(const char*, int, ...)>("open");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return Admit(next(path, flags, mode), path, flags);
}

int open64(const char* path, int flags, ...) {
    static const auto next = Next<int (*)(const char*, int, ...)>("open64");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return Admit(next(path, flags, mode), path, flags);
}

int openat(int directory, const char* path, int flags, ...) {
    static const auto next = Next<int (*)(int, const char*, int, ...)>("openat");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return Admit(next(directory, path, flags, mode), path, flags);
}

int openat64(int directory, const char* path, int flags, ...) {
    static const auto next = Next<int (*)(int, const char*, int, ...)>("openat64");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return Admit(next(directory, path, flags, mode), path, flags);
}

int close(int fd) {
    if (fd >= 0 && fd < kTrackedDescriptors && tracked[fd].exchange(false)) {
        const int saved = errno;
        ioctl(fd, simulator::kShimCloseRequest, 0UL);
        errno = saved;
    }
    return CloseNext(fd);
}

}  // extern "C"
