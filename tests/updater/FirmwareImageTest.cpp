#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/LastError.h"
#include "tests/updater/BitwiseCrc16.h"
#include "updater/FirmwareImage.h"

namespace {

using updater_test::BitwiseCrc16;

std::vector<std::uint8_t> WithTrailer(std::vector<std::uint8_t> bytes) {
    const std::uint16_t crc = BitwiseCrc16(bytes.data(), bytes.size());
    bytes.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
    return bytes;
}

class FirmwareImageFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(mkdtemp(dir_.data()), nullptr); }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::wstring Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return std::wstring(path.begin(), path.end());
    }

    std::string dir_ = "/tmp/firmware-image-test-XXXXXX";
};

std::wstring VersionText(const FirmwareImage& image) {
    std::wstring text;
    EXPECT_TRUE(image.GetVersionText(text));
    return text;
}

}  // namespace

TEST_F(FirmwareImageFiles, VersionPrefixDecodesHighBytesWithSign) {
    const struct {
        std::vector<std::uint8_t> prefix;
        std::wstring text;
        std::int32_t version[4];
    } cases[] = {
        {{0xFF, 0x01, 0x00, 0x00}, L"1.255.0.0", {1, 255, 0, 0}},
        {{0x00, 0x80, 0x00, 0x00}, L"-128.0.0.0", {-128, 0, 0, 0}},
        {{0x05, 0x01, 0x03, 0x00}, L"1.5.0.3", {1, 5, 0, 3}},
        {{0x80, 0x7F, 0xFF, 0xFE}, L"127.128.-2.255", {127, 128, -2, 255}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> bytes = c.prefix;
        bytes.insert(bytes.end(), {0xAA, 0xBB});
        FirmwareImage image;
        ASSERT_TRUE(image.Load(Write("v.bin", bytes), false));
        EXPECT_EQ(VersionText(image), c.text);
        std::int32_t version[4] = {9, 9, 9, 9};
        ASSERT_TRUE(image.GetVersion(version));
        EXPECT_TRUE(std::equal(version, version + 4, c.version));
        std::uint32_t size = 0;
        const std::uint8_t* data = image.GetData(size);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::vector<std::uint8_t>(data, data + size), bytes);
    }
}

TEST_F(FirmwareImageFiles, FailedLoadsKeepThePreviousImageAndSetLastError) {
    FirmwareImage image;
    std::uint32_t size = 1234;
    EXPECT_EQ(image.GetData(size), nullptr);
    EXPECT_EQ(size, 1234u);
    std::wstring text = L"untouched";
    EXPECT_FALSE(image.GetVersionText(text));
    std::int32_t version[4];
    EXPECT_FALSE(image.GetVersion(version));
    EXPECT_FALSE(image.GetTitle(text));

    const std::vector<std::uint8_t> firstBytes = WithTrailer({0x02, 0x03, 0x04, 0x05});
    const std::wstring first = Write("first.bin", firstBytes);
    ASSERT_TRUE(image.Load(first, true));
    std::vector<std::uint8_t> swapped = firstBytes;  // the trailer is low byte first
    std::swap(swapped[4], swapped[5]);

    const std::wstring shortFile = Write("short.bin", {1, 2, 3, 4, 5});
    const std::wstring badCrc = Write("badcrc.bin", {1, 2, 3, 4, 5, 6, 7});
    const struct {
        std::wstring path;
        std::uint32_t error;
    } failures[] = {
        {L"", platform::kErrorInvalidParameter},
        {std::wstring(1, wchar_t(0xD800)), platform::kErrorInvalidParameter},  // no file name
        {shortFile, platform::kErrorInvalidData},
        {Write("empty.bin", {}), platform::kErrorInvalidData},
        {badCrc, platform::kErrorInvalidData},
        {Write("swapped.bin", swapped), platform::kErrorInvalidData},
        {std::wstring(dir_.begin(), dir_.end()) + L"/missing.bin", ENOENT},
    };
    for (const auto& f : failures) {
        platform::SetLastError(0);
        EXPECT_FALSE(image.Load(f.path, true));
        EXPECT_EQ(platform::GetLastError(), f.error);
        EXPECT_EQ(image.GetPath(), first);
        EXPECT_EQ(VersionText(image), L"3.2.5.4");
        const std::uint8_t* data = image.GetData(size);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(size, 6u);
        EXPECT_EQ(data[0], 0x02);
    }

    // A 6-byte file is the smallest accepted; with the check off its trailer is not read.
    ASSERT_TRUE(image.Load(Write("six.bin", {1, 2, 3, 4, 5, 6}), false));
    EXPECT_EQ(VersionText(image), L"2.1.4.3");
}

