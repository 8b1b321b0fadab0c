#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

#include "Halden/xerces-xmlparser/XMLIntegerSetState.h"
#include "Halden/xerces-xmlparser/XMLSetStringDataState.h"
#include "Halden/xerces-xmlparser/XMLStringSetState.h"
#include "Halden/xerces-xmlparser/XercesXMLParser.h"
#include "platform/IntegerText.h"
#include "tests/Halden/XmlTestFiles.h"

namespace {

struct Targets {
    std::string text = "previous";
    int number = -7;
    std::vector<std::string> handed;
};

// Accepts <doc>; its children: <s> string target, <i> integer target, <d> setter (throws for
// "throw").
class ValueParent : public Halden::XMLStateSelfDestruct {
public:
    explicit ValueParent(Targets* targets) : targets_(targets) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        if (name == "doc") {
            return new ValueParent(targets_);
        }
        if (name == "s") {
            return new Halden::XMLStringSetState(&targets_->text);
        }
        if (name == "i") {
            return new Halden::XMLIntegerSetState<int>(&targets_->number);
        }
        if (name == "d") {
            return new Halden::XMLSetStringDataState<ValueParent>(this, &ValueParent::Hand);
        }
        return nullptr;
    }
    void addText(const std::string&) override {}

    void Hand(const std::string& text) {
        if (text == "throw") {
            throw std::runtime_error("setter refused");
        }
        targets_->handed.push_back(text);
    }

private:
    Targets* targets_;
};

bool Load(const std::string& body, Targets& targets, std::string* error = nullptr) {
    XmlTestFiles files;
    Halden::XercesXMLParser parser;
    const bool ok =
        parser.parse(files.Write("v.xml", "<doc>" + body + "</doc>"), new ValueParent(&targets));
    if (error != nullptr) {
        *error = parser.GetErrorText();
    }
    return ok;
}

}  // namespace

TEST(XMLStringSetState, StoresTheCollectedTextUntrimmed) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<s/>", ""},
        {"<s>   \n </s>", ""},
        {"<s> word </s>", " word "},
        {"<s>be<skipped>gone</skipped>fore</s>", "before"},
        {"<s>first</s><s>last</s>", "last"},
    };
    for (const auto& [body, expected] : cases) {
        Targets targets;
        ASSERT_TRUE(Load(body, targets)) << body;
        EXPECT_EQ(targets.text, expected) << body;
    }
}

TEST(XMLIntegerSetState, StoresStrtolBaseZeroWithoutValidation) {
    std::vector<std::pair<std::string, int>> cases = {
        {"0x1A", 26},  {"010", 8},   {"08", 0},   {"word", 0},
        {"12abc", 12}, {"12\n", 12}, {" -5", -5}, {"", 0},
    };
    cases.insert(cases.end(), {{"99999999999", INT_MAX}, {"-99999999999", INT_MIN}});
    for (const auto& [text, expected] : cases) {
        Targets targets;
        ASSERT_TRUE(Load("<i>" + text + "</i>", targets)) << text;
        EXPECT_EQ(targets.number, expected) << text;
    }
}

TEST(XMLSetStringDataState, HandsTextToTheOwnerAndSurvivesAThrowingSetter) {
    Targets targets;
    ASSERT_TRUE(Load("<d>one</d><d/><d> two </d>", targets));
    EXPECT_EQ(targets.handed, (std::vector<std::string>{"one", "", " two "}));

    // The refusing setter fails the parse; the state is released by abort (checked by ASan).
    Targets refused;
    std::string error;
    EXPECT_FALSE(Load("<d>ok</d><d>throw</d><d>never</d>", refused, &error));
    EXPECT_EQ(error, "setter refused");
    EXPECT_EQ(refused.handed, (std::vector<std::string>{"ok"}));
}

TEST(ValueStates, TargetsOfOpenValueElementsStayUntouchedOnFailure) {
    Targets targets;
    EXPECT_FALSE(Load("<s>new text<i>5", targets));
    EXPECT_EQ(targets.text, "previous");
    EXPECT_EQ(targets.number, -7);
}

TEST(IntegerText, AcceptsWhenAtLeastOneCharacterIsConsumed) {
    std::vector<std::pair<std::string, std::int32_t>> accepted = {
        {"7kg", 7},  {"0x10", 16}, {"010", 8}, {"12abc", 12},
        {" 42", 42}, {"-3", -3},   {"08", 0},  {"0x", 0},
    };
    accepted.insert(accepted.end(), {{"4294967295", INT32_MAX}, {"-4294967295", INT32_MIN}});
    for (const auto& [text, expected] : accepted) {
        std::int32_t value = 1234;
        EXPECT_TRUE(platform::ParseIntegerText(text, value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
    for (const std::string text : {"", "   ", "kg", "-"}) {
        std::int32_t value = 1234;
        EXPECT_FALSE(platform::ParseIntegerText(text, value)) << text;
        EXPECT_EQ(value, 1234) << text;
    }
    EXPECT_EQ(platform::ConvertIntegerText("kg"), 0);
}
