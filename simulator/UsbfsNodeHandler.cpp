#include "simulator/UsbfsNodeHandler.h"

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

namespace simulator {

namespace {

void Finish(UMockdevIoctlClient* client, long result) {
    umockdev_ioctl_client_complete(client, result < 0 ? -1 : result,
                                   result < 0 ? static_cast<int>(-result) : 0);
}

// The argument's structure of the given size (a new reference), or null (a bad pointer).
UMockdevIoctlData* Resolve(UMockdevIoctlData* arg, std::size_t size) {
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, size, &error);
    g_clear_error(&error);
    return data;
}

template <typename T>
T* As(UMockdevIoctlData* data) {
    return reinterpret_cast<T*>(data->data);
}

}  // namespace

UsbfsNodeHandler::UsbfsNodeHandler(std::string devnode, std::vector<std::uint8_t> descriptors,
                                   int devnum)
    : UmockdevNodeHandler(std::move(devnode)),
      descriptors_(std::move(descriptors)),
      devnum_(devnum) {}

UsbfsNodeHandler::~UsbfsNodeHandler() {
    Retire();
}

bool UsbfsNodeHandler::Attach(UMockdevTestbed* testbed, UsbfsDevice& device, std::string& error) {
    device_ = &device;
    // umockdev makes a USB device's node a plain file; a terminal of our own takes its place.
    const std::string node = umockdev_testbed_get_root_dir(testbed) + node_;
    char name[64] = {};
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0 ||
        (terminal_ = ioctl(master_, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) < 0 ||
        unlink(node.c_str()) != 0 || symlink(name, node.c_str()) != 0) {
        error = "cannot make the usbfs node " + node + ": " + std::strerror(errno);
        return false;
    }
    termios raw{};
    if (tcgetattr(terminal_, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(terminal_, TCSANOW, &raw);
    }
    SetReapable(false);
    return AttachHandler(testbed,
                         {G_CALLBACK(OnIoctl), G_CALLBACK(OnRead), G_CALLBACK(OnWrite),
                          G_CALLBACK(OnClientConnected), this},
                         "usbfs handler", error);
}

void UsbfsNodeHandler::Retire() {
    std::lock_guard<std::mutex> lock(mutex_);
    // Closing the master hangs the terminal up: poll reports POLLERR and POLLHUP (with POLLOUT),
    // as usbfs does for a device that is gone.
    if (terminal_ >= 0) {
        close(terminal_);
        terminal_ = -1;
    }
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

void UsbfsNodeHandler::SetReapable(bool reapable) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (terminal_ >= 0) {
        ioctl(terminal_, TCXONC, reapable ? TCOON : TCOOFF);
    }
}

class UsbfsNodeHandler::Busy {
public:
    explicit Busy(gpointer handler) : busy_(static_cast<UsbfsNodeHandler*>(handler)->busy_) {
        ++busy_;
    }
    ~Busy() { --busy_; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    std::atomic<int>& busy_;
};

void UsbfsNodeHandler::WaitIdle() const {
    while (busy_.load() != 0) {
        std::this_thread::yield();
    }
}

void UsbfsNodeHandler::OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                         gpointer data) {
    const Busy busy(data);
    auto* self = static_cast<UsbfsNodeHandler*>(data);
    self->KeepClient(client, G_CALLBACK(OnClientNotify));
    self->device_->Open(client);
}

void UsbfsNodeHandler::OnClientNotify(GObject* object, GParamSpec*, gpointer data) {
    const Busy busy(data);
    auto* client = reinterpret_cast<UMockdevIoctlClient*>(object);
    if (!umockdev_ioctl_client_get_connected(client)) {
        static_cast<UsbfsNodeHandler*>(data)->device_->Close(client);
    }
}

gboolean UsbfsNodeHandler::OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    const Busy busy(data);
    auto* self = static_cast<UsbfsNodeHandler*>(data);
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    std::size_t count = 0;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        std::size_t& offset = self->read_[client];
        count = std::min(static_cast<std::size_t>(std::max(buffer->data_len, 0)),
                         self->descriptors_.size() - std::min(offset, self->descriptors_.size()));
        std::copy_n(self->descriptors_.begin() + static_cast<std::ptrdiff_t>(offset), count,
                    buffer->data);
        offset += count;
    }
    Finish(client, self->device_->Present() ? static_cast<long>(count) : -ENODEV);
    return TRUE;
}

gboolean UsbfsNodeHandler::OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    Finish(client, -EINVAL);
    return TRUE;
}

gboolean UsbfsNodeHandler::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    const Busy busy(data);
    auto* self = static_cast<UsbfsNodeHandler*>(data);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    bool later = false;
    const int result = self->Ioctl(client, request, umockdev_ioctl_client_get_arg(client), later);
    if (!later) {
        Finish(client, result);
    }
    return TRUE;
}

