#include "updater/UpdaterApp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QPalette>
#include <QTranslator>
#include <cstdint>

#include "platform/Com.h"
#include "platform/ModulePath.h"
#include "updater/LanguageModule.h"
#include "updater/QtResourceModule.h"
#include "updater/UpdaterDialog.h"

namespace {

// Qt's own translation (qtbase) for the module chosen for languageId; false for the English
// module or when that translation is not installed.
bool LoadQtTranslation(std::uint16_t languageId, QTranslator& translator) {
    const QString locale = QString::fromStdString(LanguageModule::QtLocaleName(languageId));
    return !locale.isEmpty() && translator.load(QStringLiteral("qtbase_") + locale,
                                                QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

}  // namespace

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

    const std::uint16_t languageId = LanguageModule::UserDefaultLanguageId();
    moduleName_ = QString::fromStdWString(LanguageModule::ModuleName(languageId));
    QString directory = moduleDirectory_;
    if (directory.isEmpty()) {
        directory = QString::fromStdWString(platform::GetModuleDirectory());
    }
    if (!directory.endsWith(QLatin1Char('/'))) {
        directory += QLatin1Char('/');
    }
    QtResourceModule module;
    module.Load(directory + moduleName_);  // on failure every lookup below comes back empty

    SetDialogColours();

    // Qt's own dialogs (the file dialog, the message boxes' standard buttons) speak the language
    // of the module. Without Qt's translation for it they stay English.
    QTranslator qtTranslator;
    if (LoadQtTranslation(languageId, qtTranslator)) {
        QCoreApplication::installTranslator(&qtTranslator);
    }

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
