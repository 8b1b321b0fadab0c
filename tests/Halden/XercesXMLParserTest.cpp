#include <gtest/gtest.h>

#include <clocale>
#include <stdexcept>
#include <string>
#include <vector>

#include "Halden/TSException.h"
#include "Halden/xerces-xmlparser/XMLIntegerSetState.h"
#include "Halden/xerces-xmlparser/XMLSetStringDataState.h"
#include "Halden/xerces-xmlparser/XMLStringSetState.h"
#include "Halden/xerces-xmlparser/XercesXMLParser.h"
#include "platform/IntegerText.h"
#include "tests/Halden/RecordingState.h"
#include "tests/Halden/XmlTestFiles.h"

namespace {

// A log whose states accept <doc>, <a>, <b>, <c> and <k>.
RecordingLog Log(const std::string& throwOnFinish = "", const std::string& throwOnStart = "") {
    return {{}, {"doc", "a", "b", "c", "k"}, throwOnFinish, throwOnStart};
}

// The states' log joined by "|", then "ok=" or "failed=" and the parser's error text.
std::string Parse(const std::string& xml, RecordingLog log = Log(), bool ignoreWhitespace = true,
                  bool merge = true) {
    XmlTestFiles files;
    Halden::XercesXMLParser parser;
    parser.ignoreWhitespaceText = ignoreWhitespace;
    parser.mergeTextChunks = merge;
    const bool ok = parser.parse(files.Write("doc.xml", xml), new RecordingState(&log, "root"));
    std::string out;
    for (const std::string& e : log.events) {
        out += e + "|";
    }
    return out + (ok ? "ok=" : "failed=") + parser.GetErrorText();
}

// The error text of a failed parse.
std::string Error(const std::string& run) {
    return run.substr(run.rfind("failed=") + 7);
}

const std::string kDoc = "root start:doc|";
const std::string kEnd = "finish:doc|delete:doc|finish:root|delete:root|ok=";

}  // namespace

TEST(XercesXMLParser, StatesSeeTheirElementsTextAndEnds) {
    const std::pair<std::string, std::string> cases[] = {
        // An unaccepted document element is skipped whole.
        {"<top a='1'><x>text<y/></x></top>", "root start:top a=1|finish:root|delete:root|ok="},
        // One skip covers nested unknown elements, and the parent still finishes.
        {"<doc><k><u1><u2><u3>deep</u3></u2>t</u1></k><k2/></doc>",
         kDoc + "doc start:k|k start:u1|finish:k|delete:k|doc start:k2|" + kEnd},
        // Text around a child is delivered at the boundaries.
        {"<doc>a<c>in</c>b</doc>",
         kDoc + "doc text:a|doc start:c|c text:in|finish:c|delete:c|doc text:b|" + kEnd},
        {"<!DOCTYPE doc [<!ENTITY who 'Orvane'>]><doc>by &who;</doc>",
         kDoc + "doc text:by Orvane|" + kEnd},
        // Whitespace-only text is dropped, other text kept whole; pieces split by a comment, a
        // processing instruction and a CDATA section arrive as one.
        {"<doc>  \n\t\r\n </doc>", kDoc + kEnd},
        {"<doc> x </doc>", kDoc + "doc text: x |" + kEnd},
        {"<doc>\n  a\n</doc>", kDoc + "doc text:\n  a\n|" + kEnd},
        {"<doc>a<!-- c -->b<?pi data?>c<![CDATA[d]]></doc>", kDoc + "doc text:abcd|" + kEnd},
        {"<doc> <!-- c --> </doc>", kDoc + kEnd},
        {"<doc>&lt;&amp;&#65;</doc>", kDoc + "doc text:<&A|" + kEnd},
        // A prefix is part of the name, bound or not.
        {"<doc><n:k2/></doc>", kDoc + "doc start:n:k2|" + kEnd},
    };
    for (const auto& [xml, expected] : cases) {
        EXPECT_EQ(Parse(xml), expected) << xml;
    }
    // The options off: whitespace is delivered, pieces separately.
    EXPECT_EQ(Parse("<doc> </doc>", Log(), false, true), kDoc + "doc text: |" + kEnd);
    EXPECT_EQ(Parse("<doc>a<!--c-->b</doc>", Log(), true, false),
              kDoc + "doc text:a|doc text:b|" + kEnd);
}

