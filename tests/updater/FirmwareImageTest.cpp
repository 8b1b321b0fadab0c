#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/LastError.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/Crc16.h"

namespace {

using namespace updater_test;

class FirmwareImageFiles : public ::testing::Test {
protected:
    std::wstring Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        return Wide(WriteFile(dir_, name, bytes));
    }

    std::string dir_ = MakeTempDir();
};

std::wstring VersionText(const FirmwareImage& image) {
    std::wstring text;
    EXPECT_TRUE(image.GetVersionText(text));
    return text;
}

}  // namespace

TEST_F(FirmwareImageFiles, VersionPrefixDecodesHighBytesWithSign) {
    const std::tuple<std::vector<std::uint8_t>, std::wstring, std::array<std::int32_t, 4>> cases[] =
        {{{0xFF, 0x01, 0x00, 0x00, 0xAA, 0xBB}, L"1.255.0.0", {1, 255, 0, 0}},
         {{0x00, 0x80, 0x00, 0x00, 0xAA, 0xBB}, L"-128.0.0.0", {-128, 0, 0, 0}},
         {{0x05, 0x01, 0x03, 0x00, 0xAA, 0xBB}, L"1.5.0.3", {1, 5, 0, 3}},
         {{0x80, 0x7F, 0xFF, 0xFE, 0xAA, 0xBB}, L"127.128.-2.255", {127, 128, -2, 255}}};
    for (const auto& [bytes, text, expected] : cases) {
        FirmwareImage image;
        ASSERT_TRUE(image.Load(Write("v.bin", bytes), false));
        EXPECT_EQ(VersionText(image), text);
        std::int32_t version[4] = {9, 9, 9, 9};
        ASSERT_TRUE(image.GetVersion(version));
        EXPECT_TRUE(std::equal(version, version + 4, expected.begin()));
        std::uint32_t size = 0;
        const std::uint8_t* data = image.GetData(size);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::vector<std::uint8_t>(data, data + size), bytes);
    }
}

TEST_F(FirmwareImageFiles, FailedLoadsKeepThePreviousImageAndSetLastError) {
    FirmwareImage image;
    std::uint32_t size = 1234;
    std::wstring text = L"untouched";
    std::int32_t version[4];
    EXPECT_TRUE(image.GetData(size) == nullptr && size == 1234u);
    EXPECT_FALSE(image.GetVersionText(text) || image.GetVersion(version) || image.GetTitle(text));

    const std::vector<std::uint8_t> firstBytes = WithCrc({0x02, 0x03, 0x04, 0x05});
    const std::wstring first = Write("first.bin", firstBytes);
    ASSERT_TRUE(image.Load(first, true));
    std::vector<std::uint8_t> swapped = firstBytes;  // the trailer is low byte first
    std::swap(swapped[4], swapped[5]);
    const std::pair<std::wstring, std::uint32_t> failures[] = {
        {L"", platform::kErrorInvalidParameter},
        {std::wstring(1, wchar_t(0xD800)), platform::kErrorInvalidParameter},  // no file name
        {Write("short.bin", {1, 2, 3, 4, 5}), platform::kErrorInvalidData},
        {Write("empty.bin", {}), platform::kErrorInvalidData},
        {Write("badcrc.bin", {1, 2, 3, 4, 5, 6, 7}), platform::kErrorInvalidData},
        {Write("swapped.bin", swapped), platform::kErrorInvalidData},
        {Wide(dir_) + L"/missing.bin", ENOENT}};
    for (const auto& [path, error] : failures) {
        platform::SetLastError(0);
        EXPECT_FALSE(image.Load(path, true));
        EXPECT_EQ(platform::GetLastError(), error);
        EXPECT_EQ(image.GetPath(), first);
        EXPECT_EQ(VersionText(image), L"3.2.5.4");
        const std::uint8_t* data = image.GetData(size);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::vector<std::uint8_t>(data, data + size), firstBytes);
    }

    // A 6-byte file is the smallest accepted; with the check off its trailer is not read.
    ASSERT_TRUE(image.Load(Write("six.bin", {1, 2, 3, 4, 5, 6}), false));
    EXPECT_EQ(VersionText(image), L"2.1.4.3");
}

TEST_F(FirmwareImageFiles, TitleIsTheNameWithoutDirectoryAndExtension) {
    // "?": refused, the text untouched
    const std::pair<std::string, std::wstring> cases[] = {{"RVX2_105.bin", L"RVX2_105"},
                                                          {"RVX2_105", L"RVX2_105"},
                                                          {"a.b.bin", L"a.b"},
                                                          {".bin", L"?"},
                                                          {"x.", L"x"}};
    for (const auto& [name, expected] : cases) {
        FirmwareImage image;
        ASSERT_TRUE(image.Load(Write(name, {1, 2, 3, 4, 5, 6}), false));
        std::wstring title = L"?";
        EXPECT_EQ(image.GetTitle(title), expected != L"?") << name;
        EXPECT_EQ(title, expected) << name;
    }
}

