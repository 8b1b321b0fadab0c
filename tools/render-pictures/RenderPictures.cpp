// Renders the updater window offscreen for the README, with simulated printers:
//   gui_render_pictures OUTPUT_DIR [LANGUAGE]     (LANGUAGE: enu, deu, rus, ...; default enu)
// Writes updater-<language>-printers.png, -updating.png (about half way) and -done.png.
// Runs with the emulation's preload libraries, which let the process emulate the printers itself.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <clocale>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "platform/ManualClock.h"
#include "simulator/UmockdevPrinterHost.h"
// The tests' way of driving the window, which the pictures show in the same states.
#include "tests/gui/GuiTestSupport.h"
#include "updater/FirmwareImage.h"
#include "updater/QtPrompter.h"
#include "updater/QtResourceModule.h"
#include "updater/UpdaterApp.h"
#include "updater/UpdaterDialog.h"
#include "updater/UpdaterMessages.h"

namespace {

// Hands out one file and accepts every dialog.
class FixedPrompter : public QtPrompter {
public:
    QString file;
    bool GetOpenFileName(QWidget*, const QString&, const QString&, QString& path) override {
        path = file;
        return true;
    }
    int Exec(QDialog&) override { return QDialog::Accepted; }
};

bool AddPrinter(simulator::UmockdevPrinterHost& host, const char* deviceId) {
    simulator::PrinterConfig config;
    config.deviceId = deviceId;
    if (host.AddPrinter(config).empty()) {
        std::fprintf(stderr, "cannot add printer: %s\n", host.error().c_str());
        return false;
    }
    return true;
}

bool Save(UpdaterDialog& dialog, const QString& path) {
    if (!dialog.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    QApplication application(argc, argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: gui_render_pictures OUTPUT_DIR [LANGUAGE]\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString language = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("enu");
    const QString prefix = outDir + QStringLiteral("/updater-") + language;
    QDir().mkpath(outDir);

    platform::ManualClock clock(1000);
    platform::ScopedClock scopedClock(clock);
    simulator::UmockdevPrinterHost host;
    if (!AddPrinter(host, "MFG:Orvane;MDL:Kestrel 200;VER:1.4.0.0;") ||
        !AddPrinter(host, "MFG:Orvane;MDL:Kestrel 200;VER:1.5.0.0;") ||
        !AddPrinter(host, "MFG:Orvane;MDL:Heron 10;VER:2.0.0.0;")) {
        return 1;
    }

    QtResourceModule module;
    if (!module.Load(QCoreApplication::applicationDirPath() + QStringLiteral("/Reflasher_") +
                     language + QStringLiteral(".DLL"))) {
        std::fprintf(stderr, "no language module %s\n", qPrintable(language));
        return 1;
    }
    const std::string firmware = QDir::tempPath().toStdString() + "/HERON_210.fw";
    {
        const std::vector<std::uint8_t> bytes = gui_test::FirmwareBytes(2, 1, 0, 0, 200000);
        std::ofstream(firmware, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    FixedPrompter prompter;
    prompter.file = QString::fromStdString(firmware);

    UpdaterApp::SetDialogColours();
    UpdaterDialog dialog(module, &prompter);
    if (!dialog.HasTemplate()) {
        return 1;
    }
    dialog.show();
    if (!gui_test::WaitForPrintersFound(dialog) || !Save(dialog, prefix + "-printers.png")) {
        return 1;
    }

    auto* list = dialog.findChild<QTreeWidget*>(QStringLiteral("1003"));
    list->setCurrentItem(list->topLevelItem(2));
    dialog.findChild<QPushButton*>(QStringLiteral("1002"))->click();

    // The picture of the running update is taken while the handler of the first progress
    // message past half way has just updated the bar.
    bool halfSaved = false;
    std::uint32_t total = 0;
    QObject::connect(&dialog, &UpdaterDialog::windowMessageHandled,
                     [&](quint32 message, quintptr code, qintptr value) {
                         if (message != WM_UPDATE_PROGRESS) {
                             return;
                         }
                         if (code == kProgressTotalSize) {
                             total = static_cast<std::uint32_t>(value);
                         } else if (code == kProgressBytesSent && !halfSaved && total != 0 &&
                                    static_cast<std::uint64_t>(value) * 2 >= total) {
                             halfSaved = Save(dialog, prefix + "-updating.png");
                         }
                     });
    dialog.findChild<QPushButton*>(QStringLiteral("1001"))->click();
    const bool finished =
        gui_test::WaitForMessage(dialog, [](quint32 message, quintptr code, qintptr) {
            return message == WM_UPDATE_PROGRESS &&
                   (code == kProgressFinished || code == kProgressFinishedReboot);
        });
    if (!finished || !halfSaved || !gui_test::WaitForPrintersFound(dialog)) {
        std::fprintf(stderr, "the update did not run to its end\n");
        return 1;
    }
    list->setCurrentItem(list->topLevelItem(2));
    if (!Save(dialog, prefix + "-done.png")) {
        return 1;
    }
    std::remove(firmware.c_str());
    return 0;
}
