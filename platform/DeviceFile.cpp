#include "platform/DeviceFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/LastError.h"
#include "platform/ModulePath.h"
#include "platform/UsbPrinterIoctl.h"
#include "platform/UsblpDeviceIdAnswer.h"

namespace platform {
namespace {

// One read or write (move) of up to length bytes, retried when a signal interrupts it; length
// becomes the count moved, 0 on failure.
template <typename Move>
bool MoveBytes(const void* buffer, std::uint32_t& length, Move move) {
    if (buffer == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    ssize_t moved;
    do {
        moved = move();
    } while (moved < 0 && errno == EINTR);
    if (moved < 0) {
        SetLastErrorFromErrno();
        length = 0;
        return false;
    }
    length = static_cast<std::uint32_t>(moved);
    return true;
}

}  // namespace

int OpenDeviceFile(const wchar_t* path) {
    if (path == nullptr || *path == L'\0') {
        SetLastError(kErrorInvalidParameter);
        return kNoDeviceFile;
    }
    std::string narrow;
    if (!WideToNarrow(path, narrow)) {
        SetLastError(EILSEQ);
        return kNoDeviceFile;
    }
    int file;
    do {
        file = ::open(narrow.c_str(), O_RDWR | O_CLOEXEC);
    } while (file < 0 && errno == EINTR);
    if (file < 0) {
        SetLastErrorFromErrno();
        return kNoDeviceFile;
    }
    // usblp refuses a second open by itself; the lock keeps the rule on any other node too.
    int locked;
    do {
        locked = ::flock(file, LOCK_EX | LOCK_NB);
    } while (locked < 0 && errno == EINTR);
    if (locked < 0) {
        SetLastErrorFromErrno();
        ::close(file);
        return kNoDeviceFile;
    }
    return file;
}

bool ReadDeviceFile(int file, void* buffer, std::uint32_t& length) {
    return MoveBytes(buffer, length, [&] { return ::read(file, buffer, length); });
}

bool WriteDeviceFile(int file, const void* buffer, std::uint32_t& length) {
    return MoveBytes(buffer, length, [&] { return ::write(file, buffer, length); });
}

bool QueryDeviceFileId(int file, std::string& bytes) {
    // Zero-filled: the decoding relies on the driver leaving the rest untouched.
    std::vector<unsigned char> answer(kUsbPrinterDeviceIdBufferSize, 0);
    int result;
    do {
        result = ::ioctl(file, LPIOC_GET_DEVICE_ID(kUsbPrinterDeviceIdBufferSize), answer.data());
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        SetLastErrorFromErrno();
        return false;
    }
    if (!DecodeUsblpDeviceIdAnswer(answer.data(), answer.size(), bytes)) {
        SetLastError(ENODATA);
        return false;
    }
    return true;
}

void CloseDeviceFile(int file) {
    if (file >= 0) {
        ::close(file);
    }
}

}  // namespace platform
