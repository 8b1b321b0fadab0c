#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "tests/Common/DescriptionLoadSupport.h"

TEST(PrinterGrammar, DocumentAndPrinterIds) {
    const LoadedDescriptions other = LoadDescriptionsFrom(
        "<printing><printers><printer vid='1' pid='2'/></printers></printing>");
    EXPECT_TRUE(other.ok && other.records.empty());
    const struct {
        std::string ids;
        std::uint32_t vendor, product;
    } cases[] = {{"vid='0x12' pid='18'", 18, 18},
                 {"vid='010' pid='12ab'", 8, 12},
                 {"vid=' -1' pid='0X2f1a'", 0xFFFFFFFFu, 0x2F1A}};
    for (const auto& c : cases) {
        const LoadedDescriptions loaded = LoadDescriptionsFrom(PrinterDocument("", "", c.ids));
        ASSERT_TRUE(loaded.ok && loaded.records.size() == 1) << c.ids << ": " << loaded.error;
        EXPECT_EQ(loaded.records[0].vendorId, c.vendor) << c.ids;
        EXPECT_EQ(loaded.records[0].productId, c.product) << c.ids;
    }
    for (const std::string ids : {"vid='' pid='1'", "vid='ab' pid='1'", "pid='1'", "vid='1'"}) {
        const LoadedDescriptions loaded = LoadDescriptionsFrom(PrinterDocument("", "", ids));
        EXPECT_FALSE(loaded.ok) << ids;
        EXPECT_EQ(loaded.error, "An exception occurred") << ids;
    }
}

TEST(PrinterGrammar, RecordsKeepDocumentOrderAndAFailedPrinterNeverArrives) {
    const LoadedDescriptions loaded = LoadDescriptionsFrom(
        "<orvane_printing><printers><printer vid='1' pid='1'/><printer vid='1' pid='1'>"
        "<icon>second</icon></printer></printers><printers><printer vid='2' pid='3'/>"
        "</printers></orvane_printing>");
    ASSERT_TRUE(loaded.ok);
    ASSERT_EQ(loaded.records.size(), 3u);
    EXPECT_EQ(loaded.records[1].icon, "second");
    EXPECT_EQ(loaded.records[2].productId, 3u);

    const LoadedDescriptions failed = LoadDescriptionsFrom(
        "<orvane_printing><printers><printer vid='1' pid='1'/><printer vid='1' pid='2'>"
        "<firmware/></printer></printers></orvane_printing>");
    EXPECT_FALSE(failed.ok);
    ASSERT_EQ(failed.records.size(), 1u);
    EXPECT_EQ(failed.records[0].productId, 1u);
}

TEST(PrinterGrammar, EmptyPrinterKeepsTheDefaults) {
    const PrinterDescription d = LoadOnePrinter("stray text<unknown a='1'><names/></unknown>");
    EXPECT_EQ(std::make_tuple(d.shortName, d.shortNameResourceId, d.firmwareCrcVerify, d.rotate,
                              d.stripVersionBytes, d.requiresReboot, d.heads.size()),
              std::make_tuple("Unknown", -1, -1, 0, false, true, 0u));
}

TEST(PrinterGrammar, NamesIconAndRotate) {
    const PrinterDescription d = LoadOnePrinter(
        "<names><productname resourceId=' 12'>P</productname><longname resourceId='0x10'> L "
        "</longname><shortname resourceId='7'>first</shortname><shortname resourceId='8'>"
        "second</shortname><other resourceId='x'/></names>"
        "<icon>a.ico</icon><icon>b.ico</icon><rotate/>");
    EXPECT_EQ(
        std::make_tuple(d.productName, d.productNameResourceId, d.longName, d.longNameResourceId,
                        d.shortName, d.shortNameResourceId, d.icon, d.rotate),
        std::make_tuple("P", 12, " L ", 0, "second", 8, "b.ico", 2));

    EXPECT_EQ(LoadOnePrinter("<names><productname resourceId='3'/></names>").productName, "");
    // Resource ids are read as a stream reads a decimal int: at the 32-bit limits, past them,
    // with signs and blanks; 0 stands for refused.
    const std::pair<std::string, std::int32_t> ids[] = {{"2147483647", 2147483647},
                                                        {"9", 9},
                                                        {"-2147483648", -2147483647 - 1},
                                                        {"+7", 7},
                                                        {"&#9;&#10;&#13; 007.9", 7},
                                                        {"2147483648", 0},
                                                        {"-2147483649", 0},
                                                        {"99999999999999999999", 0},
                                                        {"- 7", 0},
                                                        {"+-7", 0},
                                                        {"-", 0},
                                                        {"", 0},
                                                        {"x", 0}};
    for (const auto& [value, id] : ids) {
        const LoadedDescriptions loaded = LoadDescriptionsFrom(
            PrinterDocument("<names><shortname resourceId='" + value + "'>x</shortname></names>"));
        EXPECT_EQ(loaded.ok, id != 0) << value;
        EXPECT_EQ(loaded.ok ? loaded.records.at(0).shortNameResourceId : 0, id) << value;
        EXPECT_EQ(loaded.error, loaded.ok ? "untouched"
                                          : "No/invalid value for one or more attributes on "
                                            "<shortname>");
    }
    ExpectFailures({{"<names><productname/></names>",
                     "No/invalid value for one or more attributes on <productname>"},
                    {"<names><longname resourceId='x'/></names>",
                     "No/invalid value for one or more attributes on <longname>"}});
}

