#pragma once

#include "updater/QtPrompter.h"

// The real prompter: Qt's file dialog and the dialogs' own event loops.
class QtDialogPrompter : public QtPrompter {
public:
    bool GetOpenFileName(QWidget* owner, const QString& filter, const QString& initialName,
                         QString& path) override;
    int Exec(QDialog& dialog) override;

    // "Text (*.a;*.b)||" -> "Text (*.a *.b)", the form QFileDialog takes.
    static QString NameFilter(const QString& filter);
};
