#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "Halden/TSException.h"
#include "Halden/threadSafe/wc2string.h"

namespace {

const char* const kInvalid = "Invalid parameters specified for wide character conversion";
const char* const kFailed =
    "Wide character string conversion failed: did you forget to set the locale?";

std::string ThrownText(const wchar_t* source, std::int32_t length) {
    try {
        wc2string(source, length);
    } catch (const Halden::TSException& e) {
        EXPECT_EQ(e.file(), "Halden/threadSafe/wc2string");
        EXPECT_GT(e.line(), 0);
        return e.what();
    }
    return "no exception";
}

// Restores LC_CTYPE at the end of a test.
class CtypeRestorer {
public:
    ~CtypeRestorer() { std::setlocale(LC_CTYPE, previous_.c_str()); }

private:
    std::string previous_ = std::setlocale(LC_CTYPE, nullptr);
};

}  // namespace

TEST(Wc2string, ArgumentsAndLengths) {
    EXPECT_EQ(wc2string(L"abc", 0), "");
    EXPECT_EQ(wc2string(nullptr, 0), "");
    EXPECT_EQ(wc2string(nullptr), "");
    EXPECT_EQ(ThrownText(nullptr, 5), kInvalid);
    EXPECT_EQ(ThrownText(L"abc", -1), kInvalid);
    EXPECT_EQ(wc2string(L"abcdef", 3), "abc");
    const std::wstring path = L"/var/lib/orvane/descriptions/Wend.xml.01";
    ASSERT_EQ(path.size(), 40u);
    EXPECT_EQ(wc2string(path.c_str(), 40), "/var/lib/orvane/descriptions/Wend.xml.01");
    EXPECT_EQ(wc2string(path.c_str()), "/var/lib/orvane/descriptions/Wend.xml.01");
}

TEST(Wc2string, UnrepresentableCharacterThrowsAndTheByteLimitIsTheCharacterCount) {
    CtypeRestorer restorer;
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    EXPECT_EQ(ThrownText(L"/tmp/caf\u00e9.xml", 13), kFailed);
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
        GTEST_SKIP() << "C.UTF-8 is not available";
    }
    // Each e-acute needs two bytes: the limit of one byte per character cuts the result.
    EXPECT_EQ(wc2string(L"a\u00e9", 2), "a");
    EXPECT_EQ(wc2string(L"\u00e9\u00e9", 2), "\xc3\xa9");
    EXPECT_EQ(wc2string(L"\u00e9", 1), "");
}
