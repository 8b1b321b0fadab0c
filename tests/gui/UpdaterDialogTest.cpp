#include <gtest/gtest.h>

#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/ManualClock.h"
#include "simulator/UmockdevPrinterHost.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/ScriptedPrompter.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/QtResourceModule.h"
#include "updater/UpdaterDialog.h"
#include "updater/UpdaterMessages.h"

using namespace gui_test;

namespace {

const char* const kKestrel200 = "MFG:Orvane;MDL:Kestrel 200;CMD:OPP;VER:1.4.0.0;";
const char* const kHeron10 = "MFG:Orvane;MDL:Heron 10;CMD:OPP;VER:2.0.0.0;";
const char* const kKestrel400 = "MFG:ORVANE;MDL:KESTREL-400;VER:3.0.0.0;";

class UpdaterDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module_.Load(ProgramDir() + "/Reflasher_enu.DLL"));
        dir_ = QString::fromStdString(updater_test::MakeTempDir());
    }

    void AddPrinter(const std::string& deviceId, std::vector<simulator::Fault> faults = {}) {
        simulator::PrinterConfig config;
        config.deviceId = deviceId;
        config.faults = std::move(faults);
        ASSERT_FALSE(host_.AddPrinter(config).empty()) << host_.error();
    }

    // Shows the dialog and waits for its first list of printers.
    void Open() {
        dialog_ = std::make_unique<UpdaterDialog>(module_, &prompter_);
        ASSERT_TRUE(dialog_->HasTemplate());
        dialog_->show();
        ASSERT_TRUE(WaitForPrintersFound(*dialog_));
    }

    QString File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        return QString::fromStdString(updater_test::WriteFile(dir_.toStdString(), name, bytes));
    }

    template <typename T>
    T* Control(int id) const {
        T* control = dialog_->findChild<T*>(QString::number(id));
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    QTreeWidget* List() const { return Control<QTreeWidget>(1003); }
    QPushButton* ChooseButton() const { return Control<QPushButton>(1002); }
    QPushButton* UpdateButton() const { return Control<QPushButton>(1001); }
    QPushButton* ExitButton() const { return Control<QPushButton>(1000); }
    QString Text(int id) const { return Control<QLabel>(id)->text(); }

    std::vector<std::pair<QString, QString>> Rows() const {
        std::vector<std::pair<QString, QString>> rows;
        for (int i = 0; i < List()->topLevelItemCount(); ++i) {
            rows.emplace_back(List()->topLevelItem(i)->text(0), List()->topLevelItem(i)->text(1));
        }
        return rows;
    }

    // Which of list, file button, update button and exit button take input, e.g. "1101".
    std::string Enabled() const {
        std::string enabled;
        for (const QWidget* w :
             {static_cast<QWidget*>(List()), static_cast<QWidget*>(ChooseButton()),
              static_cast<QWidget*>(UpdateButton()), static_cast<QWidget*>(ExitButton())}) {
            enabled += w->isEnabled() ? '1' : '0';
        }
        return enabled;
    }

    void SelectRow(int row) { List()->setCurrentItem(List()->topLevelItem(row)); }

    // Chooses file for the selected printer through the file button.
    void Choose(const QString& file) {
        prompter_.files.push_back(file);
        ChooseButton()->click();
    }

    bool WaitForFinal() {
        return WaitForMessage(*dialog_, [](quint32 message, quintptr code, qintptr) {
            return message == WM_UPDATE_PROGRESS &&
                   (code == kProgressFinished || code == kProgressFinishedReboot);
        });
    }

    QImage ResultIcon() const { return Control<QLabel>(1013)->pixmap().toImage(); }
    QImage StyleIcon(QStyle::StandardPixmap which) const {
        return dialog_->style()->standardIcon(which, nullptr, dialog_.get()).pixmap(32).toImage();
    }

    simulator::UmockdevPrinterHost host_;
    platform::ManualClock clock_{1000};
    platform::ScopedClock scopedClock_{clock_};
    QtResourceModule module_;
    ScriptedPrompter prompter_;
    QString dir_;
    std::unique_ptr<UpdaterDialog> dialog_;  // last, so that it goes first
};

