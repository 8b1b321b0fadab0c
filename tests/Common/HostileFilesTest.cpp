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

// kEither: how the file is treated is the parser's policy (whether external DTDs and entities
// are read); only a clean end counts.
enum Outcome { kFails, kLoads, kEither };

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

struct Loaded {
    bool ok;
    std::string error;
    std::vector<PrinterDescription> records;
    std::map<std::string, std::int32_t> vendors;
};

// Loads content as the named file (its name picks the loader) from a folder of its own.
Loaded Load(const std::string& name, const std::string& content) {
    XmlTestFiles files;
    const std::wstring path = files.WriteWide(name, content);
    Loaded result;
    std::map<std::string, std::int32_t> products;
    result.ok = name == "WendIDs.xml"
                    ? LoadIdMappings(path, result.vendors, products, &result.error)
                    : LoadPrinterDescriptions(path, result.records, &result.error);
    return result;
}

void ExpectOutcomes(const std::string& name, const std::vector<HostileCase>& cases) {
    for (const HostileCase& c : cases) {
        const Loaded loaded = Load(name, c.content);
        if (c.outcome != kEither) {
            EXPECT_EQ(loaded.ok, c.outcome == kLoads) << c.name << ": " << loaded.error;
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
            cases.push_back({"cut at " + std::to_string(cut), shipped.substr(0, cut), kFails});
        }
        cases.push_back({"without its last '>'", shipped.substr(0, shipped.rfind('>')), kFails});
        SCOPED_TRACE(name);
        ExpectOutcomes(name, cases);
    }
}

TEST(HostileFiles, HugeTextAndAttributesLoadWhole) {
    const std::string text = Repeat("Kestrel ", 512 * 1024);  // 4 MiB
    const std::string value = Repeat("v", 1 << 20);
    const Loaded descriptions =
        Load("Wend.xml", OnePrinter("<names><productname resourceId='1'>" + text +
                                    "</productname></names><customProperties><property name='" +
                                    value + "'>x</property></customProperties>"));
    ASSERT_TRUE(descriptions.ok) << descriptions.error;
    ASSERT_EQ(descriptions.records.size(), 1u);
    EXPECT_EQ(descriptions.records[0].productName, text);
    EXPECT_EQ(descriptions.records[0].customProperties.count(value), 1u);
    const Loaded ids = Load("WendIDs.xml", "<ids><vendor-ids><vendor id='7'><name>" + text +
                                               "</name></vendor></vendor-ids></ids>");
    ASSERT_TRUE(ids.ok) << ids.error;
    EXPECT_EQ(ids.vendors.count(text), 1u);
}

TEST(HostileFiles, DeeplyNestedElementsAreSkippedOrRefused) {
    constexpr std::size_t kDepth = 100000;
    const std::string nested = Repeat("<deep>", kDepth) + "text" + Repeat("</deep>", kDepth);
    const Loaded inPrinter = Load("Wend.xml", OnePrinter(nested));
    EXPECT_TRUE(inPrinter.ok) << inPrinter.error;
    EXPECT_EQ(inPrinter.records.size(), 1u);
    const Loaded whole = Load("Wend.xml", nested);
    EXPECT_TRUE(whole.ok && whole.records.empty()) << whole.error;
    const Loaded ids = Load("WendIDs.xml", "<ids><vendor-ids>" + nested + "</vendor-ids></ids>");
    EXPECT_TRUE(ids.ok && ids.vendors.empty()) << ids.error;
    ExpectOutcomes("Wend.xml",
                   // Every printers level opens a new set; none holds a printer.
                   {{"nested printers",
                     "<orvane_printing>" + Repeat("<printers>", kDepth) +
                         Repeat("</printers>", kDepth) + "</orvane_printing>",
                     kLoads},
                    // Refused, and every open state is released.
                    {"left open", OnePrinter("<names>" + Repeat("<deep>", kDepth)), kFails}});
}