TEST(PrinterGrammar, TriStatesAndFirmwareFlags) {
    const PrinterDescription d = LoadOnePrinter(
        "<drag-and-drop supported='true'/><firmware-crc-verify supported='false'/>"
        "<mediaRemaining supported='false'/><mediaRemaining supported='true'/>"
        "<firmware stripVersionBytes='true' requires-reboot='false'/>");
    EXPECT_EQ(std::make_tuple(d.dragAndDrop, d.firmwareCrcVerify, d.mediaRemaining,
                              d.stripVersionBytes, d.requiresReboot),
              std::make_tuple(1, 0, 1, true, false));

    ExpectFailures({
        {"<drag-and-drop/>", "Missing \"supported\" attribute!"},
        {"<firmware-crc-verify supported='True'/>",
         "Unexpected value for \"supported\" (should be boolean)!"},
        {"<mediaRemaining supported=''/>",
         "Unexpected value for \"supported\" (should be boolean)!"},
        {"<firmware/>", "Missing \"stripVersionBytes\" attribute!"},
        {"<firmware stripVersionBytes='false'/>", "Missing \"requires-reboot\" attribute!"},
        {"<firmware stripVersionBytes='1' requires-reboot='true'/>",
         "Unexpected value for \"stripVersionBytes\" (should be boolean)!"},
        {"<firmware stripVersionBytes='true' requires-reboot='yes'/>",
         "Unexpected value for \"requires-reboot\" (should be boolean)!"},
    });
}

TEST(PrinterGrammar, LutNames) {
    const PrinterDescription d = LoadOnePrinter(
        "<lutnames default=''><lut id='a' resourceId='1'/><lut id='a' resourceId='2'/>"
        "<lut id='' resourceId=' 3x'/></lutnames><lutnames default='a'/>");
    EXPECT_EQ(d.defaultLut, "a");
    EXPECT_EQ(d.lutNames, (std::map<std::string, std::int32_t>{{"a", 1}, {"", 3}}));
    ExpectFailures({
        {"<lutnames/>", "An exception occurred"},
        {"<lutnames default='a'><lut resourceId='1'/></lutnames>",
         "No/invalid value for one or more attributes on <lut>"},
        {"<lutnames default='a'><lut id='a'/></lutnames>",
         "No/invalid value for one or more attributes on <lut>"},
        {"<lutnames default='a'><lut id='a' resourceId='x'/></lutnames>",
         "No/invalid value for one or more attributes on <lut>"},
    });
}

