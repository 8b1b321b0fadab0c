#pragma once

#include <QString>

class QDialog;
class QWidget;

// What the dialog asks of the person in front of it: a file to open, and the answer to a modal
// dialog it has built (message boxes, whose object name is their string id, and the
// confirmation template). Tests put a scripted prompter in its place.
class QtPrompter {
public:
    virtual ~QtPrompter() = default;

    // filter is the file-type entry in the dialog framework's "text (patterns)||" form; the
    // patterns are joined with ';'. False when the person cancels.
    virtual bool GetOpenFileName(QWidget* owner, const QString& filter, const QString& initialName,
                                 QString& path) = 0;
    // Runs dialog modally and returns its result: QDialog::Accepted / Rejected, or for a
    // QMessageBox the QMessageBox::StandardButton pressed.
    virtual int Exec(QDialog& dialog) = 0;
};
