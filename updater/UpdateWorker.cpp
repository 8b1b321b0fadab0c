#include "updater/UpdateWorker.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/LastError.h"
#include "updater/UpdaterMessages.h"

UpdateWorker::UpdateWorker() = default;

UpdateWorker::~UpdateWorker() {
    Stop(1000);
}

bool UpdateWorker::SetWindow(platform::MessageTarget* window) {
    if (window == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    window_ = window;
    return true;
}

bool UpdateWorker::SetPrinter(AttachedPrinter* printer) {
    if (printer == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    printer_ = printer;
    return true;
}

bool UpdateWorker::SetImage(FirmwareImage* image) {
    if (image == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    image_ = image;
    return true;
}

void UpdateWorker::Initialize() {}

void UpdateWorker::Finalize() {}

void UpdateWorker::Post(std::uintptr_t code, std::intptr_t value) {
    window_->Post(WM_UPDATE_PROGRESS, code, value);
}

void UpdateWorker::Run() {
    if (window_ == nullptr) {
        return;
    }
    if (printer_ == nullptr || image_ == nullptr) {
        Post(kProgressNotStarted, 0);
        return;
    }
    const bool strip = printer_->StripsVersionBytes();
    std::uint32_t size = 0;
    const std::uint8_t* data = image_->GetData(size);
    if (data == nullptr) {
        size = 0;
    }
    // Unsigned arithmetic on purpose: the loader refuses files shorter than 6 bytes.
    const std::uint32_t infoValue = size - 6;
    const std::uint32_t sendLength = strip ? size - 4 : size;

    Post(kProgressStarted, 0);
    Post(kProgressTotalSize, static_cast<std::intptr_t>(size));

    const bool ok = printer_->SendStart() && waitForStage(1, kStartTimeoutMs) &&
                    printer_->SendImageInfo(infoValue) && waitForStage(2, kImageInfoTimeoutMs) &&
                    printer_->SendDataHeader(sendLength) &&
                    SendImage(data == nullptr ? nullptr : data + (strip ? 4 : 0), sendLength) &&
                    waitForStage(255, kTransferTimeoutMs);
    printer_->SendEnd();
    Post(printer_->RequiresReboot() ? kProgressFinishedReboot : kProgressFinished, ok ? 1 : 0);

    GetStopEvent().Wait(kInfiniteTimeout);
}

bool UpdateWorker::SendImage(const std::uint8_t* data, std::uint32_t length) {
    std::uint32_t sent = 0;
    while (sent < length) {
        const std::uint32_t chunk = std::min(length - sent, kMaxChunk);
        if (data == nullptr || !printer_->SendData(data + sent, chunk)) {
            return false;
        }
        sent += chunk;
        Post(kProgressBytesSent, static_cast<std::intptr_t>(sent));
    }
    return true;
}

bool UpdateWorker::waitForStage(std::uint8_t stage, std::uint32_t timeoutMs) {
    const std::uint32_t deadline = platform::GetTickCount() + timeoutMs;
    bool busySeen = false;
    for (;;) {
        if (!printer_->ReadStatus(status_)) {
            return false;
        }
        if (status_.IsComplete()) {
            const std::int32_t status = status_.Status();
            if (status == kStatusStageDone && status_.Stage() == stage) {
                return true;
            }
            if (status == kStatusIdle && !busySeen) {
                return true;
            }
            if (status == kStatusBusy) {
                busySeen = true;
            }
        }
        if (platform::GetTickCount() > deadline) {
            return false;
        }
        platform::Sleep(kPollIntervalMs);
    }
}
