#include "updater/UpdaterDialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "updater/AttachedPrinter.h"
#include "updater/FirmwareFileCheck.h"
#include "updater/PrinterListing.h"
#include "updater/QtDialogPrompter.h"
#include "updater/QtResourceModule.h"
#include "updater/QtWindowMessage.h"
#include "updater/UpdaterMessages.h"

namespace {

// Resource ids of the controls of template 102.
constexpr std::uint32_t kTemplateDialog = 102;
constexpr std::uint32_t kTemplateConfirm = 135;
constexpr std::uint32_t kIconApp = 128;
constexpr std::uint32_t kButtonExit = 1000;
constexpr std::uint32_t kButtonUpdate = 1001;
constexpr std::uint32_t kButtonChoose = 1002;
constexpr std::uint32_t kListPrinters = 1003;
constexpr std::uint32_t kLabels[] = {1008, 1011, 1012, 1007};
constexpr std::uint32_t kTextTitle = 1009;
constexpr std::uint32_t kTextVersion = 1010;
constexpr std::uint32_t kResultIcon = 1013;
constexpr std::uint32_t kTextStatus = 1014;
constexpr std::uint32_t kProgress = 1018;

// String ids.
constexpr std::uint32_t kStringUpdating = 100;
constexpr std::uint32_t kStringDoneReboot = 101;
constexpr std::uint32_t kStringFailed = 102;
constexpr std::uint32_t kStringDone = 103;
constexpr std::uint32_t kStringColumnVersion = 130;
constexpr std::uint32_t kStringColumnModel = 131;
constexpr std::uint32_t kStringFileUnusable = 1016;
constexpr std::uint32_t kStringUpdateRunning = 1017;
constexpr std::uint32_t kStringCounter = 1018;
constexpr std::uint32_t kStringNotNewer = 1019;
// Button texts of the message boxes, under the ids of the buttons they stand for.
constexpr std::uint32_t kStringOk = 1;
constexpr std::uint32_t kStringYes = 6;
constexpr std::uint32_t kStringNo = 7;

constexpr std::uint32_t kStopTimeoutMs = 1000;
constexpr int kIconSize = 32;

template <typename T>
T* FindControl(QWidget* form, std::uint32_t id) {
    return form == nullptr ? nullptr : form->findChild<T*>(QString::number(id));
}

QString Widen(const std::string& narrow) {
    return QString::fromLocal8Bit(narrow);
}

}  // namespace

UpdaterDialog::UpdaterDialog(const QtResourceModule& resources, QtPrompter* prompter,
                             QWidget* parent)
    : QDialog(parent), resources_(resources), prompter_(prompter) {
    if (prompter_ == nullptr) {
        ownPrompter_ = std::make_unique<QtDialogPrompter>();
        prompter_ = ownPrompter_.get();
    }
    form_ = resources_.LoadTemplate(kTemplateDialog, this);
    if (form_ == nullptr) {
        return;
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(form_);
    setWindowTitle(form_->windowTitle());
    resize(form_->size());

    printerList_ = FindControl<QTreeWidget>(form_, kListPrinters);
    chooseButton_ = FindControl<QPushButton>(form_, kButtonChoose);
    updateButton_ = FindControl<QPushButton>(form_, kButtonUpdate);
    exitButton_ = FindControl<QPushButton>(form_, kButtonExit);
    progress_ = FindControl<QProgressBar>(form_, kProgress);
    resultIcon_ = FindControl<QLabel>(form_, kResultIcon);
    statusText_ = FindControl<QLabel>(form_, kTextStatus);
    versionText_ = FindControl<QLabel>(form_, kTextVersion);
    titleText_ = FindControl<QLabel>(form_, kTextTitle);
    if (printerList_ == nullptr || chooseButton_ == nullptr || updateButton_ == nullptr ||
        exitButton_ == nullptr || progress_ == nullptr || resultIcon_ == nullptr ||
        statusText_ == nullptr || versionText_ == nullptr || titleText_ == nullptr) {
        // A template without the controls is as good as none.
        delete form_;
        form_ = nullptr;
        return;
    }

    connect(chooseButton_, &QPushButton::clicked, this, &UpdaterDialog::OnChooseFile);
    connect(updateButton_, &QPushButton::clicked, this, &UpdaterDialog::OnUpdate);
    // The exit button asks for a close later, as a posted close request would.
    connect(exitButton_, &QPushButton::clicked, this,
            [this] { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); });
    connect(printerList_, &QTreeWidget::itemSelectionChanged, this,
            &UpdaterDialog::OnListItemChanged);
}

