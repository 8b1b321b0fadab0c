#pragma once

#include <string>
#include <vector>

#include "Halden/windows/win32_thread_wrapper.h"
#include "platform/MessageTarget.h"
#include "updater/AttachedPrinter.h"

// Finds and opens the attached printers on its own thread, then posts WM_PRINTERS_FOUND to its
// window once per run, also when an error cut the search short (not after a forced stop). A
// printer that cannot be opened is left out. Owns the printers of the last run; a new run destroys
// them first. The list is written only by the worker's thread; read it after WM_PRINTERS_FOUND has
// arrived.
class DiscoveryWorker : public thread {
public:
    DiscoveryWorker();
    // Stops a running worker (1000 ms limit) and destroys every printer.
    ~DiscoveryWorker() override;

    // Refuses null: last error 87 and false. Not owned.
    bool SetWindow(platform::MessageTarget* window);
    // Where Wend.xml and WendIDs.xml are read from; empty (the default) means the program's own
    // folder. Set before Start.
    void SetDirectory(const std::wstring& directory);

    std::vector<AttachedPrinter*>& GetPrinters() { return printers_; }

    void Initialize() override;
    void Run() override;
    void Finalize() override;

private:
    void DestroyPrinters();

    platform::MessageTarget* window_ = nullptr;
    std::wstring directory_;
    std::vector<AttachedPrinter*> printers_;
};
