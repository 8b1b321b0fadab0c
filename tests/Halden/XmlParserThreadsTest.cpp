#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Halden/xerces-xmlparser/XercesXMLParser.h"
#include "tests/Halden/RecordingState.h"
#include "tests/Halden/XmlTestFiles.h"

// Parsers constructed and used on several threads at once: the one-time library
// initialisation and the parses must be free of data races.
TEST(XercesXMLParser, ConcurrentConstructionAndParsing) {
    XmlTestFiles files;
    const std::string path = files.Write("doc.xml", "<doc>a<c>b</c>c</doc>");
    std::atomic<int> successes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                RecordingLog log;
                log.accepted = {"doc", "c"};
                Halden::XercesXMLParser parser;
                if (parser.parse(path, new RecordingState(&log, "root")) &&
                    log.events.size() == 11) {
                    ++successes;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(successes.load(), 80);
}
