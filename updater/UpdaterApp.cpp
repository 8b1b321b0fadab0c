#include "updater/UpdaterApp.h"

#include <QApplication>
#include <QPalette>

#include "platform/Com.h"
#include "platform/ModulePath.h"
#include "updater/LanguageModule.h"
#include "updater/QtResourceModule.h"
#include "updater/UpdaterDialog.h"

UpdaterApp::UpdaterApp(QtPrompter* prompter) : prompter_(prompter) {}

void UpdaterApp::SetModuleDirectory(const QString& directory) {
    moduleDirectory_ = directory;
}

void UpdaterApp::SetDialogColours() {
    // White dialogs with black text, message boxes and the confirmation included.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    QApplication::setPalette(palette, "QDialog");
}

int UpdaterApp::Run() {
    platform::CoInitialize();

    moduleName_ = QString::fromStdWString(
        LanguageModule::ModuleName(LanguageModule::UserDefaultLanguageId()));
    QString directory = moduleDirectory_;
    if (directory.isEmpty()) {
        directory = QString::fromStdWString(platform::GetModuleDirectory());
    }
    if (!directory.isEmpty() && !directory.endsWith(QLatin1Char('/'))) {
        directory += QLatin1Char('/');
    }
    QtResourceModule module;
    module.Load(directory + moduleName_);  // on failure every lookup below comes back empty

    SetDialogColours();

    int status = 1;
    {
        UpdaterDialog dialog(module, prompter_);
        if (dialog.HasTemplate()) {
            dialog.exec();
            status = 0;
        }
        platform::CoUninitialize();
        module.Unload();
    }
    return status;
}
