#include <gtest/gtest.h>

#include <sstream>

#include "tests/Common/DescriptionLoadSupport.h"

namespace {
const std::string kInvalid = "No/invalid value for one or more attributes on <";
const std::string kMissing = "Missing one or more required attributes on <";
std::string NotBoolean(const std::string& attribute) {
    return "Unexpected value for \"" + attribute + "\" (should be boolean)!";
}
}  // namespace

TEST(PrinterGrammar, DocumentsIdsAndDocumentOrder) {
    const std::pair<std::string, std::string> cases[] = {
        {"<printing><printers><printer vid='1' pid='2'/></printers></printing>", ""},
        {PrinterDocument("", "", "vid='0x12' pid='18'"), "18:18 "},
        {PrinterDocument("", "", "vid='010' pid='12ab'"), "8:12 "},
        {PrinterDocument("", "", "vid=' -1' pid='0X2f1a'"), "4294967295:12058 "},
        {PrinterDocument("", "", "vid='' pid='1'"), "!An exception occurred"},
        {PrinterDocument("", "", "vid='ab' pid='1'"), "!An exception occurred"},
        {PrinterDocument("", "", "pid='1'"), "!An exception occurred"},
        {PrinterDocument("", "", "vid='1'"), "!An exception occurred"},
        {"<orvane_printing><printers><printer vid='1' pid='1'/><printer vid='1' pid='4'>"
         "<icon>second</icon></printer></printers><printers><printer vid='2' pid='3'/>"
         "</printers></orvane_printing>",
         "1:1 1:4 2:3 "},
        // A failed printer never arrives.
        {"<orvane_printing><printers><printer vid='1' pid='1'/><printer vid='1' pid='2'>"
         "<firmware/></printer></printers></orvane_printing>",
         "1:1 !Missing \"stripVersionBytes\" attribute!"},
    };
    for (const auto& [xml, expected] : cases) {
        EXPECT_EQ(Outcome(xml), expected) << xml;
    }
}

TEST(PrinterGrammar, ScalarFields) {
    const std::pair<std::string, std::string> cases[] = {
        {"stray text<unknown a='1'><names/></unknown>",
         "1:2 Unknown/-1 Unknown/-1 Unknown/-1 m-1 d-1 c-1 r0 s0 b1 [||] 000000000"},
        {"<names><productname resourceId=' 12'>P</productname><longname resourceId='0x10'> L "
         "</longname><shortname resourceId='7'>first</shortname><shortname resourceId='8'>"
         "second</shortname><other resourceId='x'/></names><icon>a.ico</icon><icon>b.ico</icon>"
         "<rotate/>",
         "1:2 P/12  L /0 second/8 m-1 d-1 c-1 r2 s0 b1 [b.ico||] 000000000"},
        {"<names><productname resourceId='3'/></names>",
         "1:2 /3 Unknown/-1 Unknown/-1 m-1 d-1 c-1 r0 s0 b1 [||] 000000000"},
        {"<drag-and-drop supported='true'/><firmware-crc-verify supported='false'/>"
         "<mediaRemaining supported='false'/><mediaRemaining supported='true'/>"
         "<firmware stripVersionBytes='true' requires-reboot='false'/>",
         "1:2 Unknown/-1 Unknown/-1 Unknown/-1 m1 d1 c0 r0 s1 b0 [||] 000000000"},
    };
    for (const auto& [body, expected] : cases) {
        EXPECT_EQ(Summary(LoadOnePrinter(body)), expected) << body;
    }
    // Resource ids are read as a stream reads a decimal int: at the 32-bit limits, past them,
    // with signs and blanks; 0 stands for refused.
    std::string ids;
    for (const std::string value :
         {"2147483647", "9", "-2147483648", "+7", "&#9;&#10;&#13; 007.9", "2147483648",
          "-2147483649", "99999999999999999999", "- 7", "+-7", "-", "", "x"}) {
        const LoadedDescriptions loaded = LoadDescriptionsFrom(
            PrinterDocument("<names><shortname resourceId='" + value + "'/></names>"));
        ids += loaded.ok ? std::to_string(loaded.records.at(0).shortNameResourceId)
               : loaded.error == kInvalid + "shortname>" ? "refused"
                                                         : loaded.error;
        ids += " ";
    }
    EXPECT_EQ(ids,
              "2147483647 9 -2147483648 7 7 refused refused refused refused refused refused "
              "refused refused ");
    ExpectFailures(
        {{"<names><productname/></names>", kInvalid + "productname>"},
         {"<names><longname resourceId='x'/></names>", kInvalid + "longname>"},
         {"<drag-and-drop/>", "Missing \"supported\" attribute!"},
         {"<firmware-crc-verify supported='True'/>", NotBoolean("supported")},
         {"<mediaRemaining supported=''/>", NotBoolean("supported")},
         {"<firmware/>", "Missing \"stripVersionBytes\" attribute!"},
         {"<firmware stripVersionBytes='false'/>", "Missing \"requires-reboot\" attribute!"},
         {"<firmware stripVersionBytes='1' requires-reboot='true'/>",
          NotBoolean("stripVersionBytes")},
         {"<firmware stripVersionBytes='true' requires-reboot='yes'/>",
          NotBoolean("requires-reboot")}});
}

