#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "device/DeviceIdRecord.h"
#include "platform/LastError.h"

namespace {

// The four fields as "MFG|MDL|VER|PHD", "?" for a field whose getter refuses.
std::string Fields(const DeviceIdRecord& record) {
    std::string fields;
    for (auto getter : {&DeviceIdRecord::GetMFG, &DeviceIdRecord::GetMDL, &DeviceIdRecord::GetVER,
                        &DeviceIdRecord::GetPHD}) {
        char buffer[400];
        fields += "|" + std::string((record.*getter)(buffer, sizeof buffer) ? buffer : "?");
    }
    return fields.substr(1);
}

TEST(DeviceIdRecord, ParseTakesRequiredAndOptionalKeys) {
    const struct {
        const char* name;
        const char* text;
        bool parsed;
        const char* fields;
    } cases[] = {
        {"four fields, others absent", "MFG:Orvane;MDL:OP-900;CMD:ORV;CLS:PRINTER;", true,
         "Orvane|OP-900|?|?"},
        {"field order does not matter", "PHD:H2;VER:1.2.3.4;MDL:OP-900;MFG:Orvane;", true,
         "Orvane|OP-900|1.2.3.4|H2"},
        {"blanks trimmed and collapsed, tab kept", "MFG:  Orvane   Imaging ;MDL: OP\t900 ;", true,
         "Orvane Imaging|OP\t900|?|?"},
        {"last field without semicolon", "MFG:Orvane;MDL:OP-900", true, "Orvane|OP-900|?|?"},
        {"empty value", "MFG:;MDL:OP-900;VER:;", true, "|OP-900||?"},
        {"first of two equal keys wins", "MFG:A;MDL:B;MFG:C;MDL:D;", true, "A|B|?|?"},
        {"key found inside an earlier value", "DES:see MDL:X1;MFG:Orvane;MDL:OP-900;", true,
         "Orvane|X1|?|?"},
        {"lower-case key is not a key", "mfg:Orvane;MDL:OP-900;", false, "?|?|?|?"},
        {"long key spelling is not a key", "MANUFACTURER:Orvane;MODEL:OP-900;", false, "?|?|?|?"},
        {"MDL missing", "MFG:Orvane;CMD:ORV;", false, "?|?|?|?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceIdRecord record;
        EXPECT_EQ(record.Parse(c.text), c.parsed);
        EXPECT_EQ(Fields(record), c.fields);
    }
}

TEST(DeviceIdRecord, GettersRefuseWithoutWriting) {
    DeviceIdRecord record;
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_FALSE(record.GetMFG(buffer, sizeof buffer));  // not parsed yet
    ASSERT_TRUE(record.Parse("MFG:Orvane;MDL:OP-900;"));

    EXPECT_FALSE(record.GetMFG(buffer, 6));  // "Orvane" needs 7 bytes with its NUL
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(16, '#'));
    EXPECT_TRUE(record.GetMFG(buffer, 7));
    EXPECT_STREQ(buffer, "Orvane");
    EXPECT_EQ(buffer[7], '#');

    platform::SetLastError(0);
    EXPECT_FALSE(record.GetMDL(nullptr, 400));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
    platform::SetLastError(0);
    EXPECT_FALSE(record.Parse(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
}

TEST(DeviceIdRecord, ExtractKeyValueStaysWithinWorkingCopy) {
    const std::string value255(255, 'v');
    const std::string value300(300, 'w');
    const std::string tail1000(1000, 'x');
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    } cases[] = {
        {"255-byte value unchanged", "MFG:" + value255 + ";MDL:B;", value255},
        {"longer value cut to 255", "MFG:" + value300 + ";MDL:B;", value300.substr(0, 255)},
        {"long tail without semicolon", "MFG:" + tail1000, tail1000.substr(0, 255)},
        {"semicolon beyond the cut is not reached", "MFG:" + value300 + ";",
         value300.substr(0, 255)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char* out = nullptr;
        ASSERT_TRUE(DeviceIdRecord::ExtractKeyValue(c.text.c_str(), "MFG:", &out));
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(std::string(out), c.expected);
        std::free(out);
    }

    char sentinel = 0;
    char* slot = &sentinel;
    EXPECT_FALSE(DeviceIdRecord::ExtractKeyValue("MDL:B;", "MFG:", &slot));
    EXPECT_EQ(slot, &sentinel);
    EXPECT_FALSE(DeviceIdRecord::ExtractKeyValue(nullptr, "MFG:", &slot));
    EXPECT_FALSE(DeviceIdRecord::ExtractKeyValue("MFG:A;", nullptr, &slot));
    EXPECT_EQ(slot, &sentinel);
}

TEST(DeviceIdRecord, CollapseSpacesTouchesBlanksOnly) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"   ", ""},
        {"a    b  c", "a b c"},
        {" \ta\r\n b ", "\ta\r\n b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        std::string text = c.in;
        EXPECT_EQ(DeviceIdRecord::CollapseSpaces(text.data()), text.data());
        EXPECT_STREQ(text.c_str(), c.out);
    }
    EXPECT_EQ(DeviceIdRecord::CollapseSpaces(nullptr), nullptr);
}

}  // namespace
