#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QGlyphRun>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextLayout>
#include <memory>

#include "tests/gui/GuiTestSupport.h"
#include "updater/QtDialogPrompter.h"
#include "updater/QtResourceModule.h"
#include "updater/UpdaterApp.h"
#include "updater/UpdaterDialog.h"

using namespace gui_test;

namespace {

const char* const kLanguages[] = {"enu", "deu", "fra", "esp", "ita", "ptb", "csy",
                                  "plk", "rus", "trk", "jpn", "kor", "chs", "chh"};
const std::uint32_t kStrings[] = {1, 2, 6, 7, 100, 101, 102, 103, 130, 131, 1016, 1017, 1018, 1019};
// Texts that a language must say in its own words.
const std::uint32_t kSentences[] = {100, 101, 102, 103, 1016, 1017, 1019};
const int kControls102[] = {1000, 1001, 1002, 1003, 1007, 1008, 1009,
                            1010, 1011, 1012, 1013, 1014, 1018};

QString ModulePath(const char* language) {
    return ProgramDir() + QStringLiteral("/Reflasher_%1.DLL").arg(QLatin1String(language));
}

// Every text of every module, in the dialogs' font and the bold one of the window's headings,
// that has a character no installed font covers (Qt lays it out as glyph 0, an empty box).
QStringList Undrawn(QtResourceModule& module, const QList<QWidget*>& forms) {
    QFont heading(QStringLiteral("Arial"));
    heading.setStyleHint(QFont::SansSerif);
    heading.setPixelSize(18);
    heading.setWeight(QFont::Bold);
    QByteArray json;
    EXPECT_TRUE(module.ReadFile("strings.json", json));
    QStringList texts;
    for (const QJsonValue& value : QJsonDocument::fromJson(json).object()) {
        texts << value.toString();
    }
    for (const QWidget* form : forms) {
        texts << form->windowTitle();
        for (const QLabel* label : form->findChildren<QLabel*>()) {
            texts << label->text();
        }
        for (const QAbstractButton* button : form->findChildren<QAbstractButton*>()) {
            texts << button->text();
        }
    }
    EXPECT_GT(texts.size(), 20);
    QStringList undrawn;
    for (const QString& text : texts) {
        for (const QFont& font : {QApplication::font(), heading}) {
            QTextLayout layout(QString(text).replace('\n', ' '), font);
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            for (const QGlyphRun& run : layout.glyphRuns()) {
                if (run.glyphIndexes().contains(0)) {
                    undrawn << text + " (" + font.family() + ")";
                }
            }
        }
    }
    return undrawn;
}

TEST(ResourceModuleTest, EveryLanguageModuleIsCompleteTranslatedAndDrawable) {
    QtResourceModule english;
    ASSERT_TRUE(english.Load(ModulePath("enu")));
    std::unique_ptr<QWidget> englishForm(english.LoadTemplate(102, nullptr));
    ASSERT_NE(englishForm, nullptr);
    // The badge's arrow is upright: inside the disc, white mirrors white about x = 190 (blue
    // tells the arrow from the orange under it, whose shading is off-centre).
    const QImage icon = english.LoadIcon(128).pixmap(256).toImage();
    ASSERT_EQ(icon.width(), 256);
    int unmirrored = 0;
    for (int y = 146; y < 234; ++y) {
        for (int x = 146; x < 190; ++x) {
            const int dx = 2 * x + 1 - 380, dy = 2 * y + 1 - 380;
            unmirrored += dx * dx + dy * dy < 84 * 84 &&
                          std::abs(qBlue(icon.pixel(x, y)) - qBlue(icon.pixel(379 - x, y))) > 100;
        }
    }
    EXPECT_EQ(unmirrored, 0);

    for (const char* language : kLanguages) {
        SCOPED_TRACE(language);
        QtResourceModule module;
        ASSERT_TRUE(module.Load(ModulePath(language)));
        for (std::uint32_t id : kStrings) {
            QString text;
            EXPECT_TRUE(module.LoadString(id, text)) << id;
            EXPECT_FALSE(text.trimmed().isEmpty()) << id;
        }
        EXPECT_EQ(module.String(1018).count(QRegularExpression("%[diu]")), 1);
        EXPECT_FALSE(module.LoadIcon(128).isNull());

        std::unique_ptr<QWidget> form(module.LoadTemplate(102, nullptr));
        ASSERT_NE(form, nullptr);
        EXPECT_FALSE(form->windowTitle().isEmpty());
        for (int id : kControls102) {
            EXPECT_NE(form->findChild<QWidget*>(QString::number(id)), nullptr) << id;
        }
        std::unique_ptr<QWidget> confirm(module.LoadTemplate(135, nullptr));
        ASSERT_NE(qobject_cast<QDialog*>(confirm.get()), nullptr);
        EXPECT_EQ(confirm->findChildren<QWidget*>(QRegularExpression("^[12]$")).size(), 2);
        const QStringList undrawn = Undrawn(module, {form.get(), confirm.get()});
        EXPECT_TRUE(undrawn.isEmpty()) << undrawn.join("\n").toStdString();

        if (QLatin1String(language) != QLatin1String("enu")) {
            for (std::uint32_t id : kSentences) {
                EXPECT_NE(module.String(id), english.String(id)) << id;
            }
            EXPECT_NE(form->windowTitle(), englishForm->windowTitle());
        }
    }
}

TEST(ResourceModuleTest, ModulesAndLookupsFailCleanly) {
    QtResourceModule module;
    EXPECT_FALSE(module.Load(ProgramDir() + "/Reflasher_xxx.DLL"));
    EXPECT_FALSE(module.IsLoaded());
    QString text;
    EXPECT_FALSE(module.LoadString(100, text));
    EXPECT_EQ(module.LoadTemplate(102, nullptr), nullptr);
    EXPECT_TRUE(module.LoadIcon(128).isNull());

    ASSERT_TRUE(module.Load(ModulePath("deu")));
    EXPECT_FALSE(module.LoadString(4711, text));
    EXPECT_EQ(module.LoadTemplate(999, nullptr), nullptr);
    // A second load replaces the first.
    ASSERT_TRUE(module.Load(ModulePath("jpn")));
    EXPECT_EQ(module.String(6), QString::fromUtf8("はい"));
    module.Unload();
    EXPECT_FALSE(module.LoadString(6, text));
}

TEST(ResourceModuleTest, CounterTexts) {
    EXPECT_EQ(UpdaterDialog::FormatCounter("Heron 10 (%d)", 2), "Heron 10 (2)");
    EXPECT_EQ(UpdaterDialog::FormatCounter("Heron 10 #%i", 3), "Heron 10 #3");
    EXPECT_EQ(UpdaterDialog::FormatCounter("100%% Plover %s (%d) %d", 1), "100% Plover %s (1) %d");
    EXPECT_EQ(UpdaterDialog::FormatCounter("Odd 5% (%d)%", 4), "Odd 5% (4)%");
}

TEST(ResourceModuleTest, TheFileDialogMayBeTheDesktopsOwn) {
    QtDialogPrompter prompter;
    bool nativeAllowed = false;
    QStringList filters;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        nativeAllowed = !dialog->testOption(QFileDialog::DontUseNativeDialog);
        filters = dialog->nameFilters();
        dialog->reject();
    });
    QString path;
    EXPECT_FALSE(prompter.GetOpenFileName(nullptr, "Firmware Upgrade File (*.bin;*.fwu)||",
                                          "*.bin;*.fwu", path));
    EXPECT_TRUE(nativeAllowed);
    EXPECT_EQ(filters, QStringList{"Firmware Upgrade File (*.bin *.fwu)"});
}