// Elements of one kind share the driver's attribute storage: each must still see its own names
// and values, also after an element whose names differ only late, by length or beyond ASCII.
TEST(XercesXMLParser, EveryElementSeesItsOwnAttributes) {
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
        GTEST_SKIP() << "C.UTF-8 is not available";
    }
    const std::string run = Parse(
        "<doc><e a='1' b='2'/><e a='3' b='4'/><e a='7' bb='8'/><e a='5' c='6'/><e a='9' b=''/>"
        "<e ad='x'/><e cc='y'/><e a='1' x\xC2\xB7='u'/><e a='2' x\xC3\x82\xC2\xB7='v'/><e/>"
        "<e b='1' a='2'/><e ab='1'/><e abc='2'/></doc>");
    std::setlocale(LC_CTYPE, previous.c_str());
    EXPECT_EQ(run, kDoc +
                       "doc start:e a=1 b=2|doc start:e a=3 b=4|doc start:e a=7 bb=8|doc start:e "
                       "a=5 c=6|doc start:e a=9 b=|doc start:e ad=x|doc start:e cc=y|doc start:e "
                       "a=1 x\xC2\xB7=u|doc start:e a=2 x\xC3\x82\xC2\xB7=v|doc start:e|doc "
                       "start:e a=2 b=1|doc start:e ab=1|doc start:e abc=2|" +
                       kEnd);
}

// A throwing state ends the parse with its text; every open state is aborted, inner to outer.
TEST(XercesXMLParser, ExceptionsFromStatesAbortEveryOpenState) {
    EXPECT_EQ(Parse("<doc><a><b>x</b><never/></a></doc>", Log("b")),
              "root start:doc|doc start:a|a start:b|b text:x|finish:b|abort:b|delete:b|abort:a|"
              "delete:a|abort:doc|delete:doc|abort:root|delete:root|failed=finish of b failed");
    EXPECT_EQ(Parse("<doc><skip><bad/></skip><bad/><after/></doc>", Log("", "bad")),
              "root start:doc|doc start:skip|doc start:bad|abort:doc|delete:doc|abort:root|"
              "delete:root|failed=cannot start bad");
    EXPECT_EQ(Error(Parse("<doc><int/></doc>")), "Unknown failure");
}

// The hostile file tests cover broken encodings, entities and empty files.
TEST(XercesXMLParser, MalformedDocumentsFailAndReleaseOpenStates) {
    for (const std::string xml : {"<doc><a>text", "<doc><a></b></doc>", "<doc x='1' x='2'/>"}) {
        const std::string run = Parse(xml);
        EXPECT_EQ(run.find("finish:"), std::string::npos) << run;
        const std::size_t at = run.find("delete:root|failed=");
        EXPECT_TRUE(at != std::string::npos && run.size() > at + 19) << run;
    }
}

// Without a document to read the root is never pushed, yet released; a null root fails at the
// document element.
TEST(XercesXMLParser, MissingFileUnconvertiblePathAndNullRoot) {
    XmlTestFiles files;
    RecordingLog log;
    Halden::XercesXMLParser parser;
    EXPECT_FALSE(
        parser.parse(std::string("/nonexistent/absent.xml"), new RecordingState(&log, "root")));
    EXPECT_NE(parser.GetErrorText().find("absent.xml"), std::string::npos);

    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C");
    EXPECT_THROW(parser.parse(std::wstring(L"/tmp/\u00e9.xml"), new RecordingState(&log, "root")),
                 Halden::TSException);
    EXPECT_EQ(log.events, (std::vector<std::string>{"delete:root", "delete:root"}));
    std::setlocale(LC_CTYPE, previous.c_str());

    EXPECT_FALSE(parser.parse(files.Write("doc.xml", "<doc/>"), nullptr));
    EXPECT_EQ(parser.GetErrorText(), "Invalid context state (current state is NULL)");
}

// Expansion bombs are bounded: many expansions by their count, few large ones by the text size.
TEST(XercesXMLParser, HostileDocumentsEndCleanly) {
    std::string laughs = "<!DOCTYPE doc [<!ENTITY a0 'lol'>";
    for (int i = 1; i <= 12; ++i) {
        const std::string r = "&a" + std::to_string(i - 1) + ";";
        laughs +=
            "<!ENTITY a" + std::to_string(i) + " '" + r + r + r + r + r + r + r + r + r + r + "'>";
    }
    const std::string error = Error(Parse(laughs + "]><doc>&a12;</doc>"));
    EXPECT_NE(error.find("entity expansions"), std::string::npos) << error;

    const auto bomb = [](const std::string& use) {
        std::string xml =
            "<!DOCTYPE doc [<!ENTITY big '" + std::string(64 * 1024, 'q') + "'>]><doc>";
        for (int i = 0; i < 1100; ++i) {
            xml += use;
        }
        return xml + "</doc>";
    };
    EXPECT_EQ(Error(Parse(bomb("&big;<s/>"), RecordingLog{})),
              "The document's text exceeds 67108864 bytes");
    EXPECT_EQ(Error(Parse(bomb("<s a='&big;'/>"))),
              "The document's text and attributes exceed 67108864 bytes");
    EXPECT_NE(Error(Parse("<!DOCTYPE doc SYSTEM 'no-such.dtd'><doc/>")).find("no-such.dtd"),
              std::string::npos);

    // Text split by the library's buffers still arrives as one piece.
    const std::string big(4 * 1024 * 1024, 'x');
    EXPECT_TRUE(Parse("<doc>" + big + "</doc>") == kDoc + "doc text:" + big + "|" + kEnd);
}

