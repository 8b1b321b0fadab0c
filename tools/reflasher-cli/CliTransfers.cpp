#include "tools/reflasher-cli/CliTransfers.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <string>

#include "platform/MessageQueue.h"
#include "updater/UpdaterMessages.h"

// Posts to its own queue and rings a shared one with its tag, so that one thread can follow
// several workers and still tell their messages apart.
class TaggedTarget : public platform::MessageTarget {
public:
    TaggedTarget(std::size_t tag, platform::MessageQueue& doorbell)
        : tag_(tag), doorbell_(doorbell) {}
    void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        own.Post(message, wParam, lParam);
        doorbell_.Post(0, tag_, 0);
    }
    platform::MessageQueue own;

private:
    const std::size_t tag_;
    platform::MessageQueue& doorbell_;
};

namespace {

class ProgressView {
public:
    ProgressView(bool json, bool several)
        : json_(json), several_(several), bar_(!json && !several && isatty(STDOUT_FILENO)) {}

    void Show(Transfer& t, std::uintptr_t code, std::intptr_t value) {
        switch (code) {
            case kProgressStarted:
                Event(t, Json{{"event", "started"}}, "update started");
                break;
            case kProgressTotalSize:
                t.total = static_cast<std::uint32_t>(value);
                Event(t, Json{{"event", "size"}, {"bytes", t.total}},
                      "sending " + std::to_string(t.total) + " bytes");
                break;
            case kProgressBytesSent:
                Progress(t, static_cast<std::uint32_t>(value));
                break;
            case kProgressFinished:
            case kProgressFinishedReboot:
            case kProgressNotStarted:
                t.finished = true;
                t.ok = code != kProgressNotStarted && value == 1;
                t.rebootRequired = code == kProgressFinishedReboot;
                if (bar_) {
                    std::cout << "\n";
                }
                Event(
                    t,
                    Json{{"event", "finished"}, {"ok", t.ok}, {"rebootRequired", t.rebootRequired}},
                    !t.ok ? "update FAILED"
                          : (t.rebootRequired ? "update succeeded; the printer restarts to finish"
                                              : "update succeeded"));
                break;
            default:
                break;
        }
    }

    void Event(const Transfer& t, Json event, const std::string& text) {
        if (json_) {
            if (several_) {
                event["devicePath"] = t.row->devicePath;
            }
            std::cout << Dump(event) << std::endl;
        } else {
            std::cout << (several_ ? t.row->devicePath + ": " : "") << text << std::endl;
        }
    }

private:
    void Progress(Transfer& t, std::uint32_t sent) {
        if (json_) {
            Event(t, Json{{"event", "progress"}, {"bytes", sent}}, "");
            return;
        }
        const std::uint32_t percent =
            t.total == 0 ? 100u : static_cast<std::uint32_t>(std::uint64_t{sent} * 100u / t.total);
        if (bar_) {
            const std::uint32_t filled = percent / 2;
            std::cout << "\r[" << std::string(filled, '#')
                      << std::string(50 - std::min(filled, 50u), '.') << "] " << percent << "% "
                      << sent << "/" << t.total << std::flush;
            return;
        }
        const int tenth = static_cast<int>(percent / 10);
        if (tenth != t.shownTenth) {
            t.shownTenth = tenth;
            Event(t, Json(),
                  "sent " + std::to_string(sent) + " of " + std::to_string(t.total) + " bytes (" +
                      std::to_string(percent) + "%)");
        }
    }

    const bool json_;
    const bool several_;
    const bool bar_;
};

}  // namespace

Transfer::Transfer() = default;
Transfer::~Transfer() = default;
Transfer::Transfer(Transfer&&) noexcept = default;
Transfer& Transfer::operator=(Transfer&&) noexcept = default;

void RunTransfers(std::vector<Transfer>& transfers, bool json, bool several) {
    platform::MessageQueue doorbell;
    ProgressView view(json, several);
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        Transfer& t = transfers[i];
        t.target = std::make_unique<TaggedTarget>(i, doorbell);
        t.worker = std::make_unique<UpdateWorker>();
        t.worker->SetWindow(t.target.get());
        t.worker->SetPrinter(t.row->printer);
        t.worker->SetImage(t.image.get());
        t.worker->Start();
    }
    std::size_t running = transfers.size();
    while (running > 0) {
        Transfer& t = transfers[doorbell.Take().wParam];
        platform::Message message;
        if (!t.target->own.TryTake(message) || message.message != WM_UPDATE_PROGRESS) {
            continue;
        }
        view.Show(t, message.wParam, message.lParam);
        if (t.finished) {
            t.worker->Stop(1000);
            --running;
        }
    }
}
