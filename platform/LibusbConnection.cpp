#include "platform/LibusbConnection.h"

#include <libusb.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/LastError.h"
#include "platform/ModulePath.h"
#include "platform/UsbPrinterDevices.h"
#include "platform/UsblpDeviceIdAnswer.h"

namespace platform {
namespace {

constexpr unsigned kDeviceIdRequestType = 0xA1;  // class request, device to host, interface
constexpr unsigned kGetDeviceId = 0;
constexpr int kDeviceIdBufferSize = 1024;
constexpr int kMaxIdBytes = kDeviceIdBufferSize - 2;

std::uint32_t ErrnoOf(int libusbError) {
    switch (libusbError) {
        case LIBUSB_ERROR_ACCESS:
            return EACCES;
        case LIBUSB_ERROR_NO_DEVICE:
            return ENODEV;
        case LIBUSB_ERROR_NOT_FOUND:
            return ENOENT;
        case LIBUSB_ERROR_BUSY:
            return EBUSY;
        case LIBUSB_ERROR_TIMEOUT:
            return ETIMEDOUT;
        case LIBUSB_ERROR_OVERFLOW:
            return EOVERFLOW;
        case LIBUSB_ERROR_PIPE:
            return EPIPE;
        case LIBUSB_ERROR_INTERRUPTED:
            return EINTR;
        case LIBUSB_ERROR_NO_MEM:
            return ENOMEM;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return EOPNOTSUPP;
        case LIBUSB_ERROR_INVALID_PARAM:
            return EINVAL;
        default:
            return EIO;
    }
}

bool Fail(int libusbError) {
    SetLastError(ErrnoOf(libusbError));
    return false;
}

std::uint32_t ErrnoOfStatus(libusb_transfer_status status) {
    switch (status) {
        case LIBUSB_TRANSFER_NO_DEVICE:
            return ENODEV;
        case LIBUSB_TRANSFER_STALL:
            return EPIPE;
        case LIBUSB_TRANSFER_OVERFLOW:
            return EOVERFLOW;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return ETIMEDOUT;
        case LIBUSB_TRANSFER_CANCELLED:
            return ECANCELED;
        default:
            return EIO;
    }
}

// Holds off a forced stop (pthread_cancel) of the calling thread while it lives: libusb's calls
// read sysfs and take process-wide locks, and a thread unwound in the middle of one would leave
// a lock taken or its hotplug monitor half started. The stop lands at the next cancellation
// point after it.
class CancellationHold {
public:
    CancellationHold() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state_); }
    ~CancellationHold() { pthread_setcancelstate(state_, nullptr); }
    CancellationHold(const CancellationHold&) = delete;
    CancellationHold& operator=(const CancellationHold&) = delete;

private:
    int state_ = PTHREAD_CANCEL_ENABLE;
};

void LIBUSB_CALL OnTransferDone(libusb_transfer* transfer) {
    static_cast<std::atomic<int>*>(transfer->user_data)->store(1);
}

