#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Common/Headers/PrinterStates.h"
#include "tests/Halden/XmlTestFiles.h"

// Broken and hostile description files: every one must end the load with true or false,
// without a crash, a leak (AddressSanitizer stage) or a hang (the test's time limit).

namespace {

// Either: how the file is treated is the parser's policy (whether external DTDs and entities
// are read); only a clean end counts.
enum class Outcome { Fails, Loads, Either };

struct HostileCase {
    std::string name;
    std::string content;
    Outcome outcome;
};

std::string ReadShipped(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string Repeat(const std::string& piece, std::size_t times) {
    std::string result;
    result.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        result += piece;
    }
    return result;
}

std::string OnePrinter(const std::string& body) {
    return "<orvane_printing><printers><printer vid='1' pid='2'>" + body +
           "</printer></printers></orvane_printing>";
}

// Ten levels of entities, each referring ten times to the one below: 10^10 expansions.
std::string BillionLaughs(const std::string& root, const std::string& use) {
    std::string dtd = "<!DOCTYPE " + root + " [<!ENTITY l0 'lol'>";
    for (int level = 1; level <= 10; ++level) {
        dtd += "<!ENTITY l" + std::to_string(level) + " '" +
               Repeat("&l" + std::to_string(level - 1) + ";", 10) + "'>";
    }
    return dtd + "]>" + use;
}

std::string ExternalEntity(const std::string& root, const std::string& systemId,
                           const std::string& use) {
    return "<!DOCTYPE " + root + " [<!ENTITY ext SYSTEM '" + systemId + "'>]>" + use;
}

// Each case is written into a folder of its own and read by one loader.
void ExpectDescriptionOutcomes(const std::vector<HostileCase>& cases) {
    for (const HostileCase& c : cases) {
        XmlTestFiles files;
        std::vector<PrinterDescription> records;
        std::string error;
        const bool loaded =
            LoadPrinterDescriptions(files.WriteWide("Wend.xml", c.content), records, &error);
        if (c.outcome != Outcome::Either) {
            EXPECT_EQ(loaded, c.outcome == Outcome::Loads) << c.name << ": " << error;
        }
    }
}

void ExpectIdOutcomes(const std::vector<HostileCase>& cases) {
    for (const HostileCase& c : cases) {
        XmlTestFiles files;
        std::map<std::string, std::int32_t> vendors;
        std::map<std::string, std::int32_t> products;
        std::string error;
        const bool loaded =
            LoadIdMappings(files.WriteWide("WendIDs.xml", c.content), vendors, products, &error);
        if (c.outcome != Outcome::Either) {
            EXPECT_EQ(loaded, c.outcome == Outcome::Loads) << c.name << ": " << error;
        }
    }
}

// A TCP listener on the loopback interface that closes every connection it accepts and counts
// them; Stop ends it and returns the count.
class CountingListener {
public:
    CountingListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        const bool listening =
            fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            ::listen(fd_, 8) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0;
        port_ = listening ? ntohs(address.sin_port) : 0;
        accepting_ = std::thread([this] {
            for (int connection; (connection = ::accept(fd_, nullptr, nullptr)) >= 0;) {
                ++connections_;
                ::close(connection);
            }
        });
    }
    ~CountingListener() { Stop(); }

    int port() const { return port_; }
    int Stop() {
        if (accepting_.joinable()) {
            ::shutdown(fd_, SHUT_RDWR);  // makes the blocked accept fail
            accepting_.join();
            ::close(fd_);
        }
        return connections_;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<int> connections_{0};
    std::thread accepting_;
};

}  // namespace

TEST(HostileFiles, TruncatedShippedFilesFailAtEveryCut) {
    for (const std::string name : {"Wend.xml", "WendIDs.xml"}) {
        const std::string shipped = ReadShipped(name);
        ASSERT_GT(shipped.size(), 200u) << name << " must lie beside the test program";
        const std::size_t lastTag = shipped.rfind("</");
        std::vector<HostileCase> cases;
        for (std::size_t cut = 0; cut < lastTag; cut += 1 + lastTag / 23) {
            cases.push_back(
                {name + " cut at " + std::to_string(cut), shipped.substr(0, cut), Outcome::Fails});
        }
        cases.push_back({name + " without its last '>'", shipped.substr(0, shipped.rfind('>')),
                         Outcome::Fails});
        if (name == "Wend.xml") {
            ExpectDescriptionOutcomes(cases);
        } else {
            ExpectIdOutcomes(cases);
        }
    }
}

