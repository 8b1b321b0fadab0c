#pragma once

#include <cstdint>
#include <string>

// Which language module the updater loads: the user's locale turned into a Windows language id
// (primary language in bits 0-9, sublanguage in bits 10-15), and the module file named for it.
// Pure functions of their input apart from UserDefaultLanguageId, which reads the environment.
class LanguageModule {
public:
    // Windows language id for a POSIX locale name such as "de_DE.UTF-8", "zh_TW" or "pt-BR".
    // "C", "POSIX" and an empty name give English (United States), 0x0409; a language this
    // table does not know gives 0 (neutral), which selects the English module.
    static std::uint16_t LanguageIdFromLocale(const std::string& locale);

    // The locale that decides the user's language: the first non-empty one of LANGUAGE (its
    // first entry), LC_ALL, LC_MESSAGES and LANG; empty when none is set.
    static std::string UserLocaleName();

    // LanguageIdFromLocale(UserLocaleName()).
    static std::uint16_t UserDefaultLanguageId();

    // The module file name, e.g. L"Reflasher_deu.DLL"; languages without a module of their own
    // get L"Reflasher_enu.DLL".
    static std::wstring ModuleName(std::uint16_t languageId);

    // The locale name of Qt's own translations (qtbase_<name>.qm) for the language of the module
    // that ModuleName chooses, e.g. "de" or "zh_TW"; empty for the English module.
    static std::string QtLocaleName(std::uint16_t languageId);
};