// One transfer, run to its end on the calling thread without a time limit. The thread may be
// stopped by force (pthread_cancel) while it waits: cancellation is held off inside libusb, whose
// locks must not be abandoned, and acted on between rounds of event handling; the unwind then
// cancels the transfer and waits for libusb to give it back before its buffer goes.
class Transfer {
public:
    explicit Transfer(libusb_context* context)
        : context_(context), transfer_(libusb_alloc_transfer(0)) {}
    ~Transfer() {
        const CancellationHold hold;
        if (submitted_ && done_.load() == 0) {
            libusb_cancel_transfer(transfer_);
            while (done_.load() == 0) {
                libusb_handle_events_completed(context_, nullptr);
            }
        }
        libusb_free_transfer(transfer_);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    libusb_transfer* get() const { return transfer_; }

    // False with the last error set when the transfer could not be made or failed without
    // moving a byte; a transfer cut short after some bytes counts them.
    bool Run(int& moved) {
        moved = 0;
        if (transfer_ == nullptr) {
            SetLastError(ENOMEM);
            return false;
        }
        transfer_->user_data = &done_;
        transfer_->callback = OnTransferDone;
        transfer_->timeout = 0;
        const int submitted = [this] {
            const CancellationHold hold;
            return libusb_submit_transfer(transfer_);
        }();
        if (submitted != 0) {
            return Fail(submitted);
        }
        submitted_ = true;
        while (done_.load() == 0) {
            {
                const CancellationHold hold;
                timeval wait{0, 200'000};
                int completed = 0;
                libusb_handle_events_timeout_completed(context_, &wait, &completed);
            }
            pthread_testcancel();
        }
        moved = transfer_->actual_length;
        if (transfer_->status == LIBUSB_TRANSFER_COMPLETED || moved > 0) {
            return true;
        }
        SetLastError(ErrnoOfStatus(transfer_->status));
        return false;
    }

private:
    libusb_context* const context_;
    libusb_transfer* const transfer_;
    std::atomic<int> done_{0};
    bool submitted_ = false;
};

struct ParsedPath {
    std::string node;
    int bus = 0;
    int address = 0;
    int interface = 0;
};

bool ParsePath(const wchar_t* path, ParsedPath& parsed) {
    std::string narrow;
    char tail = 0;
    if (!WideToNarrow(path, narrow) ||
        std::sscanf(narrow.c_str(), "/dev/bus/usb/%3d/%3d:%d%c", &parsed.bus, &parsed.address,
                    &parsed.interface, &tail) != 3 ||
        parsed.interface < 0 || parsed.interface > 255) {
        return false;
    }
    parsed.node = narrow.substr(0, narrow.find(':'));
    return true;
}

// The device at bus/address, referenced for the caller; null when libusb does not know it.
libusb_device* FindDevice(libusb_context* context, int bus, int address) {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    libusb_device* found = nullptr;
    for (ssize_t i = 0; i < count && found == nullptr; ++i) {
        if (libusb_get_bus_number(list[i]) == bus &&
            libusb_get_device_address(list[i]) == address) {
            found = libusb_ref_device(list[i]);
        }
    }
    if (count >= 0) {
        libusb_free_device_list(list, 1);
    }
    return found;
}

}  // namespace

std::unique_ptr<DeviceConnection> LibusbConnection::Open(const wchar_t* path) {
    std::unique_ptr<DeviceConnection> connection;
    {
        const CancellationHold hold;
        connection = OpenHeld(path);
    }
    pthread_testcancel();
    return connection;
}

std::unique_ptr<DeviceConnection> LibusbConnection::OpenHeld(const wchar_t* path) {
    ParsedPath parsed;
    if (!ParsePath(path, parsed)) {
        SetLastError(ENOENT);
        return nullptr;
    }
    // A context of its own: libusb lists the devices as they are now when it starts, whereas a
    // long-lived context learns of a printer back from a restart only from its hotplug thread.
    libusb_context* context = nullptr;
    const int started = libusb_init(&context);
    if (started != 0) {
        Fail(started);
        return nullptr;
    }
    libusb_device* device = FindDevice(context, parsed.bus, parsed.address);
    if (device == nullptr) {
        libusb_exit(context);
        SetLastError(ENODEV);
        return nullptr;
    }
    Interface interface;
    const bool found = Describe(device, parsed.interface, interface);
    libusb_device_handle* handle = nullptr;
    const int opened = found ? libusb_open(device, &handle) : LIBUSB_ERROR_NOT_FOUND;
    libusb_unref_device(device);
    if (opened != 0) {
        libusb_exit(context);
        Fail(opened);
        return nullptr;
    }
    std::unique_ptr<LibusbConnection> connection(new LibusbConnection(context, handle, interface));
    // usblp stays bound until the first transfer, so that identifying a printer disturbs
    // nothing; any other holder makes the printer busy now.
    if (connection->BoundDriver() != "usblp" && !connection->Claim()) {
        return nullptr;
    }
    return connection;
}

bool LibusbConnection::Describe(libusb_device* device, int number, Interface& interface) {
    interface.number = number;
    bool found = false;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) == 0) {
        interface.configValue = config->bConfigurationValue;
        for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
            const libusb_interface& candidates = config->interface[i];
            for (int alt = 0; alt < candidates.num_altsetting && !found; ++alt) {
                const libusb_interface_descriptor& setting = candidates.altsetting[alt];
                if (setting.bInterfaceNumber != number ||
                    setting.bInterfaceClass != LIBUSB_CLASS_PRINTER ||
                    setting.bInterfaceSubClass != 1 || setting.bInterfaceProtocol < 1 ||
                    setting.bInterfaceProtocol > 3) {
                    continue;
                }
                interface.altSetting = setting.bAlternateSetting;
                for (int e = 0; e < setting.bNumEndpoints; ++e) {
                    const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
                    if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) !=
                        LIBUSB_TRANSFER_TYPE_BULK) {
                        continue;
                    }
                    if ((endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0) {
                        interface.inEndpoint = endpoint.bEndpointAddress;
                        interface.inPacketSize = std::max<int>(endpoint.wMaxPacketSize, 1);
                    } else {
                        interface.outEndpoint = endpoint.bEndpointAddress;
                    }
                }
                found = interface.outEndpoint != 0;
            }
        }
        libusb_free_config_descriptor(config);
    }
    libusb_device_descriptor descriptor{};
    if (found && libusb_get_device_descriptor(device, &descriptor) == 0) {
        for (int i = 0; i < descriptor.bNumConfigurations; ++i) {
            libusb_config_descriptor* each = nullptr;
            if (libusb_get_config_descriptor(device, static_cast<std::uint8_t>(i), &each) == 0) {
                if (each->bConfigurationValue == interface.configValue) {
                    interface.configIndex = i;
                }
                libusb_free_config_descriptor(each);
            }
        }
    }
    return found;
}

LibusbConnection::LibusbConnection(libusb_context* context, libusb_device_handle* handle,
                                   const Interface& interface)
    : context_(context), handle_(handle), interface_(interface) {}