TEST(HostileFiles, HugeTextAndAttributesLoadWhole) {
    const std::string text = Repeat("Kestrel ", 512 * 1024);  // 4 MiB
    const std::string value = Repeat("v", 1 << 20);
    XmlTestFiles files;
    std::vector<PrinterDescription> records;
    std::string error;
    ASSERT_TRUE(LoadPrinterDescriptions(
        files.WriteWide("Wend.xml", OnePrinter("<names><productname resourceId='1'>" + text +
                                               "</productname></names><customProperties>"
                                               "<property name='" +
                                               value + "'>x</property></customProperties>")),
        records, &error))
        << error;
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].productName, text);
    EXPECT_EQ(records[0].customProperties.count(value), 1u);

    std::map<std::string, std::int32_t> vendors;
    std::map<std::string, std::int32_t> products;
    ASSERT_TRUE(LoadIdMappings(files.WriteWide("WendIDs.xml",
                                               "<ids><vendor-ids><vendor id='7'>"
                                               "<name>" +
                                                   text +
                                                   "</name></vendor></vendor-ids>"
                                                   "</ids>"),
                               vendors, products, &error))
        << error;
    EXPECT_EQ(vendors.count(text), 1u);
}

TEST(HostileFiles, DeeplyNestedElementsAreSkippedOrRefused) {
    constexpr std::size_t kDepth = 100000;
    const std::string nested = Repeat("<deep>", kDepth) + "text" + Repeat("</deep>", kDepth);
    XmlTestFiles files;
    std::vector<PrinterDescription> records;
    std::string error;
    // Unknown elements inside a printer, and the same depth as a whole document.
    EXPECT_TRUE(
        LoadPrinterDescriptions(files.WriteWide("a.xml", OnePrinter(nested)), records, &error))
        << error;
    EXPECT_EQ(records.size(), 1u);
    EXPECT_TRUE(LoadPrinterDescriptions(files.WriteWide("b.xml", nested), records, &error))
        << error;
    EXPECT_TRUE(records.empty());
    // Nested known elements: every printers level opens a new set, none holds a printer.
    const std::string printers = "<orvane_printing>" + Repeat("<printers>", kDepth) +
                                 Repeat("</printers>", kDepth) + "</orvane_printing>";
    EXPECT_TRUE(LoadPrinterDescriptions(files.WriteWide("c.xml", printers), records, &error))
        << error;
    // Left open at that depth: refused, and every open state is released.
    EXPECT_FALSE(LoadPrinterDescriptions(
        files.WriteWide("d.xml", OnePrinter("<names>" + Repeat("<deep>", kDepth))), records));

    std::map<std::string, std::int32_t> vendors;
    std::map<std::string, std::int32_t> products;
    EXPECT_TRUE(LoadIdMappings(
        files.WriteWide("e.xml", "<ids><vendor-ids>" + nested + "</vendor-ids></ids>"), vendors,
        products, &error))
        << error;
    EXPECT_TRUE(vendors.empty());
}