// The user's language is lang, as LANG alone says it.
void SetLanguage(const char* lang) {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
        unsetenv(name);
    }
    setenv("LANG", lang, 1);
}

TEST(AppTest, WithoutItsModuleNoWindowAppears) {
    SetLanguage("de_DE.UTF-8");
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    UpdaterApp app;
    app.SetModuleDirectory(empty.path());
    EXPECT_EQ(app.Run(), 1);  // a window would have held the run in its event loop
    EXPECT_EQ(app.ModuleName(), "Reflasher_deu.DLL");
}

TEST(AppTest, RunsTheDialogInTheUsersLanguage) {
    SetLanguage("ru_RU.UTF-8");
    QtResourceModule russian;
    ASSERT_TRUE(russian.Load(ModulePath("rus")));
    std::unique_ptr<QWidget> form(russian.LoadTemplate(102, nullptr));
    ASSERT_NE(form, nullptr);

    UpdaterApp app;
    app.SetModuleDirectory(ProgramDir());
    QString seen;  // title, window and text colours, icon
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        seen = dialog->windowTitle() + "|" + dialog->palette().color(QPalette::Window).name() +
               dialog->palette().color(QPalette::WindowText).name() +
               (dialog->windowIcon().isNull() ? "" : "|icon");
        dialog->close();
    });
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(app.ModuleName(), "Reflasher_rus.DLL");
    EXPECT_EQ(seen, form->windowTitle() + " " REFLASHER_VERSION "|#ffffff#000000|icon");
}

TEST(AppTest, QtsOwnDialogsSpeakTheModulesLanguage) {
    const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(translations + "/qtbase_de.qm")) {
        // Without Qt's translations the buttons are English by right; CI must have them.
        ASSERT_EQ(getenv("CI"), nullptr) << "qtbase_de.qm missing: run scripts/install-deps";
        GTEST_SKIP() << "qt6-translations-l10n is not installed";
    }
    SetLanguage("de_DE.UTF-8");
    UpdaterApp app;
    app.SetModuleDirectory(ProgramDir());
    QString yes;
    QTimer::singleShot(0, [&] {
        QMessageBox box(QMessageBox::Question, "", "", QMessageBox::Yes | QMessageBox::No);
        yes = box.button(QMessageBox::Yes)->text();
        QApplication::activeModalWidget()->close();
    });
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(yes.remove('&'), "Ja");
}

}  // namespace