UpdaterDialog::~UpdaterDialog() {
    update_.Stop(kStopTimeoutMs);
    discovery_.Stop(kStopTimeoutMs);
}

void UpdaterDialog::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    QCoreApplication::postEvent(this, new QtWindowMessage(message, wParam, lParam));
}

QString UpdaterDialog::FormatCounter(const QString& format, int counter) {
    QString text;
    bool substituted = false;
    for (int i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != QLatin1Char('%') || i + 1 >= format.size()) {
            text += c;
            continue;
        }
        const QChar next = format.at(i + 1);
        if (next == QLatin1Char('%')) {
            text += QLatin1Char('%');
            ++i;
        } else if (!substituted && (next == QLatin1Char('d') || next == QLatin1Char('i') ||
                                    next == QLatin1Char('u'))) {
            text += QString::number(counter);
            substituted = true;
            ++i;
        } else {
            text += c;
        }
    }
    return text;
}

bool UpdaterDialog::event(QEvent* event) {
    const auto type = static_cast<std::uint32_t>(event->type());
    if (type == WM_PRINTERS_FOUND || type == WM_UPDATE_PROGRESS) {
        auto* message = dynamic_cast<QtWindowMessage*>(event);
        if (message == nullptr) {
            return QDialog::event(event);
        }
        if (HasTemplate()) {
            if (type == WM_PRINTERS_FOUND) {
                OnPrintersFound();
            } else {
                OnUpdateProgress(message->wParam(), message->lParam());
            }
        }
        emit windowMessageHandled(type, message->wParam(), message->lParam());
        return true;
    }
    return QDialog::event(event);
}

