#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/ModulePath.h"

// Paths are UTF-8 whatever the locale; the tests run in the "C" locale, in which the C
// runtime's conversion refuses every non-ASCII character.
TEST(ModulePath, PathsConvertAsUtf8AndAnyBytesRoundTrip) {
    ASSERT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
    const struct {
        std::string narrow;
        std::wstring wide;
    } cases[] = {
        {"Pr\xc3\xbc"
         "fung/\xc3\x9cn\xc3\xaf"
         "code",
         L"Pr\u00fcfung/\u00dcn\u00efcode"},
        {"\xf0\x9f\x98\x80.bin", L"\U0001F600.bin"},
        // Bytes that are not UTF-8 each stand for themselves: stray, cut short, overlong, an
        // encoded surrogate, beyond U+10FFFF.
        {"\xff\xfe", {wchar_t(0xDCFF), wchar_t(0xDCFE)}},
        {"a\xc3", {L'a', wchar_t(0xDCC3)}},
        {"\xc0\xaf", {wchar_t(0xDCC0), wchar_t(0xDCAF)}},
        {"\xed\xa0\x80", {wchar_t(0xDCED), wchar_t(0xDCA0), wchar_t(0xDC80)}},
        {"\xf4\x90\x80\x80", {wchar_t(0xDCF4), wchar_t(0xDC90), wchar_t(0xDC80), wchar_t(0xDC80)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.narrow);
        std::wstring wide;
        ASSERT_TRUE(platform::NarrowToWide(c.narrow, wide));
        EXPECT_EQ(wide, c.wide);
        std::string narrow;
        ASSERT_TRUE(platform::WideToNarrow(wide, narrow));
        EXPECT_EQ(narrow, c.narrow);
    }

    // No system path holds a NUL, nor a code point outside Unicode or the escaped bytes.
    std::string narrow;
    std::wstring wide;
    EXPECT_FALSE(platform::NarrowToWide(std::string("a\0b", 3), wide));
    for (const std::wstring& refused :
         {std::wstring(L"a\0b", 3), std::wstring(1, wchar_t(0xD800)),
          std::wstring(1, wchar_t(0xDC7F)), std::wstring(1, wchar_t(0x110000))}) {
        EXPECT_FALSE(platform::WideToNarrow(refused, narrow)) << std::hex << refused.back();
    }
}
