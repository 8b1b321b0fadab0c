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

// <s>: the collected text untrimmed, the last element's; <i>: strtol base 0 clamped to int,
// without validation; <d>: each text handed to the owner.
TEST(ValueStates, StoreTheirTextAsCollected) {
    const struct {
        std::string body;
        std::string text;
        int number;
        std::vector<std::string> handed;
    } cases[] = {
        {"<s/><i>0x1A</i>", "", 26, {}},
        {"<s>   \n </s><i>010</i>", "", 8, {}},
        {"<s> word </s><i>08</i><d>one</d><d/><d> two </d>", " word ", 0, {"one", "", " two "}},
        {"<s>be<skipped>gone</skipped>fore</s><i>12abc</i>", "before", 12, {}},
        {"<s>first</s><s>last</s><i>12\n</i><i> -5</i>", "last", -5, {}},
        {"<i>word</i>", "previous", 0, {}},
        {"<i></i>", "previous", 0, {}},
        {"<i>99999999999</i>", "previous", INT_MAX, {}},
        {"<i>-99999999999</i>", "previous", INT_MIN, {}},
    };
    for (const auto& c : cases) {
        Targets targets;
        ASSERT_TRUE(Load(c.body, targets)) << c.body;
        EXPECT_EQ(targets.text, c.text) << c.body;
        EXPECT_EQ(targets.number, c.number) << c.body;
        EXPECT_EQ(targets.handed, c.handed) << c.body;
    }
}

// A refusing setter fails the parse, and its state is released by abort (checked by ASan);
// targets of value elements still open stay untouched.
TEST(ValueStates, FailuresLeaveOpenTargetsAlone) {
    Targets refused;
    std::string error;
    EXPECT_FALSE(Load("<d>ok</d><d>throw</d><d>never</d>", refused, &error));
    EXPECT_EQ(error, "setter refused");
    EXPECT_EQ(refused.handed, (std::vector<std::string>{"ok"}));
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
