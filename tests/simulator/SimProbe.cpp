// A tiny client for the orvane-printer-sim test: simulator_probe DEVICE [EXIT-STATUS]
// Opens the device, prints its device ID (prefix removed), sends StartCommand, reads one status
// record, sends EndCommand, and exits with EXIT-STATUS (default 0); 1 when a call fails.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/UsbPrinterIoctl.h"
#include "tests/simulator/WireBytes.h"

int main(int argc, char** argv) {
    const int fd = argc > 1 ? open(argv[1], O_RDWR | O_CLOEXEC) : -1;
    unsigned char id[1024] = {};
    if (fd < 0 || ioctl(fd, LPIOC_GET_DEVICE_ID(sizeof id), id) != 0) {
        std::perror(argv[argc > 1 ? 1 : 0]);
        return 1;
    }
    const std::size_t length = static_cast<std::size_t>(id[0] << 8 | id[1]);
    std::fwrite(id + 2, 1, length > 2 && length <= sizeof id ? length - 2 : 0, stdout);
    const auto start = simulator::CommandBytes(kStartCommand);
    const auto end = simulator::CommandBytes(kEndCommand);
    std::uint8_t record[12];
    if (write(fd, start.data(), 12) != 12 || read(fd, record, sizeof record) != 12 ||
        write(fd, end.data(), 12) != 12) {
        std::perror("exchange");
        return 1;
    }
    close(fd);
    return argc > 2 ? std::atoi(argv[2]) : 0;
}
