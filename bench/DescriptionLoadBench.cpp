// Loading a generated Wend.xml of 2,000 printers into description records against a bare
// Xerces SAX parse of the same file (same parser settings, a handler that does nothing), in the
// same run. Prints "ratio load/bare = X.XX". Also times one lookup of a printer by its names in
// the shipped Wend.xml / WendIDs.xml beside the program.

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Common/Headers/PrinterStates.h"
#include "Halden/xerces-xmlparser/XercesXMLParser.h"
#include "bench/RatioReporter.h"
#include "platform/ModulePath.h"

namespace {

constexpr int kPrinters = 2000;
constexpr int kPapers = 24;
std::string generatedPath;

// Printers shaped like the shipped ones: three names, an icon, the flags, LUT names, two heads
// with LUT modules and file-name specs, connections, paper references, media capacities,
// donor/media mappings and custom properties. Papers come first so that references resolve.
std::string GenerateDescriptions() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<orvane_printing>\n  <papers>\n";
    for (int p = 1; p <= kPapers; ++p) {
        const std::string id = std::to_string(p);
        xml += "    <paper id=\"" + id + "\" resourceId=\"" + std::to_string(4100 + p) +
               "\" name=\"paper " + id +
               "\">\n      <sizes>\n"
               "        <size units=\"inches\"><width>4</width><height>6</height></size>\n"
               "        <size units=\"pixels\"><width>1228</width><height>1844</height></size>\n"
               "        <size units=\"mm_tenths\"><width>1016</width><height>1524</height></size>\n"
               "      </sizes>\n      <offsets>\n"
               "        <offset units=\"points\"><top>1.5</top><left>1.5</left><bottom>0</bottom>"
               "<right>0</right></offset>\n"
               "      </offsets>\n    </paper>\n";
    }
    xml += "  </papers>\n  <printers>\n";
    for (int i = 0; i < kPrinters; ++i) {
        const std::string n = std::to_string(i);
        const std::string paperA = std::to_string(1 + i % kPapers);
        const std::string paperB = std::to_string(1 + (i + 7) % kPapers);
        xml += "    <printer vid=\"0x2F1A\" pid=\"" + std::to_string(0x1000 + i) +
               "\">\n      <names>\n"
               "        <productname resourceId=\"" +
               std::to_string(10000 + 3 * i) + "\">Orvane Model " + n +
               "</productname>\n"
               "        <longname resourceId=\"" +
               std::to_string(10001 + 3 * i) + "\">Orvane Model " + n +
               " Photo Printer</longname>\n"
               "        <shortname resourceId=\"" +
               std::to_string(10002 + 3 * i) + "\">Model " + n +
               "</shortname>\n      </names>\n"
               "      <icon>model" +
               n +
               ".ico</icon>\n"
               "      <drag-and-drop supported=\"true\"/>\n"
               "      <firmware-crc-verify supported=\"true\"/>\n"
               "      <mediaRemaining supported=\"false\"/>\n"
               "      <firmware stripVersionBytes=\"false\" requires-reboot=\"true\"/>\n"
               "      <lutnames default=\"glossy\">\n"
               "        <lut id=\"glossy\" resourceId=\"6101\"/>\n"
               "        <lut id=\"matte\" resourceId=\"6102\"/>\n"
               "      </lutnames>\n"
               "      <heads default=\"H1\">\n";
        // One LUT module per head, about as many as the shipped printers have.
        for (const char* head : {"H1", "H2"}) {
            const bool first = head[1] == '1';
            xml += std::string("        <head id=\"") + head +
                   "\">\n          <lutmodules>\n"
                   "            <lutmodule lutref=\"" +
                   (first ? "glossy\" name=\"glossy.lut\" donor=\"1\" media=\"1\"/>\n"
                          : "matte\" name=\"matte.lut\" donor=\"1\" media=\"2\"/>\n") +
                   "          </lutmodules>\n          <firmware-file-name-specs>\n"
                   "            <file-name-spec><prefix>M" +
                   n + head +
                   "</prefix><extension>bin</extension><version-format>2</version-format>"
                   "</file-name-spec>\n"
                   "          </firmware-file-name-specs>\n        </head>\n";
        }
        xml +=
            "      </heads>\n      <protocols>\n"
            "        <usb format=\"cmy-cmd-planar\"/>\n"
            "        <network format=\"jpeg\" discovery-model=\"rendezvous\"/>\n"
            "      </protocols>\n      <paperRefs>\n"
            "        <paperRef paperId=\"" +
            paperA +
            "\" sendToPrinterAs=\"0x10\" sizeReportedByPrinterAs=\"PC\"/>\n"
            "        <paperRef paperId=\"" +
            paperB +
            "\" sendToPrinterAs=\"0x11\" sizeReportedByPrinterAs=\"L\"/>\n"
            "      </paperRefs>\n      <mediaCapacities>\n"
            "        <mediaCapacity capacityCodeFromPrinter=\"PC\">200</mediaCapacity>\n"
            "        <mediaCapacity capacityCodeFromPrinter=\"L\">0x64</mediaCapacity>\n"
            "      </mediaCapacities>\n      <donorMediaMappings>\n"
            "        <donorMediaMapping><idCode>1</idCode><donor>1</donor><media>1</media>"
            "</donorMediaMapping>\n"
            "        <donorMediaMapping><idCode>2</idCode><donor>1</donor><media>2</media>"
            "</donorMediaMapping>\n"
            "      </donorMediaMappings>\n      <customProperties>\n"
            "        <property name=\"series\">Model</property>\n"
            "        <property name=\"dpi\">300</property>\n"
            "      </customProperties>\n    </printer>\n";
    }
    xml += "  </printers>\n</orvane_printing>\n";
    return xml;
}

