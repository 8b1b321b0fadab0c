// Feeds arbitrary bytes to the SAX state-stack driver with a root that accepts every element,
// so that every document reaches the states. Elements named "skip..." are declined (the driver
// skips their subtree), "fail-start" throws from startChild and "fail-finish" from finish, so
// that the skip and abort paths are reached too. Any input must end in true or false without
// a crash, a leak or a hang; every state must receive exactly one finish or abort.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "Halden/xerces-xmlparser/XercesXMLParser.h"
#include "Halden/xerces-xmlparser/XercesXMLParsingState.h"
#include "fuzz/FuzzInputFile.h"

namespace {

class AcceptAllState : public Halden::XercesXMLParsingState {
public:
    explicit AcceptAllState(std::string name) : name_(std::move(name)) { ++live; }
    ~AcceptAllState() override { --live; }

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        if (name == "fail-start") {
            throw std::runtime_error("refused " + name);
        }
        if (name.compare(0, 4, "skip") == 0) {
            return nullptr;
        }
        textBytes_ += attributes.size();
        return new AcceptAllState(name);
    }
    void addText(const std::string& text) override { textBytes_ += text.size(); }
    void finish() override {
        if (name_ == "fail-finish") {
            throw std::runtime_error("cannot finish " + name_);
        }
        delete this;
    }
    void abort() override { delete this; }

    static long live;  // states created and not yet released

private:
    std::string name_;
    std::size_t textBytes_ = 0;
};

long AcceptAllState::live = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzInputFile file("xml-driver");
    if (!file.Write(data, size)) {
        return 0;
    }
    Halden::XercesXMLParser parser;
    parser.parse(file.path(), new AcceptAllState("(document)"));
    // A state left alive after the parse would be a leak that the driver caused.
    if (AcceptAllState::live != 0) {
        std::abort();
    }
    return 0;
}