LibusbConnection::~LibusbConnection() {
    const CancellationHold hold;
    if (claimed_) {
        libusb_release_interface(handle_, interface_.number);
    }
    if (detached_) {
        libusb_attach_kernel_driver(handle_, interface_.number);
    }
    libusb_close(handle_);
    libusb_exit(context_);
}

bool LibusbConnection::Claim() {
    if (claimed_) {
        return true;
    }
    const CancellationHold hold;
    if (BoundDriver() == "usblp") {
        const int detached = libusb_detach_kernel_driver(handle_, interface_.number);
        if (detached != 0 && detached != LIBUSB_ERROR_NOT_FOUND) {
            return Fail(detached);
        }
        detached_ = detached == 0;
    }
    int result = libusb_claim_interface(handle_, interface_.number);
    if (result == 0 && interface_.altSetting != 0) {
        result =
            libusb_set_interface_alt_setting(handle_, interface_.number, interface_.altSetting);
        if (result != 0) {
            libusb_release_interface(handle_, interface_.number);
        }
    }
    if (result != 0) {
        if (detached_) {
            libusb_attach_kernel_driver(handle_, interface_.number);
            detached_ = false;
        }
        return Fail(result);
    }
    claimed_ = true;
    return true;
}

std::string LibusbConnection::BoundDriver() const {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d",
                  libusb_get_bus_number(libusb_get_device(handle_)),
                  libusb_get_device_address(libusb_get_device(handle_)));
    std::string driver;
    return UsbInterfaceDriver(node, interface_.number, driver) ? driver : std::string("?");
}

bool LibusbConnection::Read(void* buffer, std::uint32_t& length) {
    if (buffer == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    if (interface_.inEndpoint == 0) {
        SetLastError(EOPNOTSUPP);
        length = 0;
        return false;
    }
    if (!Claim()) {
        length = 0;
        return false;
    }
    // Whole packets, so that a printer sending more than was asked for ends the transfer
    // instead of failing it with an overflow.
    const std::uint32_t packets =
        std::max<std::uint32_t>(1, (length + interface_.inPacketSize - 1) /
                                       static_cast<std::uint32_t>(interface_.inPacketSize));
    std::vector<unsigned char> data(packets * static_cast<std::uint32_t>(interface_.inPacketSize));
    Transfer transfer(context_);
    if (transfer.get() != nullptr) {
        libusb_fill_bulk_transfer(transfer.get(), handle_, interface_.inEndpoint, data.data(),
                                  static_cast<int>(data.size()), nullptr, nullptr, 0);
    }
    int moved = 0;
    if (!transfer.Run(moved)) {
        length = 0;
        return false;
    }
    length = std::min(length, static_cast<std::uint32_t>(moved));
    std::copy_n(data.data(), length, static_cast<unsigned char*>(buffer));
    return true;
}

bool LibusbConnection::Write(const void* buffer, std::uint32_t& length) {
    if (buffer == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    if (!Claim()) {
        length = 0;
        return false;
    }
    // libusb takes a mutable buffer for both directions; an OUT transfer only reads it.
    auto* data = static_cast<unsigned char*>(const_cast<void*>(buffer));
    Transfer transfer(context_);
    if (transfer.get() != nullptr) {
        libusb_fill_bulk_transfer(transfer.get(), handle_, interface_.outEndpoint, data,
                                  static_cast<int>(length), nullptr, nullptr, 0);
    }
    int moved = 0;
    const bool ok = transfer.Run(moved);
    length = ok ? static_cast<std::uint32_t>(moved) : 0;
    return ok;
}

bool LibusbConnection::QueryDeviceId(std::string& bytes) {
    // The kernel lets GET_DEVICE_ID through to a printer-class interface whoever holds it, so
    // usblp need not be detached for it.
    std::vector<unsigned char> answer(LIBUSB_CONTROL_SETUP_SIZE + kDeviceIdBufferSize, 0);
    libusb_fill_control_setup(
        answer.data(), kDeviceIdRequestType, kGetDeviceId,
        static_cast<std::uint16_t>(interface_.configIndex),
        static_cast<std::uint16_t>((interface_.number << 8) | interface_.altSetting),
        kDeviceIdBufferSize);
    Transfer transfer(context_);
    if (transfer.get() != nullptr) {
        libusb_fill_control_transfer(transfer.get(), handle_, answer.data(), nullptr, nullptr, 0);
    }
    int moved = 0;
    if (!transfer.Run(moved)) {
        return false;
    }
    // Unlike usblp's copy, the transfer tells how much the printer sent: a prefix that matches
    // that count only when read little-endian was written little-endian.
    unsigned char* prefix = answer.data() + LIBUSB_CONTROL_SETUP_SIZE;
    if (moved >= 2 && (prefix[0] << 8 | prefix[1]) != moved &&
        (prefix[1] << 8 | prefix[0]) == moved) {
        std::swap(prefix[0], prefix[1]);
    }
    if (!DecodeDeviceIdAnswer(answer.data() + LIBUSB_CONTROL_SETUP_SIZE,
                              static_cast<std::size_t>(moved), kMaxIdBytes, bytes)) {
        SetLastError(ENODATA);
        return false;
    }
    return true;
}

}  // namespace platform
