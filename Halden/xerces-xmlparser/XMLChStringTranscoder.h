#pragma once

#include <xercesc/util/XMLString.hpp>

#include <string>

#include "Halden/xerces-xmlparser/NoCopy.h"

namespace Halden {

// Owns the result of XMLString::transcode (library characters <-> local code page) and
// releases it with XMLString::release, also when an exception passes.
template <typename Source, typename Target>
class XMLChStringTranscoder : private NoCopy {
public:
    explicit XMLChStringTranscoder(const Source* source)
        : value_(xercesc::XMLString::transcode(source)) {}
    ~XMLChStringTranscoder() { xercesc::XMLString::release(&value_); }

    const Target* get() const { return value_; }
    std::basic_string<Target> str() const {
        return value_ == nullptr ? std::basic_string<Target>() : std::basic_string<Target>(value_);
    }

private:
    Target* value_;
};

using NarrowTranscoder = XMLChStringTranscoder<XMLCh, char>;
using XMLChTranscoder = XMLChStringTranscoder<char, XMLCh>;

}  // namespace Halden
