#pragma once

#include <string>

namespace platform {

// A folder under a name that is plain ASCII, for libraries that narrow a path through the
// locale themselves (the XML parser does): a folder whose path is not ASCII is opened and named
// /proc/self/fd/N while this object lives. A folder that cannot be opened keeps its own name,
// so that the library reports the failure as it would have.
class AsciiFolder {
public:
    explicit AsciiFolder(const std::wstring& folder);
    ~AsciiFolder();
    AsciiFolder(const AsciiFolder&) = delete;
    AsciiFolder& operator=(const AsciiFolder&) = delete;

    // Ends in '/' when the folder given did.
    const std::wstring& Path() const { return path_; }

private:
    int descriptor_ = -1;
    std::wstring path_;
};

}  // namespace platform
