#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "Halden/TSException.h"
#include "Halden/xerces-xmlparser/XercesXMLParser.h"
#include "tests/Halden/RecordingState.h"
#include "tests/Halden/XmlTestFiles.h"

using Events = std::vector<std::string>;

namespace {

struct ParseRun {
    bool result = false;
    Events events;
    Events starts;
    std::string errorText;
};

ParseRun Parse(const std::string& xml, RecordingLog log = {}, bool ignoreWhitespace = true,
               bool merge = true) {
    XmlTestFiles files;
    Halden::XercesXMLParser parser;
    parser.ignoreWhitespaceText = ignoreWhitespace;
    parser.mergeTextChunks = merge;
    ParseRun run;
    run.result = parser.parse(files.Write("doc.xml", xml), new RecordingState(&log, "root"));
    run.events = log.events;
    run.starts = log.starts;
    run.errorText = parser.GetErrorText();
    return run;
}

RecordingLog Accepting(std::set<std::string> names) {
    RecordingLog log;
    log.accepted = std::move(names);
    return log;
}

}  // namespace

TEST(XercesXMLParser, StatesSeeTheirElementsTextAndEnds) {
    struct Case {
        std::string xml;
        std::set<std::string> accepted;
        Events events;
    };
    const std::vector<Case> cases = {
        // An unaccepted document element is skipped whole.
        {"<doc a='1'><x>text<y/></x></doc>", {}, {"root start:doc", "finish:root", "delete:root"}},
        // One skip covers nested unknown elements, and the parent still finishes.
        {"<doc><k><u1><u2><u3>deep</u3></u2>t</u1></k><k2/></doc>",
         {"doc", "k"},
         {"root start:doc", "doc start:k", "k start:u1", "finish:k", "delete:k", "doc start:k2",
          "finish:doc", "delete:doc", "finish:root", "delete:root"}},
        // Text around a child is delivered at the boundaries.
        {"<doc>a<c>in</c>b</doc>",
         {"doc", "c"},
         {"root start:doc", "doc text:a", "doc start:c", "c text:in", "finish:c", "delete:c",
          "doc text:b", "finish:doc", "delete:doc", "finish:root", "delete:root"}},
        {"<!DOCTYPE doc [<!ENTITY who 'Orvane'>]><doc>by &who;</doc>",
         {"doc"},
         {"root start:doc", "doc text:by Orvane", "finish:doc", "delete:doc", "finish:root",
          "delete:root"}},
    };
    for (const Case& c : cases) {
        const ParseRun run = Parse(c.xml, Accepting(c.accepted));
        EXPECT_TRUE(run.result) << c.xml;
        EXPECT_EQ(run.events, c.events) << c.xml;
        EXPECT_TRUE(run.errorText.empty()) << c.xml;
    }
}

// Elements of one kind share the driver's attribute storage: each must still see its own names
// and values, also after an element whose names differ only late, by length or beyond ASCII.
TEST(XercesXMLParser, EveryElementSeesItsOwnAttributes) {
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
        GTEST_SKIP() << "C.UTF-8 is not available";
    }
    const ParseRun run = Parse(
        "<doc><e a='1' b='2'/><e a='3' b='4'/><e a='7' bb='8'/><e a='5' c='6'/><e a='9' b=''/>"
        "<e ad='x'/><e cc='y'/><e a='1' x\xC2\xB7='u'/><e a='2' x\xC3\x82\xC2\xB7='v'/><e/>"
        "<e b='1' a='2'/><e ab='1'/><e abc='2'/></doc>",
        Accepting({"doc"}));
    std::setlocale(LC_CTYPE, previous.c_str());
    EXPECT_EQ(run.starts,
              (Events{"doc", "e a=1 b=2", "e a=3 b=4", "e a=7 bb=8", "e a=5 c=6",
                      "e a=9 b=", "e ad=x", "e cc=y", "e a=1 x\xC2\xB7=u",
                      "e a=2 x\xC3\x82\xC2\xB7=v", "e", "e a=2 b=1", "e ab=1", "e abc=2"}));
}

TEST(XercesXMLParser, WhitespaceOnlyTextIsDroppedOtherTextKeptWhole) {
    struct Case {
        std::string content;
        Events texts;
    };
    const std::vector<Case> cases = {
        {"  \n\t\r\n ", {}},
        {" x ", {"doc text: x "}},
        {"\n  a\n", {"doc text:\n  a\n"}},
        // Pieces split by a comment, a processing instruction and a CDATA section arrive as one.
        {"a<!-- c -->b<?pi data?>c<![CDATA[d]]>", {"doc text:abcd"}},
        {" <!-- c --> ", {}},
        {"&lt;&amp;&#65;", {"doc text:<&A"}},
    };
    for (const Case& c : cases) {
        const ParseRun run = Parse("<doc>" + c.content + "</doc>", Accepting({"doc"}));
        EXPECT_TRUE(run.result) << c.content;
        Events texts;
        for (const std::string& e : run.events) {
            if (e.rfind("doc text:", 0) == 0) {
                texts.push_back(e);
            }
        }
        EXPECT_EQ(texts, c.texts) << c.content;
    }
}

TEST(XercesXMLParser, OptionsOffDeliverWhitespaceAndSeparatePieces) {
    const ParseRun whitespace = Parse("<doc> </doc>", Accepting({"doc"}), false, true);
    EXPECT_EQ(whitespace.events[1], "doc text: ");
    const ParseRun pieces = Parse("<doc>a<!--c-->b</doc>", Accepting({"doc"}), true, false);
    EXPECT_EQ(pieces.events[1], "doc text:a");
    EXPECT_EQ(pieces.events[2], "doc text:b");
}

