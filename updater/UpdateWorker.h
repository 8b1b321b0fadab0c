#pragma once

#include <cstdint>

#include "Halden/windows/win32_thread_wrapper.h"
#include "platform/MessageTarget.h"
#include "updater/AttachedPrinter.h"
#include "updater/FirmwareImage.h"
#include "updater/PrinterStatusRecord.h"

// Sends one firmware image to one printer on its own thread and posts WM_UPDATE_PROGRESS to
// its window. The window, printer and image are not owned; set them before each Start and keep
// them alive and untouched until the final message has arrived. After the final message the
// run waits for Stop.
class UpdateWorker : public thread {
public:
    static constexpr std::uint32_t kStartTimeoutMs = 60000;
    static constexpr std::uint32_t kImageInfoTimeoutMs = 5000;
    static constexpr std::uint32_t kTransferTimeoutMs = 60000;
    static constexpr std::uint32_t kPollIntervalMs = 500;
    static constexpr std::uint32_t kMaxChunk = 4096;

    UpdateWorker();
    // Stops a running worker (1000 ms limit).
    ~UpdateWorker() override;

    // Each refuses null: last error 87 and false.
    bool SetWindow(platform::MessageTarget* window);
    bool SetPrinter(AttachedPrinter* printer);
    bool SetImage(FirmwareImage* image);

    void Initialize() override;
    void Run() override;
    void Finalize() override;

    // Polls the printer's status every 500 ms (on the platform clock) until it acknowledges
    // stage, or reports idle before any busy, or the time limit has passed after a read. A failed
    // read fails at once; a short read counts as no news.
    bool waitForStage(std::uint8_t stage, std::uint32_t timeoutMs);

private:
    void Post(std::uintptr_t code, std::intptr_t value);
    bool SendImage(const std::uint8_t* data, std::uint32_t length);

    platform::MessageTarget* window_ = nullptr;
    AttachedPrinter* printer_ = nullptr;
    FirmwareImage* image_ = nullptr;
    PrinterStatusRecord status_;
};