// The test module names Heron 10 (resource 5303) but not Kestrel 200, and counts with "#%d".
TEST_F(UpdaterDialogTest, ListsReadablePrintersWithModuleNamesAndCountersPerModel) {
    ASSERT_TRUE(module_.Load(TEST_MODULE));
    AddPrinter(kHeron10);
    AddPrinter("MFG:Orvane;MDL:Heron 10;CMD:OPP;");  // no firmware version: not listed
    AddPrinter(kKestrel200);
    AddPrinter(kHeron10);
    Open();
    const std::vector<std::pair<QString, QString>> expected = {{"Orvane Heron 10 #1", "2.0.0.0"},
                                                               {"Kestrel 200 #1", "1.4.0.0"},
                                                               {"Orvane Heron 10 #2", "2.0.0.0"}};
    EXPECT_EQ(Rows(), expected);
    EXPECT_EQ(List()->headerItem()->text(0), module_.String(131));
    EXPECT_EQ(List()->headerItem()->text(1), module_.String(130));
    EXPECT_EQ(List()->columnWidth(0), 160);
    EXPECT_EQ(List()->columnWidth(1), 319);

    // Row 0 is selected: a file can be chosen, nothing can be updated yet.
    ASSERT_EQ(List()->selectedItems().size(), 1);
    EXPECT_EQ(List()->selectedItems().first(), List()->topLevelItem(0));
    EXPECT_EQ(Enabled(), "1101");

    EXPECT_EQ(dialog_->windowTitle(), "Orvane Firmware Updater " REFLASHER_VERSION);
    EXPECT_FALSE(dialog_->windowIcon().isNull());
    EXPECT_EQ(Control<QProgressBar>(1018)->maximum(), 100);
    for (int id : {1008, 1011, 1012, 1007}) {
        const QFont font = Control<QLabel>(id)->font();
        EXPECT_EQ(font.pixelSize(), 18) << id;
        EXPECT_EQ(font.weight(), QFont::Bold) << id;
        EXPECT_EQ(font.family(), "Arial") << id;
    }
}

TEST_F(UpdaterDialogTest, EmptyListWithoutPrintersAndExitCloses) {
    Open();
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_EQ(Enabled(), "1001");
    ExitButton()->click();
    QCoreApplication::sendPostedEvents(dialog_.get());  // the close request is posted
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_TRUE(prompter_.shown.empty());
}

TEST_F(UpdaterDialogTest, ChoosingAFileAcceptsOnlyWhatThePrinterTakes) {
    AddPrinter(kHeron10);     // HERON_*.fw, checks the CRC
    AddPrinter(kKestrel400);  // KST4*.bin or KST4*.fwu
    Open();
    std::vector<std::uint8_t> corrupt = FirmwareBytes(2, 1, 1, 0);
    corrupt[10] ^= 0x40;
    Choose(File("HERON_211.fw", corrupt));
    EXPECT_EQ(prompter_.shown, std::vector<QString>{"1016"});
    EXPECT_EQ(prompter_.texts[0], module_.String(1016));
    EXPECT_EQ(Text(1010), "");
    EXPECT_FALSE(UpdateButton()->isEnabled());

    Choose(File("HERON_210.fw", FirmwareBytes(2, 1, 0, 0)));
    EXPECT_EQ(prompter_.shown.size(), 1u);
    EXPECT_EQ(Text(1010), "2.1.0.0");
    EXPECT_EQ(Text(1009), "HERON_210");
    EXPECT_TRUE(UpdateButton()->isEnabled());
    EXPECT_EQ(prompter_.filters.back(), "Firmware Upgrade File (*.fw)||");
    EXPECT_EQ(prompter_.initialNames.back(), "*.fw");

    // A change of selection drops the chosen file.
    SelectRow(1);
    EXPECT_FALSE(UpdateButton()->isEnabled());
    EXPECT_EQ(Text(1010), "");
    prompter_.files = {QString()};
    ChooseButton()->click();
    EXPECT_EQ(prompter_.filters.back(), "Firmware Upgrade File (*.bin;*.fwu)||");
}

