#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <vector>

#include "updater/FirmwareImage.h"
#include "updater/UpdaterDialog.h"

namespace gui_test {

// The folder of the test program, where the language modules and description files lie.
inline QString ProgramDir() {
    return QCoreApplication::applicationDirPath();
}

// Runs the event loop until the dialog has handled a window message that match accepts.
// False if none came; the limit only keeps a broken run from hanging.
inline bool WaitForMessage(UpdaterDialog& dialog,
                           const std::function<bool(quint32, quintptr, qintptr)>& match) {
    QEventLoop loop;
    bool seen = false;
    const auto connection = QObject::connect(&dialog, &UpdaterDialog::windowMessageHandled,
                                             [&](quint32 message, quintptr wParam, qintptr lParam) {
                                                 if (!seen && match(message, wParam, lParam)) {
                                                     seen = true;
                                                     loop.quit();
                                                 }
                                             });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    return seen;
}

inline bool WaitForPrintersFound(UpdaterDialog& dialog) {
    return WaitForMessage(dialog,
                          [](quint32 message, quintptr, qintptr) { return message == 2024; });
}

// A firmware file: version prefix for major.minor.build.revision, a body of bodySize bytes and
// a correct CRC-16 trailer.
inline std::vector<std::uint8_t> FirmwareBytes(int major, int minor, int build, int revision,
                                               std::size_t bodySize = 1000) {
    std::vector<std::uint8_t> bytes(4 + bodySize + 2);
    bytes[0] = static_cast<std::uint8_t>(minor);
    bytes[1] = static_cast<std::uint8_t>(major);
    bytes[2] = static_cast<std::uint8_t>(revision);
    bytes[3] = static_cast<std::uint8_t>(build);
    for (std::size_t i = 0; i < bodySize; ++i) {
        bytes[4 + i] = static_cast<std::uint8_t>(i * 13 + 5);
    }
    const std::uint16_t crc = FirmwareImage::Crc16(bytes.data(), bytes.size() - 2);
    bytes[bytes.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    bytes[bytes.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
    return bytes;
}

}  // namespace gui_test