int UsbfsNodeHandler::Ioctl(UMockdevIoctlClient* client, unsigned long request,
                            UMockdevIoctlData* arg, bool& later) {
    UsbfsDevice& device = *device_;
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        later = true;
        ReapUrb(client, arg, request == USBDEVFS_REAPURB);
        return 0;
    }
    if (!device.Present()) {
        return -ENODEV;
    }
    switch (request) {
        case USBDEVFS_SUBMITURB:
            return SubmitUrb(client, arg);
        case USBDEVFS_DISCARDURB:
            return device.Discard(client, *reinterpret_cast<const std::uint64_t*>(arg->data));
        case USBDEVFS_RESET:
            return device.Reset(client);
        case USBDEVFS_GET_SPEED:
            return USB_SPEED_HIGH;
        default:
            break;
    }
    const std::size_t size = _IOC_SIZE(request);
    UMockdevIoctlData* data = size > 0 ? Resolve(arg, size) : nullptr;
    if (data == nullptr) {
        return _IOC_TYPE(request) == 'U' ? -EFAULT : -ENOTTY;
    }
    int result = -ENOTTY;
    const unsigned value = *As<unsigned>(data);
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            *As<std::uint32_t>(data) = UsbfsDevice::Capabilities();
            result = 0;
            break;
        case USBDEVFS_CLAIMINTERFACE:
            result = device.Claim(client, value);
            break;
        case USBDEVFS_RELEASEINTERFACE:
            result = device.Release(client, value);
            break;
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
            result = device.ClearHalt(client, value);
            break;
        case USBDEVFS_SETCONFIGURATION:
            result = device.SetConfiguration(client, static_cast<int>(value));
            break;
        case USBDEVFS_SETINTERFACE: {
            const auto* setting = As<usbdevfs_setinterface>(data);
            result = device.SetInterface(client, setting->interface, setting->altsetting);
            break;
        }
        case USBDEVFS_CONNECTINFO:
            As<usbdevfs_connectinfo>(data)->devnum = static_cast<unsigned>(devnum_);
            As<usbdevfs_connectinfo>(data)->slow = 0;
            result = 0;
            break;
        case USBDEVFS_GETDRIVER: {
            auto* driver = As<usbdevfs_getdriver>(data);
            std::string name;
            result = device.GetDriver(driver->interface, name);
            if (result == 0) {
                std::snprintf(driver->driver, sizeof driver->driver, "%s", name.c_str());
            }
            break;
        }
        case USBDEVFS_DISCONNECT_CLAIM: {
            auto* claim = As<usbdevfs_disconnect_claim>(data);
            claim->driver[sizeof claim->driver - 1] = '\0';
            result = device.DisconnectClaim(client, claim->interface, claim->flags, claim->driver);
            break;
        }
        case USBDEVFS_IOCTL: {
            const auto* command = As<usbdevfs_ioctl>(data);
            const auto interface = static_cast<unsigned>(command->ifno);
            result = command->ioctl_code == USBDEVFS_DISCONNECT ? device.Disconnect(interface)
                     : command->ioctl_code == USBDEVFS_CONNECT  ? device.Connect(interface)
                                                                : -ENOTTY;
            break;
        }
        default:
            break;
    }
    g_object_unref(data);
    return result;
}

int UsbfsNodeHandler::SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* data = Resolve(arg, sizeof(usbdevfs_urb));
    if (data == nullptr) {
        return -EFAULT;
    }
    const auto* raw = As<usbdevfs_urb>(data);
    UsbfsDevice::Urb urb;
    urb.address = data->client_addr;
    urb.type = raw->type;
    urb.endpoint = raw->endpoint;
    urb.length = raw->buffer_length > 0 ? static_cast<std::size_t>(raw->buffer_length) : 0;
    if (urb.length > 0) {
        GError* error = nullptr;
        UMockdevIoctlData* buffer =
            umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer), urb.length, &error);
        g_clear_error(&error);
        if (buffer == nullptr) {
            g_object_unref(data);
            return -EFAULT;
        }
        urb.buffer = buffer->data;
        // The URB's data keeps its buffer's.
        g_object_unref(buffer);
    }
    urb.handle = std::shared_ptr<void>(data, g_object_unref);
    return device_->Submit(client, std::move(urb));
}

void UsbfsNodeHandler::ReapUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool wait) {
    UMockdevIoctlData* resolved = Resolve(arg, sizeof(void*));
    if (resolved == nullptr) {
        Finish(client, -EFAULT);
        return;
    }
    // Held until the reap completes, or until the file's close drops it.
    std::shared_ptr<UMockdevIoctlData> pointer(resolved, g_object_unref);
    std::shared_ptr<UMockdevIoctlClient> waiting(
        static_cast<UMockdevIoctlClient*>(g_object_ref(client)), g_object_unref);
    device_->Reap(client, wait, [waiting, pointer](int result, UsbfsDevice::Urb urb) {
        if (result == 0) {
            auto* data = static_cast<UMockdevIoctlData*>(urb.handle.get());
            auto* raw = As<usbdevfs_urb>(data);
            raw->status = urb.status;
            raw->actual_length = static_cast<int>(urb.actualLength);
            umockdev_ioctl_data_set_ptr(pointer.get(), 0, data);
        }
        Finish(waiting.get(), result);
    });
}

}  // namespace simulator
