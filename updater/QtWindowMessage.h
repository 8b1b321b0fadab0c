#pragma once

#include <QEvent>
#include <cstdint>

// A window message carried to the dialog's thread as a posted Qt event whose type number is the
// message number (WM_PRINTERS_FOUND 2024, WM_UPDATE_PROGRESS 2026, both valid user event types).
class QtWindowMessage : public QEvent {
public:
    QtWindowMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
        : QEvent(static_cast<QEvent::Type>(message)), wParam_(wParam), lParam_(lParam) {}

    std::uint32_t message() const { return static_cast<std::uint32_t>(type()); }
    std::uintptr_t wParam() const { return wParam_; }
    std::intptr_t lParam() const { return lParam_; }

private:
    std::uintptr_t wParam_;
    std::intptr_t lParam_;
};
