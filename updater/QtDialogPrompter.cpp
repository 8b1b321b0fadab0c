#include "updater/QtDialogPrompter.h"

#include <QDialog>
#include <QFileDialog>
#include <QStringList>

QString QtDialogPrompter::NameFilter(const QString& filter) {
    QString entry = filter.section(QLatin1Char('|'), 0, 0);
    entry.replace(QLatin1Char(';'), QLatin1Char(' '));
    return entry;
}

bool QtDialogPrompter::GetOpenFileName(QWidget* owner, const QString& filter,
                                       const QString& /*initialName*/, QString& path) {
    // The name filter already limits the listing to the patterns, which the Windows dialog
    // needed the initial name for. Where the platform offers the desktop's own file dialog (a
    // platform theme such as GTK's, or the desktop portal) this one shows as that; elsewhere it
    // is Qt's, in the language of the installed Qt translation.
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(NameFilter(filter));
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) {
        return false;
    }
    path = files.first();
    return true;
}

int QtDialogPrompter::Exec(QDialog& dialog) {
    return dialog.exec();
}
