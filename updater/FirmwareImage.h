#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Common/Headers/FirmwareNameSpec.h"

// One firmware file held whole in memory: a 4-byte version prefix, the body and a CRC-16/ARC
// trailer (low byte first) over everything before it.
//
// Errors: operations return false (or nullptr) and never throw; Load sets the thread's last
// error. Not thread-safe: the owner (the dialog) hands the bytes to one worker at a time.
class FirmwareImage {
public:
    FirmwareImage();
    ~FirmwareImage();
    FirmwareImage(const FirmwareImage&) = delete;
    FirmwareImage& operator=(const FirmwareImage&) = delete;

    // Replaces the held image with the file at path. On failure the previous image stays
    // entirely and the last error is 87 for an empty path, errno when the file cannot be
    // opened or read, 13 for a file shorter than 6 bytes or a CRC mismatch (verifyCrc only).
    bool Load(const std::wstring& path, bool verifyCrc);

    // The following fail when nothing is loaded.
    bool GetVersionText(std::wstring& text) const;  // "%d.%d.%d.%d"
    bool GetVersion(std::int32_t (&version)[4]) const;
    // The whole file, prefix and trailer included; size is left alone when nothing is loaded.
    const std::uint8_t* GetData(std::uint32_t& size) const;
    // The file name without directory and extension; false when the path has no '/', nothing
    // follows it, or nothing stands before the last dot.
    bool GetTitle(std::wstring& title) const;

    // True when the image's version is at most printerVersion ("%d.%d.%d.%d", missing parts 0),
    // comparing components as unsigned 32-bit values from the first. A null printerVersion (the
    // printer's version request failed) or no image gives false.
    bool IsNotNewerThan(const char* printerVersion) const;

    // Empty when nothing is loaded.
    const std::wstring& GetPath() const;

    // Whether a file name (no directory) fits one firmware file-name spec of a head: ignoring
    // letter case, it starts with the prefix (if any) and ends with "." + extension (if any),
    // that last "." standing after the prefix with at least one character between them.
    static bool NameFitsSpec(const std::string& fileName, const FirmwareNameSpec& spec);

    // CRC-16/ARC (see updater/Crc16.h).
    static std::uint16_t Crc16(const std::uint8_t* data, std::size_t size);

private:
    std::wstring path_;
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::uint32_t size_ = 0;
    std::int32_t version_[4] = {0, 0, 0, 0};
};