// Lut names and custom properties: the first of a name wins.
TEST(PrinterGrammar, LutNamesAndCustomProperties) {
    const PrinterDescription d = LoadOnePrinter(
        "<lutnames default=''><lut id='a' resourceId='1'/><lut id='a' resourceId='2'/>"
        "<lut id='' resourceId=' 3x'/></lutnames><lutnames default='a'/>"
        "<customProperties><property>no name</property><property name=''>empty</property>"
        "<property name='a'> one </property><property name='a'>two</property>"
        "<property name='b'/><property name='c'>x<skip/>y</property></customProperties>");
    EXPECT_EQ(d.customProperties,
              (std::map<std::string, std::string>{{"a", " one "}, {"b", ""}, {"c", "xy"}}));
    EXPECT_EQ(d.defaultLut, "a");
    EXPECT_EQ(d.lutNames, (std::map<std::string, std::int32_t>{{"a", 1}, {"", 3}}));
    ExpectFailures(
        {{"<lutnames/>", "An exception occurred"},
         {"<lutnames default='a'><lut resourceId='1'/></lutnames>", kInvalid + "lut>"},
         {"<lutnames default='a'><lut id='a'/></lutnames>", kInvalid + "lut>"},
         {"<lutnames default='a'><lut id='a' resourceId='x'/></lutnames>", kInvalid + "lut>"}});
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
    std::ostringstream printed;
    for (const auto& [id, h] : d.heads) {
        printed << "[" << id << "=" << h.id << "]";
        for (const LutModule& m : h.lutModules) {
            printed << " lut " << m.lutRef << "/" << m.name << "/" << m.donor << "/" << m.media;
        }
        for (const FirmwareNameSpec& f : h.firmwareNameSpecs) {
            printed << " spec " << f.prefix << "/" << f.extension << "/" << f.versionFormat;
        }
    }
    EXPECT_EQ(printed.str(),
              "[=][H=H] lut r/n/-1/-4 lut //16/-1 spec /bin/1 spec  B /fw/2 spec C//0");
    EXPECT_EQ(d.defaultHead, "H");

    const auto lutmodule = [](const std::string& attributes) {
        return "<heads default='H'><head id='H'><lutmodules><lutmodule " + attributes +
               "/></lutmodules></head></heads>";
    };
    const std::string noName = "No/invalid value for LUT or module name in <lutmodule>";
    ExpectFailures(
        {{"<heads/>", "An exception occurred"},
         {"<heads default='H'><head/></heads>", "No/invalid value for name on <head>"},
         {lutmodule("name='n'"), noName},
         {lutmodule("lutref='r'"), noName},
         {lutmodule("lutref='r' name='n' donor='x'"), "Invalid value for attribute 'donor'"},
         {lutmodule("lutref='r' name='n' media=' '"), "Invalid value for attribute 'media'"}});
}

TEST(PrinterGrammar, ConnectionsInDocumentOrder) {
    const PrinterDescription d = LoadOnePrinter(
        "<protocols><usb format='jpeg'/><network format='cmy-cmd-planar' discovery-model="
        "'udp-fn'/><serial/><usb format='cmy-cmd-planar'/><network format='jpeg' "
        "discovery-model='rendezvous'/></protocols>");
    std::ostringstream printed;
    for (const auto& connection : d.connections) {
        printed << connection->kind << " " << *connection << "|";
    }
    // Kinds: 0 USB, 1 network.
    EXPECT_EQ(printed.str(),
              "0 USBConnection: { outputFormat = 2 }|"
              "1 NetworkConnection: { outputFormat = 1, discoveryProtocol = 2 }|"
              "0 USBConnection: { outputFormat = 1 }|"
              "1 NetworkConnection: { outputFormat = 2, discoveryProtocol = 1 }|");
    ExpectFailures(
        {{"<protocols><usb/></protocols>", kMissing + "usb>"},
         {"<protocols><usb format='JPEG'/></protocols>", kInvalid + "usb>"},
         {"<protocols><network format='jpeg'/></protocols>", kMissing + "network>"},
         {"<protocols><network discovery-model='udp-fn'/></protocols>", kMissing + "network>"},
         {"<protocols><network format='png' discovery-model='udp-fn'/></protocols>",
          kInvalid + "network>"},
         {"<protocols><network format='jpeg' discovery-model='mdns'/></protocols>",
          kInvalid + "network>"}});
}
