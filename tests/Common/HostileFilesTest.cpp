#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <tuple>

#include "tests/Common/DescriptionLoadSupport.h"

// Broken and hostile description files: every one must end the load with true or false,
// without a crash, a leak (AddressSanitizer stage) or a hang (the test's time limit). The
// driver's own bounds and policies are tested in tests/Halden; here, through both loaders.

namespace {

// kEither: how the file is treated is the parser's policy (whether external DTDs and entities
// are read); only a clean end counts.
enum Outcome { kFails, kLoads, kEither };

using HostileCase = std::tuple<std::string, std::string, Outcome>;  // name, content, outcome

std::string Repeat(const std::string& piece, int times) {
    std::string result;
    while (times-- > 0)
        result += piece;
    return result;
}

// A description file whose internal DTD holds declarations and whose printer's icon is icon.
std::string WithDtd(const std::string& declarations, const std::string& icon) {
    return "<!DOCTYPE orvane_printing [" + declarations + "]>" +
           PrinterDocument("<icon>" + icon + "</icon>");
}

// Ten levels of entities, each referring ten times to the one below: 10^10 expansions.
std::string BillionLaughs() {
    std::string entities = "<!ENTITY l0 'lol'>";
    for (int level = 1; level <= 10; ++level) {
        entities += "<!ENTITY l" + std::to_string(level) + " '" +
                    Repeat("&l" + std::to_string(level - 1) + ";", 10) + "'>";
    }
    return entities;
}

// Loads each case as the named file (its name picks the loader) from a folder of its own.
void ExpectOutcomes(const std::string& name, const std::vector<HostileCase>& cases) {
    for (const auto& [what, content, outcome] : cases) {
        XmlTestFiles files;
        const std::wstring path = files.WriteWide(name, content);
        std::string error;
        std::map<std::string, std::int32_t> vendors, products;
        std::vector<PrinterDescription> records;
        const bool ok = name == "WendIDs.xml" ? LoadIdMappings(path, vendors, products, &error)
                                              : LoadPrinterDescriptions(path, records, &error);
        EXPECT_TRUE(outcome == kEither || ok == (outcome == kLoads)) << what << ": " << error;
    }
}

}  // namespace

TEST(HostileFiles, DepthEncodingsAndEntities) {
    const std::string nested = Repeat("<deep>", 100000) + "text" + Repeat("</deep>", 100000);
    std::string utf16 = "\xFF\xFE";  // little-endian byte order mark, then the text
    for (const char c : PrinterDocument("<icon>x</icon>")) {
        utf16 += {c, '\0'};
    }
    const auto external = [](const std::string& systemId) {
        return WithDtd("<!ENTITY ext SYSTEM '" + systemId + "'>", "&ext;");
    };
    ExpectOutcomes(
        "Wend.xml",
        {{"deep unknown elements", PrinterDocument(nested), kLoads},
         {"left open", PrinterDocument("<names>" + Repeat("<deep>", 100000)), kFails},
         {"empty file", "", kFails},
         {"NUL bytes", std::string(4096, '\0'), kFails},
         {"invalid UTF-8", PrinterDocument("<icon>a\xC3\x28</icon>"), kFails},
         {"UTF-8 read as Latin-1",
          "<?xml version='1.0' encoding='ISO-8859-1'?>" +
              PrinterDocument("<icon>caf\xC3\xA9</icon>"),
          kLoads},
         {"UTF-16 with byte order mark", utf16, kLoads},
         {"UTF-16 cut in a character", utf16.substr(0, 41), kFails},
         {"billion laughs", WithDtd(BillionLaughs(), "&l10;"), kFails},
         {"billion laughs in an attribute",
          "<!DOCTYPE orvane_printing [" + BillionLaughs() + "]>" +
              PrinterDocument("", "", "vid='&l10;' pid='1'"),
          kFails},
         {"recursive entity", WithDtd("<!ENTITY a '&b;'><!ENTITY b '&a;'>", "&a;"), kFails},
         {"external entity to a missing file", external("/nonexistent/missing.ent"), kFails},
         {"external entity to a device", external("/dev/zero"), kFails},
         // A file beside the program may pull in any readable file; it must still end cleanly.
         {"external entity to a system file", external("/etc/passwd"), kEither}});
    ExpectOutcomes(
        "WendIDs.xml",
        {{"deep unknown elements", "<ids><vendor-ids>" + nested + "</vendor-ids></ids>", kLoads},
         {"invalid UTF-8 in a name",
          "<ids><vendor-ids><vendor id='1'><name>\xFF\xFE</name></vendor></vendor-ids></ids>",
          kFails},
         {"billion laughs",
          "<!DOCTYPE ids [" + BillionLaughs() +
              "]><ids><vendor-ids><vendor id='1'><name>&l10;</name></vendor></vendor-ids></ids>",
          kFails}});
}

// The library would fetch http system ids itself; the parser takes that away, so every such
// reference fails without a connection to the listener (one would wait in its backlog).
TEST(HostileFiles, NetworkSystemIdsFailWithoutAConnection) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));
    const std::string url = "http://127.0.0.1:" + port + "/x.dtd";
    const std::string system = "<!DOCTYPE orvane_printing SYSTEM '";
    ExpectOutcomes(
        "Wend.xml",
        {{"external DTD over http", system + url + "'>" + PrinterDocument(""), kFails},
         {"external entity over http", WithDtd("<!ENTITY ext SYSTEM '" + url + "'>", "&ext;"),
          kFails},
         {"external parameter entity over http",
          WithDtd("<!ENTITY % p SYSTEM '" + url + "'> %p;", ""), kFails},
         {"external DTD over ftp",
          system + "ftp://127.0.0.1:" + port + "/x.dtd'>" + PrinterDocument(""), kFails}});
    ExpectOutcomes("WendIDs.xml", {{"external DTD over http",
                                    "<!DOCTYPE ids SYSTEM '" + url + "'><ids/>", kFails}});
    EXPECT_EQ(::accept(listener, nullptr, nullptr), -1);
    EXPECT_EQ(errno, EAGAIN);
    ::close(listener);
}