void UpdaterDialog::showEvent(QShowEvent* event) {
    if (!initialized_ && HasTemplate()) {
        initialized_ = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void UpdaterDialog::OnInitDialog() {
    setWindowIcon(resources_.LoadIcon(kIconApp));

    discovery_.SetWindow(this);
    StartDiscovery();

    QFont labelFont(QStringLiteral("Arial"));
    labelFont.setStyleHint(QFont::SansSerif);  // the swiss family where Arial is missing
    labelFont.setPixelSize(18);
    labelFont.setWeight(QFont::Bold);
    for (std::uint32_t id : kLabels) {
        if (auto* label = FindControl<QLabel>(form_, id)) {
            label->setFont(labelFont);
        }
    }

    printerList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    printerList_->setColumnCount(2);
    printerList_->setHeaderLabels(
        {resources_.String(kStringColumnModel), resources_.String(kStringColumnVersion)});
    printerList_->headerItem()->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    printerList_->headerItem()->setTextAlignment(1, Qt::AlignLeft | Qt::AlignVCenter);
    printerList_->header()->setStretchLastSection(false);
    printerList_->setColumnWidth(0, 160);
    printerList_->setColumnWidth(1, 319);

    SetControlStates();

    QString version;
    if (ReadProductVersion(version)) {
        setWindowTitle(windowTitle() + QLatin1Char(' ') + version);
    }
    progress_->setRange(0, 100);
}

bool UpdaterDialog::ReadProductVersion(QString& version) {
    // Reflasher.dll beside the program carries the product version under the same path as a
    // Windows version resource.
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/Reflasher.dll");
    QtResourceModule file;
    QByteArray text;
    if (!file.Load(path) ||
        !file.ReadFile(QStringLiteral("StringFileInfo/040904B0/FileVersion"), text)) {
        return false;
    }
    version = QString::fromUtf8(text).trimmed();
    return !version.isEmpty();
}

void UpdaterDialog::StartDiscovery() {
    awaitingPrinters_ = true;
    try {
        discovery_.Start();
    } catch (...) {
        // A worker that cannot start posts nothing; the list stays empty.
        awaitingPrinters_ = false;
    }
}

void UpdaterDialog::OnPrintersFound() {
    awaitingPrinters_ = false;
    const QString counterFormat = resources_.String(kStringCounter);
    {
        // Filling the list is one change: the selection of row 0 below reports it once.
        const QSignalBlocker blocker(printerList_);
        printerList_->clear();
        for (const ListedPrinter& listed : ListPrinters(discovery_.GetPrinters())) {
            QString model;
            if (listed.modelId < 0 ||
                !resources_.LoadString(static_cast<std::uint32_t>(listed.modelId), model)) {
                model = Widen(listed.shortName);
            }
            auto* row = new QTreeWidgetItem(printerList_);
            row->setText(0,
                         FormatCounter(model + QLatin1Char(' ') + counterFormat, listed.counter));
            row->setText(1, Widen(listed.firmwareVersion));
            row->setData(0, Qt::UserRole,
                         QVariant::fromValue(reinterpret_cast<quintptr>(listed.printer)));
        }
    }
    if (printerList_->topLevelItemCount() > 0) {
        printerList_->setCurrentItem(printerList_->topLevelItem(0));
    } else {
        OnListItemChanged();
    }
    SetControlStates();
}

void UpdaterDialog::OnUpdateProgress(std::uintptr_t code, std::intptr_t value) {
    switch (code) {
        case kProgressStarted:
            status_ = resources_.String(kStringUpdating);
            break;
        case kProgressNotStarted:
            SetResultIcon(QMessageBox::Critical);
            status_ = resources_.String(kStringFailed);
            // The run has ended by itself; collect the thread so that the controls come back.
            update_.Stop(kStopTimeoutMs);
            break;
        case kProgressFinished:
        case kProgressFinishedReboot:
            resultIcon_->show();
            if (value == 1) {
                SetResultIcon(QMessageBox::Information);
                status_ =
                    resources_.String(code == kProgressFinished ? kStringDone : kStringDoneReboot);
                // The new run destroys the printers behind the rows: drop the rows first.
                printerList_->clear();
                OnListItemChanged();
                discovery_.SetWindow(this);
                StartDiscovery();
            } else {
                SetResultIcon(QMessageBox::Critical);
                status_ = resources_.String(kStringFailed);
            }
            update_.Stop(kStopTimeoutMs);
            break;
        case kProgressTotalSize:
            total_ = static_cast<std::uint32_t>(value);
            break;
        case kProgressBytesSent:
            if (total_ != 0) {
                // 64-bit product: files beyond 21 MB would overflow 32 bits.
                const auto sent = static_cast<std::int64_t>(static_cast<std::int32_t>(value));
                const auto total = static_cast<std::int64_t>(static_cast<std::int32_t>(total_));
                progress_->setValue(static_cast<int>(sent * 100 / total));
            }
            break;
        default:
            break;
    }
    SetControlStates();
    RefreshDisplay();
}

void UpdaterDialog::SetResultIcon(QMessageBox::Icon icon) {
    const QStyle::StandardPixmap pixmap = icon == QMessageBox::Information
                                              ? QStyle::SP_MessageBoxInformation
                                              : QStyle::SP_MessageBoxCritical;
    resultIcon_->setPixmap(style()->standardIcon(pixmap, nullptr, this).pixmap(kIconSize));
}

AttachedPrinter* UpdaterDialog::SelectedPrinter() const {
    const QList<QTreeWidgetItem*> selected = printerList_->selectedItems();
    if (selected.isEmpty()) {
        return nullptr;
    }
    return reinterpret_cast<AttachedPrinter*>(
        selected.first()->data(0, Qt::UserRole).value<quintptr>());
}

void UpdaterDialog::OnChooseFile() {
    for (;;) {
        AttachedPrinter* printer = SelectedPrinter();
        if (printer == nullptr) {
            return;
        }
        std::vector<std::string> extensions;
        if (!printer->GetFirmwareExtensions(extensions) || extensions.empty()) {
            return;
        }
        QStringList patterns;
        for (const std::string& extension : extensions) {
            patterns << QStringLiteral("*.") + Widen(extension);
        }
        const QString patternList = patterns.join(QLatin1Char(';'));
        const QString filter =
            QStringLiteral("Firmware Upgrade File (") + patternList + QStringLiteral(")||");
        QString path;
        if (!prompter_->GetOpenFileName(this, filter, patternList, path)) {
            return;
        }

        FirmwareFileCheck check = CheckFirmwareFile(
            *printer, path.toStdWString(), path.section(QLatin1Char('/'), -1).toStdWString());
        if (check.loaded) {
            image_ = std::move(check.image);
            version_ = QString::fromStdWString(check.version);
            if (check.notNewer) {
                const int answer = ShowMessage(kStringNotNewer, QMessageBox::Yes | QMessageBox::No,
                                               QMessageBox::No);
                if (answer != QMessageBox::Yes) {
                    DiscardImage();
                    RefreshDisplay();
                    SetControlStates();
                    continue;  // choose again
                }
            }
            if (check.titled) {
                title_ = QString::fromStdWString(check.title);
            }
        }
        const bool usable = check.Usable();
        if (!usable) {
            ShowMessage(kStringFileUnusable, QMessageBox::Ok, QMessageBox::Ok);
            if (image_) {
                DiscardImage();
            }
        }
        RefreshDisplay();
        SetControlStates();
        return;
    }
}

void UpdaterDialog::OnUpdate() {
    std::unique_ptr<QWidget> form(resources_.LoadTemplate(kTemplateConfirm, this));
    auto* confirm = qobject_cast<QDialog*>(form.get());
    if (confirm == nullptr || prompter_->Exec(*confirm) != QDialog::Accepted) {
        return;
    }
    AttachedPrinter* printer = SelectedPrinter();
    if (printer == nullptr || !image_) {
        return;
    }
    update_.SetWindow(this);
    update_.SetPrinter(printer);
    update_.SetImage(image_.get());
    resultIcon_->hide();
    progress_->setValue(0);
    try {
        update_.Start();
    } catch (...) {
        // Not started: the controls stay as they are.
    }
    SetControlStates();
}

void UpdaterDialog::OnListItemChanged() {
    if (image_) {
        DiscardImage();
    }
    SetControlStates();
    RefreshDisplay();
}

void UpdaterDialog::DiscardImage() {
    version_.clear();
    title_.clear();
    image_.reset();
}

void UpdaterDialog::SetControlStates() {
    if (!HasTemplate()) {
        return;
    }
    const bool updating = update_.IsStarted();
    printerList_->setEnabled(!updating);
    exitButton_->setEnabled(!updating);
    chooseButton_->setEnabled(!updating && !awaitingPrinters_ &&
                              !printerList_->selectedItems().isEmpty());
    updateButton_->setEnabled(!updating && !awaitingPrinters_ && image_ != nullptr);
}

void UpdaterDialog::RefreshDisplay() {
    statusText_->setText(status_);
    versionText_->setText(version_);
    titleText_->setText(title_);
}

int UpdaterDialog::ShowMessage(std::uint32_t id, QMessageBox::StandardButtons buttons,
                               QMessageBox::StandardButton defaultButton) {
    QMessageBox box(QMessageBox::Warning, windowTitle(), resources_.String(id), buttons, this);
    box.setObjectName(QString::number(id));
    const std::pair<QMessageBox::StandardButton, std::uint32_t> texts[] = {
        {QMessageBox::Ok, kStringOk}, {QMessageBox::Yes, kStringYes}, {QMessageBox::No, kStringNo}};
    for (const auto& [button, textId] : texts) {
        QString text;
        if (box.button(button) != nullptr && resources_.LoadString(textId, text)) {
            box.button(button)->setText(text);
        }
    }
    box.setDefaultButton(defaultButton);
    return prompter_->Exec(box);
}

void UpdaterDialog::OnClose() {
    if (update_.IsStarted()) {
        ShowMessage(kStringUpdateRunning, QMessageBox::Ok, QMessageBox::Ok);
        return;
    }
    if (discovery_.IsStarted()) {
        discovery_.Stop(kStopTimeoutMs);
    }
    QDialog::done(QDialog::Rejected);
}

void UpdaterDialog::accept() {
    OnClose();
}

void UpdaterDialog::reject() {
    OnClose();
}

void UpdaterDialog::closeEvent(QCloseEvent* event) {
    // OnClose hides the dialog itself when it may close.
    event->ignore();
    OnClose();
}

void UpdaterDialog::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            // A push button with the focus takes Enter for itself, as it takes Space; the
            // template's buttons are not auto-default, so the key comes here. Anywhere else Enter
            // closes. The buttons are disabled while an update runs, so then Enter always meets
            // the refusal of the close handling.
            auto* button = qobject_cast<QPushButton*>(focusWidget());
            if (button != nullptr && button->isEnabled()) {
                button->click();
            } else {
                accept();
            }
            return;
        }
    }
    QDialog::keyPressEvent(event);
}
