// A tiny client for the orvane-printer-sim test: simulator_probe DEVICE [EXIT-STATUS [second-open]]
// Opens the device, prints its device ID (prefix removed), with second-open tries to open it once
// more and prints why that failed, sends StartCommand, reads one status record, sends EndCommand,
// and exits with EXIT-STATUS (default 0); 1 when a call fails.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/UsbPrinterIoctl.h"

namespace {

bool Send(int fd, std::uint32_t word) {
    std::uint8_t bytes[12] = {};
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(word >> (8 * i));
    }
    return write(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: simulator_probe DEVICE [EXIT-STATUS]\n");
        return 1;
    }
    const int fd = open(argv[1], O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror("open");
        return 1;
    }
    unsigned char id[1024] = {};
    if (ioctl(fd, LPIOC_GET_DEVICE_ID(sizeof id), id) != 0) {
        std::perror("ioctl");
        return 1;
    }
    const std::size_t length = static_cast<std::size_t>(id[0] << 8 | id[1]);
    if (length < 2 || length > sizeof id) {
        std::fprintf(stderr, "bad device-ID length %zu\n", length);
        return 1;
    }
    std::fwrite(id + 2, 1, length - 2, stdout);
    if (argc > 3 && std::strcmp(argv[3], "second-open") == 0) {
        const int second = open(argv[1], O_RDWR | O_CLOEXEC);
        std::printf("\nsecond open: %s\n", second < 0 ? std::strerror(errno) : "accepted");
    }
    std::uint8_t record[12];
    if (!Send(fd, 0x38) || read(fd, record, sizeof record) != 12 || !Send(fd, 0x1038)) {
        std::perror("exchange");
        return 1;
    }
    close(fd);
    return argc > 2 ? std::atoi(argv[2]) : 0;
}
