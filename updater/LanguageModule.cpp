#include "updater/LanguageModule.h"

#include <cctype>
#include <cstdlib>

namespace {

struct LanguageCode {
    const char* code;       // ISO 639-1
    std::uint16_t primary;  // Windows primary language id
};

// Besides the fourteen languages with a module, some common ones so that their ids are the
// real ones (they all select the English module).
constexpr LanguageCode kLanguages[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06},
    {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0A}, {"fi", 0x0B}, {"fr", 0x0C},
    {"he", 0x0D}, {"hu", 0x0E}, {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11}, {"ko", 0x12},
    {"nl", 0x13}, {"nb", 0x14}, {"no", 0x14}, {"nn", 0x14}, {"pl", 0x15}, {"pt", 0x16},
    {"ro", 0x18}, {"ru", 0x19}, {"hr", 0x1A}, {"sk", 0x1B}, {"sq", 0x1C}, {"sv", 0x1D},
    {"th", 0x1E}, {"tr", 0x1F}, {"id", 0x21}, {"uk", 0x22}, {"sl", 0x24}, {"et", 0x25},
    {"lv", 0x26}, {"lt", 0x27}, {"vi", 0x2A},
};

struct Sublanguage {
    const char* code;
    const char* territory;
    std::uint16_t sublanguage;
};

// Territories whose sublanguage differs from the default (1) of their language.
constexpr Sublanguage kSublanguages[] = {
    {"zh", "TW", 0x01}, {"zh", "CN", 0x02}, {"zh", "HK", 0x03}, {"zh", "SG", 0x04},
    {"zh", "MO", 0x05}, {"en", "GB", 0x02}, {"en", "AU", 0x03}, {"en", "CA", 0x04},
    {"en", "NZ", 0x05}, {"en", "IE", 0x06}, {"de", "CH", 0x02}, {"de", "AT", 0x03},
    {"de", "LU", 0x04}, {"fr", "BE", 0x02}, {"fr", "CA", 0x03}, {"fr", "CH", 0x04},
    {"fr", "LU", 0x05}, {"es", "MX", 0x02}, {"es", "ES", 0x03}, {"it", "CH", 0x02},
    {"nl", "BE", 0x02}, {"pt", "BR", 0x01}, {"pt", "PT", 0x02}, {"sv", "FI", 0x02},
};

constexpr std::uint16_t kEnglishUnitedStates = 0x0409;
constexpr std::uint16_t kNeutral = 0x0000;
constexpr std::uint16_t kChinesePrimary = 0x04;
constexpr std::uint16_t kChineseSimplified = 0x02;

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

std::uint16_t LanguageModule::LanguageIdFromLocale(const std::string& locale) {
    // language[_territory][.codeset][@modifier]; BCP 47 style "pt-BR" is taken the same way.
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") {
        return kEnglishUnitedStates;
    }
    const std::size_t separator = name.find_first_of("_-");
    const std::string language = Lower(name.substr(0, separator));
    std::string territory;
    if (separator != std::string::npos) {
        territory = Upper(name.substr(separator + 1));
        // A script subtag ("zh-Hant-TW", "zh_Hans") stands before the territory.
        const std::size_t next = territory.find_first_of("_-");
        const std::string first = territory.substr(0, next);
        if (first == "HANT" || first == "HANS") {
            if (next != std::string::npos) {
                territory = territory.substr(next + 1);
            } else {
                territory = first == "HANT" ? "TW" : "CN";
            }
        } else {
            territory = first;
        }
    }
    for (const LanguageCode& entry : kLanguages) {
        if (language != entry.code) {
            continue;
        }
        // Plain "zh" means Chinese as written in the People's Republic.
        std::uint16_t sublanguage =
            entry.primary == kChinesePrimary ? kChineseSimplified : std::uint16_t{1};
        for (const Sublanguage& sub : kSublanguages) {
            if (language == sub.code && territory == sub.territory) {
                sublanguage = sub.sublanguage;
                break;
            }
        }
        return static_cast<std::uint16_t>((sublanguage << 10) | entry.primary);
    }
    return kNeutral;
}

std::string LanguageModule::UserLocaleName() {
    for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        std::string text(value);
        // LANGUAGE is a priority list ("de:en"); its first entry is the user's choice.
        text = text.substr(0, text.find(':'));
        if (!text.empty()) {
            return text;
        }
    }
    return {};
}

std::uint16_t LanguageModule::UserDefaultLanguageId() {
    return LanguageIdFromLocale(UserLocaleName());
}

namespace {

// The languages with a module of their own, by primary language id: the module's three-letter
// name and the locale name of Qt's own translations for that language.
struct ModuleLanguage {
    std::uint16_t primary;
    const wchar_t* module;
    const char* qtLocale;
};

constexpr ModuleLanguage kModuleLanguages[] = {
    {0x05, L"csy", "cs"},    {0x07, L"deu", "de"}, {0x0A, L"esp", "es"}, {0x0C, L"fra", "fr"},
    {0x10, L"ita", "it"},    {0x11, L"jpn", "ja"}, {0x12, L"kor", "ko"}, {0x15, L"plk", "pl"},
    {0x16, L"ptb", "pt_BR"}, {0x19, L"rus", "ru"}, {0x1F, L"trk", "tr"},
};

// Chinese is one primary language with two modules: Traditional for Taiwan (sublanguage 1),
// Simplified for every other territory.
constexpr ModuleLanguage kTraditionalChinese = {kChinesePrimary, L"chh", "zh_TW"};
constexpr ModuleLanguage kSimplifiedChinese = {kChinesePrimary, L"chs", "zh_CN"};

const ModuleLanguage* FindModuleLanguage(std::uint16_t languageId) {
    const auto primary = static_cast<std::uint16_t>(languageId & 0x3FF);
    if (primary == kChinesePrimary) {
        return (languageId & 0xFC00) == 0x0400 ? &kTraditionalChinese : &kSimplifiedChinese;
    }
    for (const ModuleLanguage& language : kModuleLanguages) {
        if (language.primary == primary) {
            return &language;
        }
    }
    return nullptr;
}

}  // namespace

std::wstring LanguageModule::ModuleName(std::uint16_t languageId) {
    const ModuleLanguage* language = FindModuleLanguage(languageId);
    return std::wstring(L"Reflasher_") + (language != nullptr ? language->module : L"enu") +
           L".DLL";
}

std::string LanguageModule::QtLocaleName(std::uint16_t languageId) {
    const ModuleLanguage* language = FindModuleLanguage(languageId);
    return language != nullptr ? language->qtLocale : "";
}