TEST_F(UpdaterDialogTest, AFileThatIsNotNewerNeedsAYes) {
    AddPrinter(kHeron10);
    Open();
    const QString same = File("HERON_200.fw", FirmwareBytes(2, 0, 0, 0));

    // Yes: the file is taken.
    prompter_.answers = {QMessageBox::Yes};
    Choose(same);
    EXPECT_EQ(prompter_.shown, std::vector<QString>{"1019"});
    EXPECT_TRUE(prompter_.noIsDefault[0]);
    EXPECT_EQ(Text(1010), "2.0.0.0");
    EXPECT_EQ(Text(1009), "HERON_200");
    EXPECT_TRUE(UpdateButton()->isEnabled());

    // No: the file dialog comes again; cancelling it leaves no file, not even the earlier one.
    prompter_.answers = {QMessageBox::No};
    prompter_.files = {File("HERON_190.fw", FirmwareBytes(1, 9, 0, 0)), QString()};
    ChooseButton()->click();
    EXPECT_EQ(prompter_.files.size(), 0u);
    EXPECT_EQ(prompter_.shown, (std::vector<QString>{"1019", "1019"}));
    EXPECT_EQ(Text(1010), "");
    EXPECT_EQ(Text(1009), "");
    EXPECT_FALSE(UpdateButton()->isEnabled());
}

