#include "device/DeviceIdRecord.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "platform/LastError.h"

// The four fields as "MFG|MDL|VER|PHD", "?" for a field whose getter refuses.
static std::string Fields(const DeviceIdRecord& record) {
    std::string fields;
    for (auto getter : {&DeviceIdRecord::GetMFG, &DeviceIdRecord::GetMDL, &DeviceIdRecord::GetVER,
                        &DeviceIdRecord::GetPHD}) {
        char buffer[400];
        fields += "|" + std::string((record.*getter)(buffer, sizeof buffer) ? buffer : "?");
    }
    return fields.substr(1);
}

// Parsing succeeds exactly when the fields are not all refused.
TEST(DeviceIdRecord, ParseTakesRequiredAndOptionalKeys) {
    const std::pair<const char*, const char*> cases[] = {
        {"MFG:Orvane;MDL:OP-900;CMD:ORV;CLS:PRINTER;", "Orvane|OP-900|?|?"},
        {"PHD:H2;VER:1.2.3.4;MDL:OP-900;MFG:Orvane;", "Orvane|OP-900|1.2.3.4|H2"},
        {"MFG:  Orvane   Imaging ;MDL: OP\t900 ;", "Orvane Imaging|OP\t900|?|?"},  // tab kept
        {"MFG:Orvane;MDL:OP-900", "Orvane|OP-900|?|?"},
        {"MFG:;MDL:OP-900;VER:;", "|OP-900||?"},
        {"MFG:A;MDL:B;MFG:C;MDL:D;", "A|B|?|?"},
        {"DES:see MDL:X1;MFG:Orvane;MDL:OP-900;", "Orvane|X1|?|?"},  // key inside a value
        {"mfg:Orvane;MDL:OP-900;", "?|?|?|?"},
        {"MANUFACTURER:Orvane;MODEL:OP-900;", "?|?|?|?"},
        {"MFG:Orvane;CMD:ORV;", "?|?|?|?"},
    };
    for (const auto& [text, fields] : cases) {
        SCOPED_TRACE(text);
        DeviceIdRecord record;
        EXPECT_EQ(record.Parse(text), std::string(fields) != "?|?|?|?");
        EXPECT_EQ(Fields(record), fields);
    }
}

TEST(DeviceIdRecord, GettersRefuseWithoutWriting) {
    DeviceIdRecord record;
    char buffer[] = "################";
    EXPECT_FALSE(record.GetMFG(buffer, sizeof buffer));  // not parsed yet
    ASSERT_TRUE(record.Parse("MFG:Orvane;MDL:OP-900;"));
    EXPECT_FALSE(record.GetMFG(buffer, 6));  // "Orvane" needs 7 bytes with its NUL
    EXPECT_EQ(std::string(buffer), std::string(16, '#'));
    EXPECT_TRUE(record.GetMFG(buffer, 7));
    EXPECT_EQ(std::string(buffer, 8), std::string("Orvane\0#", 8));
    platform::SetLastError(0);
    EXPECT_FALSE(record.GetMDL(nullptr, 400));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
    platform::SetLastError(0);
    EXPECT_FALSE(record.Parse(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
}

// Values are cut to 255 bytes, and a semicolon beyond the cut is not looked for.
TEST(DeviceIdRecord, ExtractKeyValueStaysWithinWorkingCopy) {
    const std::string v255(255, 'v'), w300(300, 'w'), x1000(1000, 'x');
    for (const auto& [text, expected] : {std::pair{"MFG:" + v255 + ";MDL:B;", v255},
                                         {"MFG:" + w300 + ";MDL:B;", w300.substr(0, 255)},
                                         {"MFG:" + x1000, x1000.substr(0, 255)},
                                         {"MFG:" + w300 + ";", w300.substr(0, 255)}}) {
        char* out = nullptr;
        ASSERT_TRUE(DeviceIdRecord::ExtractKeyValue(text.c_str(), "MFG:", &out));
        EXPECT_EQ(std::string(out), expected);
        std::free(out);
    }
    char sentinel = 0, *slot = &sentinel;
    EXPECT_FALSE(DeviceIdRecord::ExtractKeyValue("MDL:B;", "MFG:", &slot));
    EXPECT_FALSE(DeviceIdRecord::ExtractKeyValue(nullptr, "MFG:", &slot));
    EXPECT_FALSE(DeviceIdRecord::ExtractKeyValue("MFG:A;", nullptr, &slot));
    EXPECT_EQ(slot, &sentinel);
}

TEST(DeviceIdRecord, CollapseSpacesTouchesBlanksOnly) {
    for (const auto& [in, out] :
         {std::pair{"", ""}, {"   ", ""}, {"a    b  c", "a b c"}, {" \ta\r\n b ", "\ta\r\n b"}}) {
        std::string text = in;
        EXPECT_EQ(DeviceIdRecord::CollapseSpaces(text.data()), text.data());
        EXPECT_STREQ(text.c_str(), out);
    }
    EXPECT_EQ(DeviceIdRecord::CollapseSpaces(nullptr), nullptr);
}
