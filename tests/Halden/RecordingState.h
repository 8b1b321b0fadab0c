#pragma once

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Halden/xerces-xmlparser/XercesXMLParsingState.h"

// A state that writes every call it receives into a shared log ("start:<child>",
// "text:<piece>", "finish:<name>", "abort:<name>", "delete:<name>") and accepts the children
// named in `accepted` with a new RecordingState, recursively. finish throws for the element
// named `throwOnFinish`.
struct RecordingLog {
    std::vector<std::string> events;
    std::set<std::string> accepted;
    std::string throwOnFinish;
    std::string throwOnStart;  // startChild of this element name throws std::runtime_error
    bool throwNonStandard = false;
    std::vector<std::string> starts;  // "<child> name=value ..." for every startChild
};

class RecordingState : public Halden::XercesXMLParsingState {
public:
    RecordingState(RecordingLog* log, std::string name) : log_(log), name_(std::move(name)) {}
    ~RecordingState() override { log_->events.push_back("delete:" + name_); }

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        log_->events.push_back(name_ + " start:" + name);
        std::string start = name;
        for (const auto& [key, value] : attributes) {
            start += " " + key + "=" + value;
        }
        log_->starts.push_back(start);
        if (name == log_->throwOnStart) {
            if (log_->throwNonStandard) {
                throw 42;
            }
            throw std::runtime_error("cannot start " + name);
        }
        return log_->accepted.count(name) != 0 ? new RecordingState(log_, name) : nullptr;
    }
    void addText(const std::string& text) override {
        log_->events.push_back(name_ + " text:" + text);
    }
    void finish() override {
        log_->events.push_back("finish:" + name_);
        if (name_ == log_->throwOnFinish) {
            throw std::runtime_error("finish of " + name_ + " failed");
        }
        delete this;
    }
    void abort() override {
        log_->events.push_back("abort:" + name_);
        delete this;
    }

private:
    RecordingLog* log_;
    std::string name_;
};
