#pragma once

#include <QString>

class QtPrompter;

// The program's start-up: chooses the language module by the user's locale, makes it the source
// of every template, string and icon, installs Qt's own translation for that language (when
// installed), runs the updater dialog modally and ends when it closes.
// There is no fallback module: without it there is no template, so no window.
class UpdaterApp {
public:
    // prompter: see UpdaterDialog; null means the real dialogs. Not owned.
    explicit UpdaterApp(QtPrompter* prompter = nullptr);

    // Folder the language module is loaded from; the default is the program's own folder.
    void SetModuleDirectory(const QString& directory);

    // Needs a QApplication. Returns the exit status: 0 after the dialog has closed, 1 when no
    // dialog could be created (the module or its template is missing).
    int Run();

    // Module file name chosen by the last Run, e.g. "Reflasher_deu.DLL".
    const QString& ModuleName() const { return moduleName_; }

    // White dialogs with black text, for every dialog of the program.
    static void SetDialogColours();

private:
    QtPrompter* prompter_;
    QString moduleDirectory_;
    QString moduleName_;
};