TEST_F(FirmwareImageFiles, TitleIsTheNameWithoutDirectoryAndExtension) {
    const struct {
        std::string name;
        std::wstring title;  // "?": refused, the text untouched
    } cases[] = {{"RVX2_105.bin", L"RVX2_105"},
                 {"RVX2_105", L"RVX2_105"},
                 {"a.b.bin", L"a.b"},
                 {".bin", L"?"},
                 {"x.", L"x"}};
    for (const auto& c : cases) {
        FirmwareImage image;
        ASSERT_TRUE(image.Load(Write(c.name, {1, 2, 3, 4, 5, 6}), false));
        std::wstring title = L"?";
        EXPECT_EQ(image.GetTitle(title), c.title != L"?") << c.name;
        EXPECT_EQ(title, c.title) << c.name;
    }
}

TEST_F(FirmwareImageFiles, NotNewerComparesUnsignedWithMissingPartsZero) {
    FirmwareImage image;
    EXPECT_FALSE(image.IsNotNewerThan("9.9.9.9"));  // nothing loaded
    ASSERT_TRUE(image.Load(Write("a.bin", {0x05, 0x01, 0x03, 0x00, 0, 0}), false));  // 1.5.0.3
    EXPECT_FALSE(image.IsNotNewerThan(nullptr));
    // "-1" is the largest unsigned value.
    const struct {
        const char* printer;
        bool notNewer;
    } cases[] = {
        {"1.5.0.3", true}, {"1.5.0.4", true}, {"1.5.1.0", true},  {"1.5.0.2", false},
        {"1.6", true},     {"1.5", false},    {"2.1", true},      {"1", false},
        {"", false},       {"junk", false},   {"-1.0.0.0", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(image.IsNotNewerThan(c.printer), c.notNewer) << c.printer;
    }

    // "2.1" reads as 2.1.0.0: equal to a 2.1.0.0 file.
    ASSERT_TRUE(image.Load(Write("b.bin", {0x01, 0x02, 0x00, 0x00, 0, 0}), false));
    EXPECT_TRUE(image.IsNotNewerThan("2.1"));
    EXPECT_FALSE(image.IsNotNewerThan("2.0.9.9"));

    // A negative file component is a large unsigned value too.
    ASSERT_TRUE(image.Load(Write("c.bin", {0x00, 0x80, 0x00, 0x00, 0, 0}), false));  // -128.0.0.0
    EXPECT_FALSE(image.IsNotNewerThan("127.0.0.0"));
    EXPECT_TRUE(image.IsNotNewerThan("-128.0.0.0"));
    EXPECT_TRUE(image.IsNotNewerThan("-1"));
}

TEST(FirmwareImageNames, NameMustStartWithPrefixAndEndWithExtension) {
    const struct {
        const char* name;
        const char* prefix;
        const char* extension;
        bool fits;
    } cases[] = {{"RVX2_V105.BIN", "rvx2_", "bin", true},
                 {"rvx2_v105.bin", "RVX2_", "BIN", true},
                 {"RVX2_.bin", "rvx2_", "bin", false},  // nothing between prefix and extension
                 {"X_RVX2_1.bin", "rvx2_", "bin", false},
                 {"RVX2_1.bin.old", "rvx2_", "bin", false},
                 {"RVX2_1.xbin", "rvx2_", "bin", false},
                 {"RVX2_1.bin.bin", "rvx2_", "bin", true},
                 {"anything.bin", "", "bin", true},
                 {".bin", "", "bin", false},
                 {"RVX2_whatever", "rvx2_", "", true},
                 {"other", "rvx2_", "", false},
                 {"", "", "", true},
                 {"", "", "bin", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(FirmwareImage::NameFitsSpec(c.name, FirmwareNameSpec{c.prefix, c.extension, 1}),
                  c.fits)
            << c.name << " / " << c.prefix << " / " << c.extension;
    }
}