TEST(PrinterGrammar, HeadsLastWinsWithModulesAndSpecs) {
    const PrinterDescription d = LoadOnePrinter(
        "<heads default='H'>"
        "<head id='H'><firmware-file-name-specs><file-name-spec><prefix>OLD</prefix>"
        "</file-name-spec></firmware-file-name-specs></head>"
        "<head id='H'><lutmodules><lutmodule lutref='r' name='n' donor='' media='-4'/>"
        "<lutmodule lutref='' name='' donor='0x10'/><other/></lutmodules>"
        "<firmware-file-name-specs>"
        "<file-name-spec><version-format>3</version-format></file-name-spec>"
        "<file-name-spec><extension>bin</extension></file-name-spec>"
        "<file-name-spec><prefix>A</prefix><prefix> B </prefix><extension>fw</extension>"
        "<version-format>0x2</version-format></file-name-spec>"
        "<file-name-spec><prefix>C</prefix><version-format>abc</version-format></file-name-spec>"
        "</firmware-file-name-specs></head>"
        "<head id=''/></heads>");
    EXPECT_EQ(d.defaultHead, "H");
    ASSERT_EQ(d.heads.size(), 2u);
    const HeadDefinition& h = d.heads.at("H");
    EXPECT_EQ(h.id, "H");
    ASSERT_EQ(h.lutModules.size(), 2u);
    const auto lut = [&](int i) {
        const LutModule& m = h.lutModules[i];
        return std::make_tuple(m.lutRef, m.name, m.donor, m.media);
    };
    EXPECT_EQ(lut(0), std::make_tuple("r", "n", -1, -4));
    EXPECT_EQ(lut(1), std::make_tuple("", "", 16, -1));
    ASSERT_EQ(h.firmwareNameSpecs.size(), 3u);
    const auto spec = [&](int i) {
        const FirmwareNameSpec& f = h.firmwareNameSpecs[i];
        return std::make_tuple(f.prefix, f.extension, f.versionFormat);
    };
    EXPECT_EQ(spec(0), std::make_tuple("", "bin", 1));
    EXPECT_EQ(spec(1), std::make_tuple(" B ", "fw", 2));
    EXPECT_EQ(spec(2), std::make_tuple("C", "", 0));
    EXPECT_EQ(d.heads.at("").id, "");
    EXPECT_EQ(d.GetDefaultHead().firmwareNameSpecs.size(), 3u);

    const auto lutmodule = [](const std::string& attributes) {
        return "<heads default='H'><head id='H'><lutmodules><lutmodule " + attributes +
               "/></lutmodules></head></heads>";
    };
    const std::string noName = "No/invalid value for LUT or module name in <lutmodule>";
    ExpectFailures({
        {"<heads/>", "An exception occurred"},
        {"<heads default='H'><head/></heads>", "No/invalid value for name on <head>"},
        {lutmodule("name='n'"), noName},
        {lutmodule("lutref='r'"), noName},
        {lutmodule("lutref='r' name='n' donor='x'"), "Invalid value for attribute 'donor'"},
        {lutmodule("lutref='r' name='n' media=' '"), "Invalid value for attribute 'media'"},
    });
}

TEST(PrinterGrammar, ConnectionsInDocumentOrder) {
    const PrinterDescription d = LoadOnePrinter(
        "<protocols><usb format='jpeg'/><network format='cmy-cmd-planar' discovery-model="
        "'udp-fn'/><serial/><usb format='cmy-cmd-planar'/><network format='jpeg' "
        "discovery-model='rendezvous'/></protocols>");
    std::ostringstream printed;
    for (const auto& connection : d.connections) {
        connection->Print(printed) << "|";
    }
    EXPECT_EQ(printed.str(),
              "USBConnection: { outputFormat = 2 }|"
              "NetworkConnection: { outputFormat = 1, discoveryProtocol = 2 }|"
              "USBConnection: { outputFormat = 1 }|"
              "NetworkConnection: { outputFormat = 2, discoveryProtocol = 1 }|");
    ExpectFailures({
        {"<protocols><usb/></protocols>", "Missing one or more required attributes on <usb>"},
        {"<protocols><usb format='JPEG'/></protocols>",
         "No/invalid value for one or more attributes on <usb>"},
        {"<protocols><network format='jpeg'/></protocols>",
         "Missing one or more required attributes on <network>"},
        {"<protocols><network discovery-model='udp-fn'/></protocols>",
         "Missing one or more required attributes on <network>"},
        {"<protocols><network format='png' discovery-model='udp-fn'/></protocols>",
         "No/invalid value for one or more attributes on <network>"},
        {"<protocols><network format='jpeg' discovery-model='mdns'/></protocols>",
         "No/invalid value for one or more attributes on <network>"},
    });
}

TEST(PrinterGrammar, CustomPropertiesFirstWins) {
    const PrinterDescription d = LoadOnePrinter(
        "<customProperties><property>no name</property><property name=''>empty</property>"
        "<property name='a'> one </property><property name='a'>two</property>"
        "<property name='b'/><property name='c'>x<skip/>y</property></customProperties>");
    EXPECT_EQ(d.customProperties,
              (std::map<std::string, std::string>{{"a", " one "}, {"b", ""}, {"c", "xy"}}));
}