TEST_F(FirmwareImageFiles, NotNewerComparesUnsignedWithMissingPartsZero) {
    FirmwareImage image;
    EXPECT_FALSE(image.IsNotNewerThan("9.9.9.9"));  // nothing loaded
    // Files 1.5.0.3, 2.1.0.0 ("2.1" reads as 2.1.0.0: equal) and -128.0.0.0 (a negative file
    // component is a large unsigned value too); "-1" is the largest unsigned value.
    const std::tuple<std::vector<std::uint8_t>, std::vector<const char*>, std::vector<const char*>>
        cases[] = {{{0x05, 0x01, 0x03, 0x00, 0, 0},
                    {"1.5.0.3", "1.5.0.4", "1.5.1.0", "1.6", "2.1", "-1.0.0.0"},
                    {"1.5.0.2", "1.5", "1", "", "junk", nullptr}},
                   {{0x01, 0x02, 0x00, 0x00, 0, 0}, {"2.1"}, {"2.0.9.9"}},
                   {{0x00, 0x80, 0x00, 0x00, 0, 0}, {"-128.0.0.0", "-1"}, {"127.0.0.0"}}};
    for (const auto& [file, notNewer, newer] : cases) {
        ASSERT_TRUE(image.Load(Write("a.bin", file), false));
        for (const char* printer : notNewer)
            EXPECT_TRUE(image.IsNotNewerThan(printer)) << printer;
        for (const char* printer : newer)
            EXPECT_FALSE(image.IsNotNewerThan(printer)) << printer;
    }
}

// "RVX2_.bin" has nothing between prefix and extension.
TEST(FirmwareImageNames, NameMustStartWithPrefixAndEndWithExtension) {
    const std::tuple<const char*, const char*, std::vector<const char*>, std::vector<const char*>>
        cases[] = {
            {"rvx2_", "bin", {"RVX2_V105.BIN", "RVX2_1.bin.bin"}, {"RVX2_.bin", "X_RVX2_1.bin"}},
            {"rvx2_", "bin", {}, {"RVX2_1.bin.old", "RVX2_1.xbin"}},
            {"RVX2_", "BIN", {"rvx2_v105.bin"}, {}},
            {"", "bin", {"anything.bin"}, {".bin", ""}},
            {"rvx2_", "", {"RVX2_whatever"}, {"other"}},
            {"", "", {""}, {}}};
    for (const auto& [prefix, extension, fit, unfit] : cases) {
        const FirmwareNameSpec spec{prefix, extension, 1};
        for (const char* name : fit)
            EXPECT_TRUE(FirmwareImage::NameFitsSpec(name, spec)) << name;
        for (const char* name : unfit)
            EXPECT_FALSE(FirmwareImage::NameFitsSpec(name, spec)) << name;
    }
}

// Every length across the 16-byte table step and the 64-byte folding step, from every
// alignment, on random bytes and on all-ones bytes.
TEST(Crc16Arc, BothPathsEqualTheBitwiseDefinition) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> randomBytes(1100), ones(1100, 0xFF);
    std::generate(randomBytes.begin(), randomBytes.end(),
                  [&] { return static_cast<std::uint8_t>(random()); });
    for (const std::vector<std::uint8_t>* bytes : {&randomBytes, &ones})
        for (std::size_t offset = 0; offset < 16; ++offset)
            for (std::size_t size = 0; size + offset <= bytes->size();
                 size += size < 200 ? 1 : 37) {
                const std::uint8_t* data = bytes->data() + offset;
                const std::uint16_t expected = BitwiseCrc16(data, size);
                ASSERT_EQ(Crc16Arc(data, size), expected) << offset << " " << size;
                ASSERT_EQ(Crc16ArcTable(data, size), expected) << offset << " " << size;
            }
    // Chained through its start value, the table path goes on where it stopped.
    const std::uint8_t* data = randomBytes.data();
    EXPECT_EQ(Crc16ArcTable(data + 4, 500, Crc16ArcTable(data, 4)), BitwiseCrc16(data, 504));
    EXPECT_EQ(Crc16Arc(nullptr, 0), 0);
    std::printf("carry-less multiplication path %s\n", Crc16ArcUsesClmul() ? "used" : "unused");
}