// Configured like the description loaders' parser, with a handler that ignores every event.
bool BareParse(const XMLCh* path) {
    xercesc::HandlerBase handler;
    xercesc::SecurityManager security;
    xercesc::SAXParser parser(nullptr, xercesc::XMLPlatformUtils::fgMemoryManager, nullptr);
    parser.setDocumentHandler(&handler);
    parser.setErrorHandler(&handler);
    Halden::XercesXMLParser::Configure(parser, security);
    try {
        const xercesc::LocalFileInputSource source(path);
        parser.parse(source);
    } catch (...) {
        return false;
    }
    return parser.getErrorCount() == 0;
}

void BM_BareSaxParse(benchmark::State& state) {
    XMLCh* path = xercesc::XMLString::transcode(generatedPath.c_str());
    for (auto _ : state) {
        if (!BareParse(path)) {
            state.SkipWithError("bare parse failed");
            break;
        }
    }
    xercesc::XMLString::release(&path);
}

void BM_LoadPrinterDescriptions(benchmark::State& state) {
    const std::wstring path(generatedPath.begin(), generatedPath.end());
    // Loading into an empty list is the operation; freeing the previous iteration's records is
    // the caller's business and stays out of the timing.
    std::vector<PrinterDescription> records;
    for (auto _ : state) {
        if (!LoadPrinterDescriptions(path, records) || records.size() != kPrinters) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(records.data());
        state.PauseTiming();
        std::vector<PrinterDescription>().swap(records);
        state.ResumeTiming();
    }
}

// One lookup as printer identification does it: both shipped files, read in full.
void BM_LookupShipped(benchmark::State& state) {
    const std::wstring dir = platform::GetModuleDirectory();
    for (auto _ : state) {
        PrinterDescription record;
        if (!LookupPrinterDescription(dir + L"Wend.xml", dir + L"WendIDs.xml", "Orvane",
                                      "Kestrel 400", record)) {
            state.SkipWithError("lookup failed (are Wend.xml and WendIDs.xml beside the program?)");
            break;
        }
        benchmark::DoNotOptimize(&record);
    }
}

BENCHMARK(BM_BareSaxParse)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(5);
BENCHMARK(BM_LoadPrinterDescriptions)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(5);
BENCHMARK(BM_LookupShipped)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
    xercesc::XMLPlatformUtils::Initialize();
    const std::string dir = MakeBenchDir("description-load-bench");
    if (dir.empty()) {
        return 1;
    }
    generatedPath = dir + "/Wend.xml";
    const std::string xml = GenerateDescriptions();
    int status = 0;
    if (!(std::ofstream(generatedPath, std::ios::binary) << xml)) {
        std::perror("writing the generated Wend.xml");
        status = 1;
    } else {
        std::printf("generated Wend.xml: %d printers, %zu bytes\n", kPrinters, xml.size());
        benchmark::Initialize(&argc, argv);
        RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.PrintRatio("load/bare", "BM_LoadPrinterDescriptions", "BM_BareSaxParse");
        const double lookup = reporter.Median("BM_LookupShipped");
        if (lookup > 0) {
            std::printf("one LookupPrinterDescription on the shipped files = %.0f us\n", lookup);
        }
        benchmark::Shutdown();
    }
    std::filesystem::remove_all(dir);
    return status;
}