TEST(HostileFiles, WrongOrBrokenEncodings) {
    const std::string utf8Printer = OnePrinter("<icon>caf\xC3\xA9</icon>");
    std::string utf16Printer = "\xFF\xFE";  // little-endian byte order mark, then the text
    for (const char c : OnePrinter("<icon>x</icon>")) {
        utf16Printer += {c, '\0'};
    }
    ExpectOutcomes(
        "Wend.xml",
        {{"empty file", "", kFails},
         {"only a declaration", "<?xml version='1.0'?>", kFails},
         {"NUL bytes", std::string(4096, '\0'), kFails},
         {"binary noise", Repeat("\x89PNG\r\n\x1A\n\xFF\xD8\x00\x01", 300), kFails},
         {"invalid UTF-8 sequence", OnePrinter("<icon>a\xC3\x28</icon>"), kFails},
         {"overlong UTF-8 '<'", OnePrinter("<icon>\xC0\xBC</icon>"), kFails},
         // A declaration read as single bytes cannot switch to two-byte units: the library keeps
         // reading the bytes as they are.
         {"UTF-8 declared as UTF-16", "<?xml version='1.0' encoding='UTF-16'?>" + utf8Printer,
          kLoads},
         {"unknown encoding name",
          "<?xml version='1.0' encoding='x-no-such-charset'?>" + utf8Printer, kFails},
         {"UTF-8 read as Latin-1", "<?xml version='1.0' encoding='ISO-8859-1'?>" + utf8Printer,
          kLoads},
         {"UTF-16 with byte order mark", utf16Printer, kLoads},
         {"UTF-16 cut in the middle of a character", utf16Printer.substr(0, 41), kFails},
         {"character reference to NUL", OnePrinter("<icon>&#0;</icon>"), kFails},
         {"character reference beyond Unicode", OnePrinter("<icon>&#x110000;</icon>"), kFails}});
    ExpectOutcomes(
        "WendIDs.xml",
        {{"invalid UTF-8 in a name",
          "<ids><vendor-ids><vendor id='1'><name>\xFF\xFE</name></vendor></vendor-ids></ids>",
          kFails},
         {"UTF-8 declared as UTF-16",
          "<?xml version='1.0' encoding='UTF-16'?><ids><vendor-ids/></ids>", kLoads}});
}

TEST(HostileFiles, EntityTricksEndTheLoadCleanly) {
    XmlTestFiles files;
    const std::string dtd = "<!DOCTYPE orvane_printing SYSTEM '" +
                            files.Write("external.dtd", "<!ENTITY fromDtd 'Heron'>") + "'>";
    const std::string missing = files.dir() + "/missing.ent";
    const std::string attributeBomb =
        "<!DOCTYPE orvane_printing [<!ENTITY big '" + std::string(100 * 1024, 'a') + "'>]>" +
        OnePrinter("<customProperties><property name='" + Repeat("&big;", 1000) +
                   "'>x</property></customProperties>");
    const std::string quadratic = "<!DOCTYPE orvane_printing [<!ENTITY big '" +
                                  std::string(10000, 'a') + "'>]>" +
                                  OnePrinter("<icon>" + Repeat("&big;", 200) + "</icon>");
    const auto external = [](const std::string& systemId) {
        return ExternalEntity("orvane_printing", systemId, OnePrinter("<icon>&ext;</icon>"));
    };
    ExpectOutcomes(
        "Wend.xml",
        {{"billion laughs", BillionLaughs("orvane_printing", OnePrinter("<icon>&l10;</icon>")),
          kFails},
         {"billion laughs in an attribute",
          BillionLaughs("orvane_printing",
                        "<orvane_printing><printers><printer vid='&l10;' pid='1'/></printers>"
                        "</orvane_printing>"),
          kFails},
         {"recursive entity",
          "<!DOCTYPE orvane_printing [<!ENTITY a '&b;'><!ENTITY b '&a;'>]>" +
              OnePrinter("<icon>&a;</icon>"),
          kFails},
         {"undeclared entity", OnePrinter("<icon>&nothing;</icon>"), kFails},
         {"external entity to a missing file", external(missing), kFails},
         {"external entity to a device", external("/dev/zero"), kFails},
         // A file beside the program may pull in any readable file; it must still end cleanly.
         {"external entity to a system file", external("/etc/passwd"), kEither},
         {"missing external DTD",
          "<!DOCTYPE orvane_printing SYSTEM '" + missing + "'>" + OnePrinter(""), kEither},
         {"external DTD", dtd + OnePrinter("<icon>x</icon>"), kEither},
         {"entity from an external DTD", dtd + OnePrinter("<icon>&fromDtd;</icon>"), kEither},
         {"2 MB from one entity", quadratic, kLoads},
         {"100 MB attribute from one entity", attributeBomb, kFails}});
    const std::string vendor = "<ids><vendor-ids><vendor id='1'><name>";
    const std::string vendorEnd = "</name></vendor></vendor-ids></ids>";
    ExpectOutcomes("WendIDs.xml",
                   {{"billion laughs", BillionLaughs("ids", vendor + "&l10;" + vendorEnd), kFails},
                    {"external entity to a missing file",
                     ExternalEntity("ids", missing, vendor + "&ext;" + vendorEnd), kFails}});
}

