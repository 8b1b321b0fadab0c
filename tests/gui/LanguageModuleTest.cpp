#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "updater/LanguageModule.h"

namespace {

TEST(LanguageModuleTest, EveryRowOfTheTable) {
    // Language id, its module, and the locale of Qt's own translations for that module.
    const std::vector<std::tuple<std::uint16_t, std::wstring, std::string>> rows = {
        {0x0404, L"chh", "zh_TW"}, {0x0804, L"chs", "zh_CN"}, {0x0C04, L"chs", "zh_CN"},
        {0x1004, L"chs", "zh_CN"}, {0x1404, L"chs", "zh_CN"}, {0x0004, L"chs", "zh_CN"},
        {0x0405, L"csy", "cs"},    {0x0407, L"deu", "de"},    {0x0807, L"deu", "de"},
        {0x0C07, L"deu", "de"},    {0x040A, L"esp", "es"},    {0x0C0A, L"esp", "es"},
        {0x040C, L"fra", "fr"},    {0x0C0C, L"fra", "fr"},    {0x0410, L"ita", "it"},
        {0x0411, L"jpn", "ja"},    {0x0412, L"kor", "ko"},    {0x0415, L"plk", "pl"},
        {0x0416, L"ptb", "pt_BR"}, {0x0816, L"ptb", "pt_BR"}, {0x0419, L"rus", "ru"},
        {0x041F, L"trk", "tr"},    {0x0409, L"enu", ""},      {0x0809, L"enu", ""},
        {0x0413, L"enu", ""},      {0x0000, L"enu", ""},      {0x041D, L"enu", ""},
        {0x0422, L"enu", ""},
    };
    for (const auto& [id, language, qtLocale] : rows) {
        EXPECT_EQ(LanguageModule::ModuleName(id), L"Reflasher_" + language + L".DLL")
            << std::hex << id;
        EXPECT_EQ(LanguageModule::QtLocaleName(id), qtLocale) << std::hex << id;
    }
}

TEST(LanguageModuleTest, LocaleNamesBecomeWindowsLanguageIds) {
    const std::vector<std::pair<std::string, std::uint16_t>> locales = {
        {"de_DE.UTF-8", 0x0407}, {"de_AT.UTF-8", 0x0C07}, {"de_CH", 0x0807},
        {"en_US.UTF-8", 0x0409}, {"en_GB.UTF-8", 0x0809}, {"en", 0x0409},
        {"fr_FR.UTF-8", 0x040C}, {"fr_CA", 0x0C0C},       {"es_ES.UTF-8", 0x0C0A},
        {"es_MX", 0x080A},       {"it_IT.UTF-8", 0x0410}, {"pt_BR.UTF-8", 0x0416},
        {"pt_PT.UTF-8", 0x0816}, {"pt", 0x0416},          {"cs_CZ.UTF-8", 0x0405},
        {"pl_PL.UTF-8", 0x0415}, {"ru_RU.UTF-8", 0x0419}, {"tr_TR.UTF-8", 0x041F},
        {"ja_JP.UTF-8", 0x0411}, {"ko_KR.UTF-8", 0x0412}, {"zh_TW.UTF-8", 0x0404},
        {"zh_CN.UTF-8", 0x0804}, {"zh_HK.UTF-8", 0x0C04}, {"zh_SG", 0x1004},
        {"zh_MO", 0x1404},       {"zh", 0x0804},          {"zh-Hant-TW", 0x0404},
        {"zh_Hant", 0x0404},     {"zh-Hans", 0x0804},     {"pt-BR", 0x0416},
        {"nl_NL.UTF-8", 0x0413}, {"sr_RS@latin", 0x0000}, {"C", 0x0409},
        {"POSIX", 0x0409},       {"C.UTF-8", 0x0409},     {"", 0x0409},
        {"xx_YY", 0x0000},       {"DE_de", 0x0407},
    };
    for (const auto& [locale, id] : locales) {
        EXPECT_EQ(LanguageModule::LanguageIdFromLocale(locale), id) << locale;
    }
}

TEST(LanguageModuleTest, TheUserLocaleFollowsTheVariablesPrecedence) {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        unsetenv(name);
    }
    EXPECT_EQ(LanguageModule::UserLocaleName(), "");
    EXPECT_EQ(LanguageModule::UserDefaultLanguageId(), 0x0409);

    // Set in turn, each over the ones before; empty values do not count.
    const std::tuple<const char*, const char*, const char*, std::uint16_t> steps[] = {
        {"LANG", "ru_RU.UTF-8", "ru_RU.UTF-8", 0x0419},
        {"LC_MESSAGES", "ja_JP.UTF-8", "ja_JP.UTF-8", 0x0411},
        {"LC_ALL", "zh_TW.UTF-8", "zh_TW.UTF-8", 0x0404},
        {"LANGUAGE", "pl:de", "pl", 0x0415},
        {"LANGUAGE", "", "zh_TW.UTF-8", 0x0404},
        {"LC_ALL", "", "ja_JP.UTF-8", 0x0411}};
    for (const auto& [name, value, locale, id] : steps) {
        setenv(name, value, 1);
        EXPECT_EQ(LanguageModule::UserLocaleName(), locale) << name << "=" << value;
        EXPECT_EQ(LanguageModule::UserDefaultLanguageId(), id) << name << "=" << value;
    }
}

}  // namespace
