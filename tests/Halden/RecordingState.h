#pragma once

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Halden/xerces-xmlparser/XercesXMLParsingState.h"

// A state that writes every call it receives into a shared log ("<name> start:<child> a=v ...",
// "<name> text:<piece>", "finish:<name>", "abort:<name>", "delete:<name>") and accepts the
// children named in `accepted` with a new RecordingState, recursively. finish throws for the
// element named `throwOnFinish`, startChild for a child named `throwOnStart` (and an int for
// one named "int").
struct RecordingLog {
    std::vector<std::string> events;
    std::set<std::string> accepted;
    std::string throwOnFinish;
    std::string throwOnStart;
};

class RecordingState : public Halden::XercesXMLParsingState {
public:
    RecordingState(RecordingLog* log, std::string name) : log_(log), name_(std::move(name)) {}
    ~RecordingState() override { log_->events.push_back("delete:" + name_); }

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        std::string start = name_ + " start:" + name;
        for (const auto& [key, value] : attributes) {
            start += " " + key + "=" + value;
        }
        log_->events.push_back(start);
        if (name == "int") {
            throw 42;
        }
        if (name == log_->throwOnStart) {
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
