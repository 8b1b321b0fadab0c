#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// The loaders read from a path, so every fuzz input is written to one file first: one fixed
// name per process (name and process id) under $TMPDIR or /tmp, removed at exit.
class FuzzInputFile {
public:
    explicit FuzzInputFile(const std::string& name) {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/reflasher-fuzz-" +
                name + "-" + std::to_string(::getpid()) + ".xml";
    }
    ~FuzzInputFile() { std::remove(path_.c_str()); }
    FuzzInputFile(const FuzzInputFile&) = delete;
    FuzzInputFile& operator=(const FuzzInputFile&) = delete;

    // Replaces the file's content with the input; false when the file cannot be written.
    bool Write(const std::uint8_t* data, std::size_t size) const {
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        if (file == nullptr) {
            return false;
        }
        const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
        return std::fclose(file) == 0 && written;
    }

    const std::string& path() const { return path_; }
    // The path is ASCII, so widening it byte by byte is exact.
    std::wstring widePath() const { return std::wstring(path_.begin(), path_.end()); }

private:
    std::string path_;
};