namespace {

struct Targets {
    std::string text = "previous";
    int number = -7;
    std::string handed;
};

// Accepts <doc>; its children: <s> string target, <i> integer target, <d> setter (throws for
// "throw").
class ValueParent : public Halden::XMLStateSelfDestruct {
public:
    explicit ValueParent(Targets* targets) : targets_(targets) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        using namespace Halden;
        return name == "doc" ? new ValueParent(targets_)
               : name == "s" ? new XMLStringSetState(&targets_->text)
               : name == "i" ? new XMLIntegerSetState<int>(&targets_->number)
               : name == "d" ? new XMLSetStringDataState<ValueParent>(this, &ValueParent::Hand)
                             : static_cast<XercesXMLParsingState*>(nullptr);
    }
    void addText(const std::string&) override {}

    void Hand(const std::string& text) {
        if (text == "throw") {
            throw std::runtime_error("setter refused");
        }
        targets_->handed += text + ",";
    }

private:
    Targets* targets_;
};

// "text|number|handed,..." after parsing <doc>body</doc>, or the error text of a failed parse
// before it.
std::string Load(const std::string& body) {
    XmlTestFiles files;
    Halden::XercesXMLParser parser;
    Targets t;
    const bool ok =
        parser.parse(files.Write("v.xml", "<doc>" + body + "</doc>"), new ValueParent(&t));
    return (ok ? "" : parser.GetErrorText() + ": ") + t.text + "|" + std::to_string(t.number) +
           "|" + t.handed;
}

}  // namespace

// <s>: the collected text untrimmed, the last element's; <i>: strtol base 0 clamped to int,
// without validation; <d>: each text handed to the owner. A refusing setter fails the parse, and
// its state is released by abort (checked by ASan); targets of value elements still open stay
// untouched.
TEST(ValueStates, StoreTheirTextAsCollected) {
    const std::pair<std::string, std::string> cases[] = {
        {"<s/><i>0x1A</i>", "|26|"},
        {"<s>   \n </s><i>010</i>", "|8|"},
        {"<s> word </s><i>08</i><d>one</d><d/><d> two </d>", " word |0|one,, two ,"},
        {"<s>be<skipped>gone</skipped>fore</s><i>12abc</i>", "before|12|"},
        {"<s>first</s><s>last</s><i>12\n</i><i> -5</i>", "last|-5|"},
        {"<i>word</i>", "previous|0|"},
        {"<i></i>", "previous|0|"},
        {"<i>99999999999</i>", "previous|2147483647|"},
        {"<i>-99999999999</i>", "previous|-2147483648|"},
        {"<d>ok</d><d>throw</d><d>never</d>", "setter refused: previous|-7|ok,"},
    };
    for (const auto& [body, expected] : cases) {
        EXPECT_EQ(Load(body), expected) << body;
    }
    const std::string open = Load("<s>new text<i>5");
    EXPECT_EQ(open.substr(open.find(": ")), ": previous|-7|") << open;
}

TEST(IntegerText, AcceptsWhenAtLeastOneCharacterIsConsumed) {
    std::string results;
    for (const std::string text : {"7kg", "0x10", "010", "12abc", " 42", "-3", "08", "0x",
                                   "4294967295", "-4294967295", "", "   ", "kg", "-"}) {
        std::int32_t value = 1234;
        if (platform::ParseIntegerText(text, value)) {
            results += std::to_string(value) + " ";
        } else {
            results += value == 1234 ? "refused " : "changed ";
        }
    }
    EXPECT_EQ(results,
              "7 16 8 12 42 -3 0 0 2147483647 -2147483648 refused refused refused refused ");
    EXPECT_EQ(platform::ConvertIntegerText("kg"), 0);
}
