#include <gtest/gtest.h>

#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTreeWidget>
#include <memory>

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
        for (int id : {1003, 1002, 1001, 1000}) {
            enabled += Control<QWidget>(id)->isEnabled() ? '1' : '0';
        }
        return enabled;
    }

    // Version and title of the chosen file, and whether it can be sent: "2.1.0.0|HERON_210|1".
    QString FileState() const {
        return Text(1010) + "|" + Text(1009) + "|" + (UpdateButton()->isEnabled() ? "1" : "0");
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

    // The result line shows and carries the style's icon which and string stringId.
    void ExpectResult(QStyle::StandardPixmap which, std::uint32_t stringId) const {
        EXPECT_TRUE(Control<QLabel>(1013)->isVisible());
        EXPECT_EQ(
            Control<QLabel>(1013)->pixmap().toImage(),
            dialog_->style()->standardIcon(which, nullptr, dialog_.get()).pixmap(32).toImage());
        EXPECT_EQ(Text(1014), module_.String(stringId));
    }

    void ExpectClosedAfter(QWidget* target, Qt::Key key) {
        target->setFocus();
        QTest::keyClick(target, key);
        QCoreApplication::sendPostedEvents(dialog_.get());  // the close request is posted
        EXPECT_FALSE(dialog_->isVisible());
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
    EXPECT_EQ(List()->headerItem()->text(0) + List()->headerItem()->text(1),
              module_.String(131) + module_.String(130));
    EXPECT_EQ(std::make_pair(List()->columnWidth(0), List()->columnWidth(1)),
              std::make_pair(160, 319));
    // Row 0 is selected: a file can be chosen, nothing can be updated yet.
    EXPECT_EQ(List()->selectedItems(), QList<QTreeWidgetItem*>{List()->topLevelItem(0)});
    EXPECT_EQ(Enabled(), "1101");

    EXPECT_EQ(dialog_->windowTitle(), "Orvane Firmware Updater " REFLASHER_VERSION);
    EXPECT_FALSE(dialog_->windowIcon().isNull());
    EXPECT_EQ(Control<QProgressBar>(1018)->maximum(), 100);
    for (int id : {1008, 1011, 1012, 1007}) {
        const QFont font = Control<QLabel>(id)->font();
        EXPECT_EQ(std::make_tuple(font.pixelSize(), font.weight(), font.family()),
                  std::make_tuple(18, QFont::Bold, QString("Arial")))
            << id;
    }
}

TEST_F(UpdaterDialogTest, ChoosingAFileAcceptsOnlyWhatThePrinterTakes) {
    AddPrinter(kHeron10);     // HERON_*.fw, checks the CRC
    AddPrinter(kKestrel400);  // KST4*.bin or KST4*.fwu
    Open();
    std::vector<std::uint8_t> corrupt = FirmwareBytes(2, 1, 1, 0);
    corrupt[10] ^= 0x40;
    Choose(File("HERON_211.fw", corrupt));
    EXPECT_EQ(prompter_.shown, std::vector<QString>{"1016"});
    EXPECT_EQ(prompter_.texts, std::vector<QString>{module_.String(1016)});
    EXPECT_EQ(FileState(), "||0");

    Choose(File("HERON_210.fw", FirmwareBytes(2, 1, 0, 0)));
    EXPECT_EQ(prompter_.shown.size(), 1u);
    EXPECT_EQ(FileState(), "2.1.0.0|HERON_210|1");
    EXPECT_EQ(prompter_.fileDialogs.back(), "Firmware Upgrade File (*.fw)|| *.fw");

    // A change of selection drops the chosen file.
    SelectRow(1);
    EXPECT_EQ(FileState(), "||0");
    Choose(QString());
    EXPECT_EQ(prompter_.fileDialogs.back(), "Firmware Upgrade File (*.bin;*.fwu)|| *.bin;*.fwu");

    // A file that is not newer needs a Yes.
    SelectRow(0);
    prompter_.shown.clear();
    prompter_.answers = {QMessageBox::Yes};
    Choose(File("HERON_200.fw", FirmwareBytes(2, 0, 0, 0)));
    EXPECT_EQ(prompter_.shown, std::vector<QString>{"1019"});
    EXPECT_TRUE(prompter_.noIsDefault.back());
    EXPECT_EQ(FileState(), "2.0.0.0|HERON_200|1");

    // No: the file dialog comes again; cancelling it leaves no file, not even the earlier one.
    prompter_.answers = {QMessageBox::No};
    prompter_.files = {File("HERON_190.fw", FirmwareBytes(1, 9, 0, 0)), QString()};
    ChooseButton()->click();
    EXPECT_EQ(prompter_.files.size(), 0u);
    EXPECT_EQ(prompter_.shown, (std::vector<QString>{"1019", "1019"}));
    EXPECT_EQ(FileState(), "||0");
}

// Close, Escape and both Enter keys are refused while an update runs; afterwards Escape closes.
TEST_F(UpdaterDialogTest, ASuccessfulUpdateReportsAndFindsThePrintersAgain) {
    // Heron 10 without a reboot, Kestrel 200 with one.
    const std::tuple<const char*, int, int, int> cases[] = {{"HERON_210.fw", 2, 1, 103},
                                                            {"KST2_150.bin", 1, 5, 101}};
    AddPrinter(kHeron10);
    AddPrinter(kKestrel200);
    Open();
    ASSERT_EQ(List()->topLevelItemCount(), 2);
    for (int i = 0; i < 2; ++i) {
        const auto& [fileName, major, minor, stringId] = cases[i];
        SCOPED_TRACE(fileName);
        SelectRow(i);
        Choose(File(fileName, FirmwareBytes(major, minor, 0, 0, 9000)));
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
        ExpectResult(QStyle::SP_MessageBoxInformation, stringId);
        EXPECT_EQ(Control<QProgressBar>(1018)->value(), 100);
        // The old rows are gone until discovery has found the printers again.
        EXPECT_EQ(List()->topLevelItemCount(), 0);
        EXPECT_EQ(Enabled(), "1001");

        ASSERT_TRUE(WaitForPrintersFound(*dialog_));
        ASSERT_EQ(List()->topLevelItemCount(), 2);
        EXPECT_EQ(FileState(), "||0");
        EXPECT_EQ(host_.Printer(i).GetOutcome(), simulator::Outcome::kFlashed);
    }
    // The printers report their new firmware.
    EXPECT_EQ(List()->topLevelItem(0)->text(1) + List()->topLevelItem(1)->text(1),
              "2.1.0.01.5.0.0");
    EXPECT_TRUE(dialog_->isVisible());
    prompter_.shown.clear();
    ExpectClosedAfter(dialog_.get(), Qt::Key_Escape);
    EXPECT_TRUE(prompter_.shown.empty());
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
    ExpectResult(QStyle::SP_MessageBoxCritical, 102);
    // No rediscovery: the row and the file stay, and the update can be tried again.
    EXPECT_EQ(List()->topLevelItemCount(), 1);
    EXPECT_EQ(Text(1010), "2.1.0.0");
    EXPECT_EQ(Enabled(), "1111");
    ExpectClosedAfter(List(), Qt::Key_Return);  // on the list Enter closes the window
}

TEST_F(UpdaterDialogTest, WithoutPrintersProgressFollowsTheBytesAndExitCloses) {
    Open();
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_EQ(Enabled(), "1001");
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

    Control<QPushButton>(1000)->click();
    QCoreApplication::sendPostedEvents(dialog_.get());  // the close request is posted
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_TRUE(prompter_.shown.empty());
}

}  // namespace
