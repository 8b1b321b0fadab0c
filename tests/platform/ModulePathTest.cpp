#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <utility>

#include "platform/ModulePath.h"

using namespace std::string_literals;

// Paths are UTF-8 whatever the locale; the tests run in the "C" locale, in which the C
// runtime's conversion refuses every non-ASCII character.
TEST(ModulePath, PathsConvertAsUtf8AndAnyBytesRoundTrip) {
    ASSERT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
    const std::pair<std::string, std::wstring> cases[] = {
        {u8"Prüfung/Ünïcode", L"Prüfung/Ünïcode"},
        {u8"\U0001F600.bin", L"\U0001F600.bin"},
        // Bytes that are not UTF-8 each stand for themselves: stray, cut short, overlong, an
        // encoded surrogate, beyond U+10FFFF.
        {"\xff\xfe", L"\xDCFF\xDCFE"},
        {"a\xc3", L"a\xDCC3"},
        {"\xc0\xaf", L"\xDCC0\xDCAF"},
        {"\xed\xa0\x80", L"\xDCED\xDCA0\xDC80"},
        {"\xf4\x90\x80\x80", L"\xDCF4\xDC90\xDC80\xDC80"}};
    for (const auto& [narrowIn, wideIn] : cases) {
        SCOPED_TRACE(narrowIn);
        std::wstring wide;
        ASSERT_TRUE(platform::NarrowToWide(narrowIn, wide));
        EXPECT_EQ(wide, wideIn);
        std::string narrow;
        ASSERT_TRUE(platform::WideToNarrow(wide, narrow));
        EXPECT_EQ(narrow, narrowIn);
    }
    // No system path holds a NUL, nor a code point outside Unicode or the escaped bytes.
    std::string narrow;
    std::wstring wide;
    EXPECT_FALSE(platform::NarrowToWide("a\0b"s, wide));
    for (const std::wstring& refused : {L"a\0b"s, L"\xD800"s, L"\xDC7F"s, L"\x110000"s}) {
        EXPECT_FALSE(platform::WideToNarrow(refused, narrow)) << std::hex << refused.back();
    }
}