// Resource ids are read as a stream reads a decimal int: at the 32-bit limits, past them, with
// signs and blanks. An attribute of one element never reaches the next one's state.
TEST(HostileFiles, AttributesAtTheEdges) {
    const struct {
        std::string value;
        bool accepted;
        std::int32_t id;
    } cases[] = {{"2147483647", true, 2147483647},
                 {"-2147483648", true, -2147483647 - 1},
                 {"2147483648", false, 0},
                 {"-2147483649", false, 0},
                 {"99999999999999999999", false, 0},
                 {"+7", true, 7},
                 {"&#9;&#10;&#13; 007.9", true, 7},
                 {"- 7", false, 0},
                 {"+-7", false, 0},
                 {"-", false, 0},
                 {"", false, 0}};
    for (const auto& c : cases) {
        const Loaded loaded = Load("Wend.xml", OnePrinter("<names><shortname resourceId='" +
                                                          c.value + "'>x</shortname></names>"));
        EXPECT_EQ(loaded.ok, c.accepted) << c.value;
        if (loaded.ok && c.accepted) {
            ASSERT_EQ(loaded.records.size(), 1u);
            EXPECT_EQ(loaded.records[0].shortNameResourceId, c.id) << c.value;
        }
    }
    EXPECT_FALSE(Load("Wend.xml", OnePrinter("<lutnames default='a'><lut id='a' resourceId='1'/>"
                                             "<lut resourceId='2'/></lutnames>"))
                     .ok);
}

// The library would fetch http system ids itself; the parser takes that away, so every such
// reference fails at once without a connection.
TEST(HostileFiles, NetworkSystemIdsFailWithoutAConnection) {
    CountingListener listener;
    ASSERT_NE(listener.port(), 0);
    const std::string port = std::to_string(listener.port());
    const std::string url = "http://127.0.0.1:" + port + "/x.dtd";
    const auto system = [](const std::string& id) {
        return "<!DOCTYPE orvane_printing SYSTEM '" + id + "'>" + OnePrinter("");
    };
    ExpectOutcomes(
        "Wend.xml",
        {{"external DTD over http", system(url), kFails},
         {"external DTD on a closed port", system("http://127.0.0.1:9/x.dtd"), kFails},
         {"external entity over http",
          ExternalEntity("orvane_printing", url, OnePrinter("<icon>&ext;</icon>")), kFails},
         {"external parameter entity over http",
          "<!DOCTYPE orvane_printing [<!ENTITY % p SYSTEM '" + url + "'> %p;]>" + OnePrinter(""),
          kFails},
         {"external DTD over ftp", system("ftp://127.0.0.1:" + port + "/x.dtd"), kFails}});
    ExpectOutcomes("WendIDs.xml", {{"external DTD over http",
                                    "<!DOCTYPE ids SYSTEM '" + url + "'><ids/>", kFails}});
    EXPECT_EQ(listener.Stop(), 0);
}