// Close, Escape and both Enter keys are refused while an update runs; afterwards Escape closes.
TEST_F(UpdaterDialogTest, ASuccessfulUpdateReportsAndFindsThePrintersAgain) {
    const struct {
        const char* name;
        const char* deviceId;
        const char* fileName;
        std::vector<std::uint8_t> bytes;
        int stringId;
    } cases[] = {
        {"no reboot", kHeron10, "HERON_210.fw", FirmwareBytes(2, 1, 0, 0, 9000), 103},
        {"reboot", kKestrel200, "KST2_150.bin", FirmwareBytes(1, 5, 0, 0, 9000), 101},
    };
    for (const auto& c : cases) {
        AddPrinter(c.deviceId);
    }
    Open();
    ASSERT_EQ(List()->topLevelItemCount(), 2);
    for (int i = 0; i < 2; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        SelectRow(i);
        Choose(File(c.fileName, c.bytes));
        prompter_.shown.clear();
        UpdateButton()->click();
        ASSERT_EQ(prompter_.shown, std::vector<QString>{"135"});

        // Until the final message everything is locked; no events are handled in between, so
        // it cannot have arrived yet.
        EXPECT_EQ(Enabled(), "0000");
        EXPECT_FALSE(dialog_->close());
        QTest::keyClick(dialog_.get(), Qt::Key_Escape);
        QTest::keyClick(dialog_.get(), Qt::Key_Return);
        QTest::keyClick(dialog_.get(), Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(prompter_.shown, (std::vector<QString>{"135", "1017", "1017", "1017", "1017"}));
        EXPECT_EQ(prompter_.texts.back(), module_.String(1017));

        ASSERT_TRUE(WaitForFinal());
        EXPECT_TRUE(Control<QLabel>(1013)->isVisible());
        EXPECT_EQ(ResultIcon(), StyleIcon(QStyle::SP_MessageBoxInformation));
        EXPECT_EQ(Text(1014), module_.String(c.stringId));
        EXPECT_EQ(Control<QProgressBar>(1018)->value(), 100);
        // The old rows are gone until discovery has found the printers again.
        EXPECT_EQ(List()->topLevelItemCount(), 0);
        EXPECT_EQ(Enabled(), "1001");

        ASSERT_TRUE(WaitForPrintersFound(*dialog_));
        ASSERT_EQ(List()->topLevelItemCount(), 2);
        EXPECT_EQ(Text(1010), "");
        EXPECT_FALSE(UpdateButton()->isEnabled());
        EXPECT_EQ(host_.Printer(i).GetOutcome(), simulator::Outcome::kFlashed);
    }
    // The printers report their new firmware.
    EXPECT_EQ(List()->topLevelItem(0)->text(1), "2.1.0.0");
    EXPECT_EQ(List()->topLevelItem(1)->text(1), "1.5.0.0");
    EXPECT_TRUE(dialog_->isVisible());
    prompter_.shown.clear();
    QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    EXPECT_TRUE(prompter_.shown.empty());
    EXPECT_FALSE(dialog_->isVisible());
}

// Enter clicks the focused button and closes the window elsewhere. An update that was asked for
// runs only once confirmed, and a failed one keeps the file for another try.
TEST_F(UpdaterDialogTest, EnterKeysConfirmationAndAFailureThatKeepsTheFile) {
    simulator::Fault fault;
    fault.kind = simulator::FaultKind::kWriteError;
    fault.command = "ImageInfoCommand";
    AddPrinter(kHeron10, {fault});
    Open();
    const std::pair<Qt::Key, Qt::KeyboardModifier> enterKeys[] = {
        {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}};
    for (const auto& [key, modifier] : enterKeys) {
        // The file button opens the file dialog (cancelled here) and the window stays.
        prompter_.files = {QString()};
        ChooseButton()->setFocus();
        QTest::keyClick(ChooseButton(), key, modifier);
        EXPECT_TRUE(prompter_.files.empty()) << key;
        QCoreApplication::sendPostedEvents(dialog_.get());
        EXPECT_TRUE(dialog_->isVisible());
    }
    Choose(File("HERON_210.fw", FirmwareBytes(2, 1, 0, 0)));
    prompter_.answers = {QDialog::Rejected};
    UpdateButton()->setFocus();
    QTest::keyClick(UpdateButton(), Qt::Key_Return);
    EXPECT_EQ(prompter_.shown, std::vector<QString>{"135"});
    EXPECT_EQ(Enabled(), "1111");
    EXPECT_TRUE(host_.Printer(0).Transcript()["commands"].empty());

    UpdateButton()->click();
    ASSERT_TRUE(WaitForFinal());
    EXPECT_TRUE(Control<QLabel>(1013)->isVisible());
    EXPECT_EQ(ResultIcon(), StyleIcon(QStyle::SP_MessageBoxCritical));
    EXPECT_EQ(Text(1014), module_.String(102));
    // No rediscovery: the row and the file stay, and the update can be tried again.
    EXPECT_EQ(List()->topLevelItemCount(), 1);
    EXPECT_EQ(Text(1010), "2.1.0.0");
    EXPECT_EQ(Enabled(), "1111");

    // On the list Enter closes the window.
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Return);
    QCoreApplication::sendPostedEvents(dialog_.get());
    EXPECT_FALSE(dialog_->isVisible());
}

TEST_F(UpdaterDialogTest, ProgressFollowsTheBytesAndIgnoresAZeroTotal) {
    Open();
    auto* bar = Control<QProgressBar>(1018);
    // Posted in order, each with the bar's value after it (-1: not looked at). Bytes before a
    // total, or against a total of 0, leave the bar alone; 64 MiB must not overflow.
    const std::tuple<std::uintptr_t, std::intptr_t, int> posts[] = {
        {kProgressBytesSent, 50, 0},        {kProgressTotalSize, 0, -1},
        {kProgressBytesSent, 50, 0},        {kProgressStarted, 0, -1},
        {kProgressTotalSize, 8192, -1},     {kProgressBytesSent, 4096, 50},
        {kProgressBytesSent, 8191, 99},     {kProgressTotalSize, 64 << 20, -1},
        {kProgressBytesSent, 48 << 20, 75}, {7, 1, 75},  // an unknown code
    };
    for (const auto& [code, value, percent] : posts) {
        dialog_->Post(WM_UPDATE_PROGRESS, code, value);
        QCoreApplication::sendPostedEvents(dialog_.get());
        if (percent >= 0) {
            EXPECT_EQ(bar->value(), percent) << code << " " << value;
        }
    }
    EXPECT_EQ(Text(1014), module_.String(100));
}

}  // namespace
