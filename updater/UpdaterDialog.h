#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <cstdint>
#include <memory>

#include "platform/MessageTarget.h"
#include "updater/DiscoveryWorker.h"
#include "updater/FirmwareImage.h"
#include "updater/UpdateWorker.h"

class AttachedPrinter;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QtDialogPrompter;
class QtPrompter;
class QtResourceModule;

// The updater's window: lists the attached printers, checks a chosen firmware file and runs the
// update on UpdateWorker with a progress bar. Built from template 102 of the language module;
// controls are found by their resource ids. Owns both workers and the chosen image.
//
// Threading: every handler runs on the GUI thread. The workers reach the dialog only through
// Post, which may be called from any thread. No handler throws.
class UpdaterDialog : public QDialog, public platform::MessageTarget {
    Q_OBJECT

public:
    // resources is the language module, used for every text, template and icon; it must outlive
    // the dialog. prompter answers file choice and modal dialogs; null means the real dialogs.
    explicit UpdaterDialog(const QtResourceModule& resources, QtPrompter* prompter = nullptr,
                           QWidget* parent = nullptr);
    // Stops both workers (1000 ms each) before the image and the printers go away.
    ~UpdaterDialog() override;

    // Whether template 102 was instantiated. Without it the dialog must not be shown.
    bool HasTemplate() const { return form_ != nullptr; }

    void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // "%d" (also "%i", "%u") in format replaced by counter, "%%" by "%"; everything else as is.
    static QString FormatCounter(const QString& format, int counter);

signals:
    // Emitted after WM_PRINTERS_FOUND or WM_UPDATE_PROGRESS has been handled.
    void windowMessageHandled(quint32 message, quintptr wParam, qintptr lParam);

public slots:
    // Escape, Enter and the window's close all go through the close handling, so that none of
    // them can end the dialog while an update uses its image and printer. Enter on a focused
    // push button clicks that button instead.
    void accept() override;
    void reject() override;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnInitDialog();
    void OnPrintersFound();
    void OnUpdateProgress(std::uintptr_t code, std::intptr_t value);
    void OnChooseFile();
    void OnUpdate();
    void OnListItemChanged();
    void OnClose();

    void StartDiscovery();
    void SetControlStates();
    void RefreshDisplay();
    void DiscardImage();
    AttachedPrinter* SelectedPrinter() const;
    int ShowMessage(std::uint32_t id, QMessageBox::StandardButtons buttons,
                    QMessageBox::StandardButton defaultButton);
    void SetResultIcon(QMessageBox::Icon icon);
    static bool ReadProductVersion(QString& version);

    const QtResourceModule& resources_;
    std::unique_ptr<QtDialogPrompter> ownPrompter_;
    QtPrompter* prompter_;

    QWidget* form_ = nullptr;
    QTreeWidget* printerList_ = nullptr;   // 1003
    QPushButton* chooseButton_ = nullptr;  // 1002
    QPushButton* updateButton_ = nullptr;  // 1001
    QPushButton* exitButton_ = nullptr;    // 1000
    QProgressBar* progress_ = nullptr;     // 1018
    QLabel* resultIcon_ = nullptr;         // 1013
    QLabel* statusText_ = nullptr;         // 1014
    QLabel* versionText_ = nullptr;        // 1010
    QLabel* titleText_ = nullptr;          // 1009

    QString status_;
    QString version_;
    QString title_;
    bool initialized_ = false;
    // Set from the start of a discovery run until its WM_PRINTERS_FOUND: the printers behind
    // any old rows are being destroyed, so the list is empty and file and update stay disabled.
    bool awaitingPrinters_ = false;
    std::uint32_t total_ = 0;

    // Declared before the workers so that they stop before the image goes.
    std::unique_ptr<FirmwareImage> image_;
    DiscoveryWorker discovery_;
    UpdateWorker update_;
};
