#include "platform/UsblpDeviceIdAnswer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string Prefixed(std::size_t length, bool bigEndian, const std::string& text) {
    const char high = static_cast<char>(length >> 8);
    const char low = static_cast<char>(length);
    return (bigEndian ? std::string{high, low} : std::string{low, high}) + text;
}

std::string Big(const std::string& text) {
    return Prefixed(text.size() + 2, true, text);
}

std::string Little(const std::string& text) {
    return Prefixed(text.size() + 2, false, text);
}

// The caller's zero-filled 1,024 bytes after usblp has fetched the printer's answer into its own
// buffer, which still holds stale bytes from before where the answer is shorter.
std::vector<unsigned char> Delivered(const std::string& printerAnswer, std::string stale) {
    stale.resize(1024, '\0');
    std::copy_n(printerAnswer.begin(), std::min<std::size_t>(printerAnswer.size(), 1023),
                stale.begin());
    const std::size_t announced =
        (static_cast<unsigned char>(stale[0]) << 8) | static_cast<unsigned char>(stale[1]);
    const std::size_t copied = std::clamp<std::size_t>(announced, 2, 1023);
    std::vector<unsigned char> buffer(1024, 0);
    std::copy_n(stale.begin(), copied, buffer.begin());
    return buffer;
}

TEST(UsblpDeviceIdAnswer, DecodesWhatTheDriverDelivers) {
    const std::string id = "MFG:Orvane;MDL:Kestrel 200;";
    // 4,095 bytes: a length of 0x1001, which read little-endian would be a plausible 272.
    std::string huge(4095, ' ');
    for (std::size_t i = 0; i < huge.size(); ++i) {
        huge[i] = static_cast<char>('a' + i % 26);
    }
    const std::string longest = huge.substr(0, 1021);
    const std::string l300(300, 'p');
    const std::string l767(767, 'r');
    const std::string padded = id + std::string(1021 - id.size(), '\0');
    const struct {
        const char* name;
        std::string printerAnswer;
        std::string stale;
        std::string expected;  // empty: no ID
    } cases[] = {
        {"big-endian", Big(id), "", id},
        {"little-endian", Little(id), "", id},
        {"zero-length, big-endian", Big(""), "", ""},
        {"zero-length, little-endian", Little(""), "", ""},
        {"1,021 bytes, big-endian", Big(longest), "", longest},
        {"1,022 bytes, big-endian: cut", Big(huge.substr(0, 1022)), "", longest},
        {"300 bytes, little-endian", Little(l300), "", l300},
        {"700 bytes, little-endian", Little(std::string(700, 'q')), "", std::string(700, 'q')},
        {"767 bytes, little-endian: read as 259", Little(l767), "", l767.substr(0, 257)},
        {"510 bytes, little-endian: read as 2", Little(std::string(510, 's')), "", ""},
        {"prefix 0x0001", Prefixed(0x0001, true, id), "", ""},
        {"prefix 0xFFFF", Prefixed(0xFFFF, true, id), "", padded},
        {"stale bytes past a big-endian length", Big(id), Big(huge), id},
        {"stale bytes past a little-endian length", Little(id), Big(huge),
         id + huge.substr(id.size(), 1021 - id.size())},
        {"NUL first", Big(std::string("\0MFG:A;", 7)), "", std::string("\0MFG:A;", 7)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<unsigned char> answer = Delivered(c.printerAnswer, c.stale);
        std::string bytes = "old";
        EXPECT_EQ(platform::DecodeUsblpDeviceIdAnswer(answer.data(), answer.size(), bytes),
                  !c.expected.empty());
        EXPECT_EQ(bytes, c.expected.empty() ? "old" : c.expected);
    }
}

}  // namespace