TEST(HostileFiles, WrongOrBrokenEncodings) {
    const std::string utf8Printer = OnePrinter("<icon>caf\xC3\xA9</icon>");
    std::string utf16Printer = "\xFF\xFE";  // little-endian byte order mark, then the text
    for (const char c : OnePrinter("<icon>x</icon>")) {
        utf16Printer += c;
        utf16Printer += '\0';
    }
    ExpectDescriptionOutcomes({
        {"empty file", "", Outcome::Fails},
        {"only a declaration", "<?xml version='1.0'?>", Outcome::Fails},
        {"NUL bytes", std::string(4096, '\0'), Outcome::Fails},
        {"binary noise", Repeat("\x89PNG\r\n\x1A\n\xFF\xD8\x00\x01", 300), Outcome::Fails},
        {"invalid UTF-8 sequence", OnePrinter("<icon>a\xC3\x28</icon>"), Outcome::Fails},
        {"overlong UTF-8 '<'", OnePrinter("<icon>\xC0\xBC</icon>"), Outcome::Fails},
        // A declaration read as single bytes cannot switch to two-byte units: the library
        // keeps reading the bytes as they are.
        {"UTF-8 declared as UTF-16", "<?xml version='1.0' encoding='UTF-16'?>" + utf8Printer,
         Outcome::Loads},
        {"unknown encoding name",
         "<?xml version='1.0' encoding='x-no-such-charset'?>" + utf8Printer, Outcome::Fails},
        {"UTF-8 read as Latin-1", "<?xml version='1.0' encoding='ISO-8859-1'?>" + utf8Printer,
         Outcome::Loads},
        {"UTF-16 with byte order mark", utf16Printer, Outcome::Loads},
        {"UTF-16 cut in the middle of a character", utf16Printer.substr(0, 41), Outcome::Fails},
        {"character reference to NUL", OnePrinter("<icon>&#0;</icon>"), Outcome::Fails},
        {"character reference beyond Unicode", OnePrinter("<icon>&#x110000;</icon>"),
         Outcome::Fails},
    });
    ExpectIdOutcomes({
        {"invalid UTF-8 in a name",
         "<ids><vendor-ids><vendor id='1'><name>\xFF\xFE</name></vendor></vendor-ids></ids>",
         Outcome::Fails},
        {"UTF-8 declared as UTF-16",
         "<?xml version='1.0' encoding='UTF-16'?><ids><vendor-ids/></ids>", Outcome::Loads},
    });
}

TEST(HostileFiles, EntityTricksEndTheLoadCleanly) {
    XmlTestFiles files;
    const std::string dtd = files.Write("external.dtd", "<!ENTITY fromDtd 'Heron'>");
    const std::string missing = files.dir() + "/missing.ent";
    const std::string bigEntity =
        "<!DOCTYPE orvane_printing [<!ENTITY big '" + std::string(100 * 1024, 'a') + "'>]>";
    const std::string attributeBomb =
        bigEntity + OnePrinter("<customProperties><property name='" + Repeat("&big;", 1000) +
                               "'>x</property></customProperties>");
    const std::string quadratic = "<!DOCTYPE orvane_printing [<!ENTITY big '" +
                                  std::string(10000, 'a') + "'>]>" +
                                  OnePrinter("<icon>" + Repeat("&big;", 200) + "</icon>");
    ExpectDescriptionOutcomes({
        {"billion laughs", BillionLaughs("orvane_printing", OnePrinter("<icon>&l10;</icon>")),
         Outcome::Fails},
        {"billion laughs in an attribute",
         BillionLaughs("orvane_printing",
                       "<orvane_printing><printers><printer vid='&l10;' pid='1'/></printers>"
                       "</orvane_printing>"),
         Outcome::Fails},
        {"recursive entity",
         "<!DOCTYPE orvane_printing [<!ENTITY a '&b;'><!ENTITY b '&a;'>]>" +
             OnePrinter("<icon>&a;</icon>"),
         Outcome::Fails},
        {"undeclared entity", OnePrinter("<icon>&nothing;</icon>"), Outcome::Fails},
        {"external entity to a missing file",
         ExternalEntity("orvane_printing", missing, OnePrinter("<icon>&ext;</icon>")),
         Outcome::Fails},
        {"external entity to a device",
         ExternalEntity("orvane_printing", "/dev/zero", OnePrinter("<icon>&ext;</icon>")),
         Outcome::Fails},
        {"missing external DTD",
         "<!DOCTYPE orvane_printing SYSTEM '" + missing + "'>" + OnePrinter(""), Outcome::Either},
        {"external DTD",
         "<!DOCTYPE orvane_printing SYSTEM '" + dtd + "'>" + OnePrinter("<icon>x</icon>"),
         Outcome::Either},
        {"entity from an external DTD",
         "<!DOCTYPE orvane_printing SYSTEM '" + dtd + "'>" + OnePrinter("<icon>&fromDtd;</icon>"),
         Outcome::Either},
        {"2 MB from one entity", quadratic, Outcome::Loads},
        {"100 MB attribute from one entity", attributeBomb, Outcome::Fails},
    });
    ExpectIdOutcomes({
        {"billion laughs",
         BillionLaughs("ids",
                       "<ids><vendor-ids><vendor id='1'><name>&l10;</name></vendor>"
                       "</vendor-ids></ids>"),
         Outcome::Fails},
        {"external entity to a missing file",
         ExternalEntity("ids", missing,
                        "<ids><vendor-ids><vendor id='1'><name>&ext;</name></vendor>"
                        "</vendor-ids></ids>"),
         Outcome::Fails},
    });
}

