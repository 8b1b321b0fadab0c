#include "updater/DiscoveryWorker.h"

#include <memory>

#include "Halden/ForcedUnwind.h"
#include "device/PrinterFinder.h"
#include "platform/Com.h"
#include "platform/LastError.h"
#include "platform/ModulePath.h"
#include "updater/UpdaterMessages.h"

namespace {

// Owns what the finder returned until each record is handed on; frees the rest if an error
// escapes the run.
struct FoundPrinters {
    ~FoundPrinters() {
        for (IdentifiedPrinter* printer : list) {
            delete printer;
        }
    }
    std::vector<IdentifiedPrinter*> list;
};

}  // namespace

DiscoveryWorker::DiscoveryWorker() = default;

DiscoveryWorker::~DiscoveryWorker() {
    Stop(1000);
    DestroyPrinters();
}

bool DiscoveryWorker::SetWindow(platform::MessageTarget* window) {
    if (window == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    window_ = window;
    return true;
}

void DiscoveryWorker::SetDirectory(const std::wstring& directory) {
    directory_ = directory;
}

void DiscoveryWorker::DestroyPrinters() {
    for (AttachedPrinter* printer : printers_) {
        delete printer;
    }
    printers_.clear();
}

void DiscoveryWorker::Initialize() {
    platform::CoInitialize();
    DestroyPrinters();
}

void DiscoveryWorker::Run() {
    try {
        const std::wstring directory =
            directory_.empty() ? platform::GetModuleDirectory() : directory_;
        PrinterFinder finder;
        FoundPrinters found;
        if (finder.SetDirectory(directory.c_str()) && finder.EnumeratePrinters(found.list)) {
            for (IdentifiedPrinter*& identified : found.list) {
                try {
                    std::unique_ptr<AttachedPrinter> printer(new AttachedPrinter(identified));
                    identified = nullptr;
                    // One that cannot be opened (another program may hold it) is left out.
                    if (printer->Open()) {
                        printers_.push_back(printer.get());
                        printer.release();
                    }
                } catch (...) {
                    Halden::RethrowForcedUnwind();
                    // That printer only is dropped.
                }
            }
        }
    } catch (...) {
        Halden::RethrowForcedUnwind();
        // The printers opened so far are listed; the window waits for the message regardless.
    }
    if (window_ != nullptr) {
        window_->Post(WM_PRINTERS_FOUND, 1, 0);
    }
}

void DiscoveryWorker::Finalize() {
    platform::CoUninitialize();
}
