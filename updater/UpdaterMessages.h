#pragma once

#include <cstdint>

// Messages the workers post to their window (a platform::MessageTarget).

// Discovery has finished a run; wParam 1, lParam 0. Posted once per run, whatever the outcome.
constexpr std::uint32_t WM_PRINTERS_FOUND = 2024;  // WM_USER + 1000

// Progress of an update; wParam is one of the codes below, lParam its value.
constexpr std::uint32_t WM_UPDATE_PROGRESS = 2026;  // WM_USER + 1002

// lParam 0; the first message of a run.
constexpr std::uintptr_t kProgressStarted = 1;
// lParam 0; no printer or no image was set, nothing else follows.
constexpr std::uintptr_t kProgressNotStarted = 2;
// lParam 1 success, 0 failure; the last message for a printer that needs no reboot.
constexpr std::uintptr_t kProgressFinished = 3;
// As kProgressFinished, for a printer whose description requires a reboot.
constexpr std::uintptr_t kProgressFinishedReboot = 4;
// lParam the whole file's size in bytes.
constexpr std::uintptr_t kProgressTotalSize = 5;
// lParam the image bytes sent so far.
constexpr std::uintptr_t kProgressBytesSent = 6;