// Resource ids are read as a stream reads a decimal int: at the 32-bit limits, past them, with
// signs and blanks. An attribute of one element never reaches the next one's state.
TEST(HostileFiles, AttributesAtTheEdges) {
    struct ResourceIdCase {
        std::string value;
        bool accepted;
        std::int32_t id;
    };
    const std::vector<ResourceIdCase> cases = {
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"+7", true, 7},
        {"&#9;&#10;&#13; 007.9", true, 7},
        {"- 7", false, 0},
        {"+-7", false, 0},
        {"-", false, 0},
        {"", false, 0},
    };
    for (const ResourceIdCase& c : cases) {
        XmlTestFiles files;
        std::vector<PrinterDescription> records;
        const bool loaded = LoadPrinterDescriptions(
            files.WriteWide("Wend.xml", OnePrinter("<names><shortname resourceId='" + c.value +
                                                   "'>x</shortname></names>")),
            records);
        EXPECT_EQ(loaded, c.accepted) << c.value;
        if (loaded && c.accepted) {
            ASSERT_EQ(records.size(), 1u);
            EXPECT_EQ(records[0].shortNameResourceId, c.id) << c.value;
        }
    }
    XmlTestFiles files;
    std::vector<PrinterDescription> records;
    EXPECT_FALSE(LoadPrinterDescriptions(
        files.WriteWide("Wend.xml", OnePrinter("<lutnames default='a'><lut id='a' resourceId='1'/>"
                                               "<lut resourceId='2'/></lutnames>")),
        records));
}

// The library would fetch http system ids itself; the parser takes that away, so every such
// reference fails at once without a connection.
TEST(HostileFiles, NetworkSystemIdsFailWithoutAConnection) {
    CountingListener listener;
    ASSERT_NE(listener.port(), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(listener.port()) + "/x.dtd";
    ExpectDescriptionOutcomes({
        {"external DTD over http",
         "<!DOCTYPE orvane_printing SYSTEM '" + url + "'>" + OnePrinter(""), Outcome::Fails},
        {"external DTD on a closed port",
         "<!DOCTYPE orvane_printing SYSTEM 'http://127.0.0.1:9/x.dtd'>" + OnePrinter(""),
         Outcome::Fails},
        {"external entity over http",
         ExternalEntity("orvane_printing", url, OnePrinter("<icon>&ext;</icon>")), Outcome::Fails},
        {"external parameter entity over http",
         "<!DOCTYPE orvane_printing [<!ENTITY % p SYSTEM '" + url + "'> %p;]>" + OnePrinter(""),
         Outcome::Fails},
        {"external DTD over ftp",
         "<!DOCTYPE orvane_printing SYSTEM 'ftp://127.0.0.1:" + std::to_string(listener.port()) +
             "/x.dtd'>" + OnePrinter(""),
         Outcome::Fails},
    });
    ExpectIdOutcomes({
        {"external DTD over http", "<!DOCTYPE ids SYSTEM '" + url + "'><ids/>", Outcome::Fails},
    });
    EXPECT_EQ(listener.Stop(), 0);
}

// The library resolves external entities by its own rules, so a file beside the program may
// pull in any readable file; what matters here is that it neither crashes nor hangs.
TEST(HostileFiles, ExternalEntityToASystemFileEndsCleanly) {
    XmlTestFiles files;
    std::vector<PrinterDescription> records;
    std::string error;
    const bool loaded = LoadPrinterDescriptions(
        files.WriteWide("Wend.xml", ExternalEntity("orvane_printing", "/etc/passwd",
                                                   OnePrinter("<icon>&ext;</icon>"))),
        records, &error);
    if (loaded) {
        ASSERT_EQ(records.size(), 1u);
    } else {
        EXPECT_TRUE(records.empty()) << error;
    }
}
