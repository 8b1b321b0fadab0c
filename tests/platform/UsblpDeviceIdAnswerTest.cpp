#include "platform/UsblpDeviceIdAnswer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

static std::string Prefixed(std::size_t length, bool bigEndian, const std::string& text) {
    const char high = static_cast<char>(length >> 8);
    const char low = static_cast<char>(length);
    return (bigEndian ? std::string{high, low} : std::string{low, high}) + text;
}

// The caller's zero-filled 1,024 bytes after usblp has fetched the printer's answer into its own
// buffer, which still holds stale bytes from before where the answer is shorter.
static std::vector<unsigned char> Delivered(const std::string& printerAnswer, std::string stale) {
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
    const auto big = [](const std::string& s) { return Prefixed(s.size() + 2, true, s); };
    const auto little = [](const std::string& s) { return Prefixed(s.size() + 2, false, s); };
    const std::string id = "MFG:Orvane;MDL:Kestrel 200;";
    // 4,095 bytes: a length of 0x1001, which read little-endian would be a plausible 272.
    std::string huge(4095, ' ');
    for (std::size_t i = 0; i < huge.size(); ++i) {
        huge[i] = static_cast<char>('a' + i % 26);
    }
    const std::string l767(767, 'r'), padded = id + std::string(1021 - id.size(), '\0');
    // The printer's answer, the stale bytes, the ID expected (empty: none).
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {little(id), "", id},
        {big(""), "", ""},
        {little(""), "", ""},
        {little(std::string(700, 'q')), "", std::string(700, 'q')},
        {little(l767), "", l767.substr(0, 257)},   // read as 259
        {little(std::string(510, 's')), "", ""},   // read as 2
        {Prefixed(0x0001, true, id), "", ""},      // below the prefix's own length
        {Prefixed(0xFFFF, true, id), "", padded},  // clamped
        {big(id), big(huge), id},                  // stale bytes past a big-endian length
        {little(id), big(huge), id + huge.substr(id.size(), 1021 - id.size())},
        {big(std::string("\0MFG:A;", 7)), "", std::string("\0MFG:A;", 7)}};
    for (const auto& [printerAnswer, stale, expected] : cases) {
        SCOPED_TRACE(printerAnswer.substr(0, 20));
        const std::vector<unsigned char> answer = Delivered(printerAnswer, stale);
        std::string bytes = "old";
        EXPECT_EQ(platform::DecodeUsblpDeviceIdAnswer(answer.data(), answer.size(), bytes),
                  !expected.empty());
        EXPECT_EQ(bytes, expected.empty() ? "old" : expected);
    }
}