TEST(XercesXMLParser, ThrowingFinishAbortsItAndEveryOpenStateInnerToOuter) {
    RecordingLog log = Accepting({"doc", "a", "b"});
    log.throwOnFinish = "b";
    const ParseRun run = Parse("<doc><a><b>x</b><never/></a></doc>", log);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.errorText, "finish of b failed");
    EXPECT_EQ(run.events, (Events{"root start:doc", "doc start:a", "a start:b", "b text:x",
                                  "finish:b", "abort:b", "delete:b", "abort:a", "delete:a",
                                  "abort:doc", "delete:doc", "abort:root", "delete:root"}));
}

TEST(XercesXMLParser, ExceptionsFromStatesEndTheParseWithTheirText) {
    RecordingLog standard = Accepting({"doc"});
    standard.throwOnStart = "bad";
    const ParseRun run = Parse("<doc><skip><bad/></skip><bad/><after/></doc>", standard);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.errorText, "cannot start bad");
    EXPECT_EQ(run.events.back(), "delete:root");

    RecordingLog other = Accepting({"doc"});
    other.throwOnStart = "bad";
    other.throwNonStandard = true;
    EXPECT_EQ(Parse("<doc><bad/></doc>", other).errorText, "Unknown failure");
}

// The hostile file tests cover broken encodings, entities and empty files.
TEST(XercesXMLParser, MalformedDocumentsFailAndReleaseOpenStates) {
    const std::vector<std::string> broken = {
        "<doc><a>text",                  // truncated
        "<doc><a></b></doc>",            // mismatched end tag
        "<doc attr=\"1\" attr=\"2\"/>",  // duplicate attribute
    };
    for (const std::string& xml : broken) {
        const ParseRun run = Parse(xml, Accepting({"doc", "a"}));
        EXPECT_FALSE(run.result) << xml;
        EXPECT_FALSE(run.errorText.empty()) << xml;
        ASSERT_FALSE(run.events.empty()) << xml;
        EXPECT_EQ(run.events.back(), "delete:root") << xml;
        for (const std::string& e : run.events) {
            EXPECT_EQ(e.rfind("finish:", 0), std::string::npos) << xml << ": " << e;
        }
    }
}

// Without a document to read the root is never pushed, yet released; a null root fails at the
// document element.
TEST(XercesXMLParser, MissingFileUnconvertiblePathAndNullRoot) {
    XmlTestFiles files;
    RecordingLog log;
    Halden::XercesXMLParser parser;
    EXPECT_FALSE(parser.parse(files.dir() + "/absent.xml", new RecordingState(&log, "root")));
    EXPECT_EQ(log.events, (Events{"delete:root"}));
    EXPECT_NE(parser.GetErrorText().find("absent.xml"), std::string::npos);

    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C");
    log.events.clear();
    EXPECT_THROW(parser.parse(std::wstring(L"/tmp/\u00e9.xml"), new RecordingState(&log, "root")),
                 Halden::TSException);
    EXPECT_EQ(log.events, (Events{"delete:root"}));
    std::setlocale(LC_CTYPE, previous.c_str());

    EXPECT_FALSE(parser.parse(files.Write("doc.xml", "<doc/>"), nullptr));
    EXPECT_EQ(parser.GetErrorText(), "Invalid context state (current state is NULL)");
}

// Expansion bombs are bounded: many expansions by their count, few large ones by the text size.
TEST(XercesXMLParser, HostileDocumentsEndCleanly) {
    std::string laughs = "<!DOCTYPE doc [<!ENTITY a0 'lol'>";
    for (int i = 1; i <= 12; ++i) {
        std::string refs;
        for (int j = 0; j < 10; ++j) {
            refs += "&a" + std::to_string(i - 1) + ";";
        }
        laughs += "<!ENTITY a" + std::to_string(i) + " '" + refs + "'>";
    }
    ParseRun run = Parse(laughs + "]><doc>&a12;</doc>", Accepting({"doc"}));
    EXPECT_FALSE(run.result);
    EXPECT_NE(run.errorText.find("entity expansions"), std::string::npos) << run.errorText;

    std::string quadratic =
        "<!DOCTYPE doc [<!ENTITY big '" + std::string(64 * 1024, 'q') + "'>]><doc>";
    for (int i = 0; i < 1100; ++i) {
        quadratic += "&big;<s/>";
    }
    run = Parse(quadratic + "</doc>");
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.errorText, "The document's text exceeds 67108864 bytes");
    std::string attributes =
        "<!DOCTYPE doc [<!ENTITY big '" + std::string(64 * 1024, 'q') + "'>]><doc>";
    for (int i = 0; i < 1100; ++i) {
        attributes += "<s a='&big;'/>";
    }
    run = Parse(attributes + "</doc>", Accepting({"doc"}));
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.errorText, "The document's text and attributes exceed 67108864 bytes");

    run = Parse("<!DOCTYPE doc SYSTEM 'no-such.dtd'><doc/>", Accepting({"doc"}));
    EXPECT_FALSE(run.result);
    EXPECT_NE(run.errorText.find("no-such.dtd"), std::string::npos) << run.errorText;

    // Text split by the library's buffers still arrives as one piece.
    const std::string big(4 * 1024 * 1024, 'x');
    run = Parse("<doc>" + big + "</doc>", Accepting({"doc"}));
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.events[1], "doc text:" + big);
}
