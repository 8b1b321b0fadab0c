#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "Halden/TSException.h"
#include "Halden/threadSafe/wc2string.h"

namespace {

// The result, or the text of the exception, which must name this file and a line.
std::string Converted(const wchar_t* source, std::int32_t length) {
    try {
        return wc2string(source, length);
    } catch (const Halden::TSException& e) {
        EXPECT_EQ(e.file(), "Halden/threadSafe/wc2string");
        EXPECT_GT(e.line(), 0);
        return std::string("!") + e.what();
    }
}

}  // namespace

TEST(Wc2string, ArgumentsLengthsAndLocales) {
    const std::string invalid = "!Invalid parameters specified for wide character conversion";
    EXPECT_EQ(Converted(L"abc", 0) + Converted(nullptr, 0) + wc2string(nullptr), "");
    EXPECT_EQ(Converted(nullptr, 5), invalid);
    EXPECT_EQ(Converted(L"abc", -1), invalid);
    EXPECT_EQ(Converted(L"abcdef", 3), "abc");
    const std::wstring path = L"/var/lib/orvane/descriptions/Wend.xml.01";
    EXPECT_EQ(Converted(path.c_str(), 40), "/var/lib/orvane/descriptions/Wend.xml.01");
    EXPECT_EQ(wc2string(path.c_str()), "/var/lib/orvane/descriptions/Wend.xml.01");

    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    EXPECT_EQ(Converted(L"/tmp/caf\u00e9.xml", 13),
              "!Wide character string conversion failed: did you forget to set the locale?");
    if (std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr) {
        // Each e-acute needs two bytes: the limit of one byte per character cuts the result.
        EXPECT_EQ(Converted(L"a\u00e9", 2), "a");
        EXPECT_EQ(Converted(L"\u00e9\u00e9", 2), "\xc3\xa9");
        EXPECT_EQ(Converted(L"\u00e9", 1), "");
    }
    std::setlocale(LC_CTYPE, previous.c_str());
}
