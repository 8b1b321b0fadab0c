#include "updater/FirmwareImage.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <new>

#include "platform/LastError.h"
#include "platform/ModulePath.h"
#include "updater/Crc16.h"

namespace {

constexpr std::uint32_t kVersionBytes = 4;
constexpr std::uint32_t kTrailerBytes = 2;

// Version components from the prefix bytes b0 b1 b2 b3 (two little-endian 16-bit words): each
// word's high byte with its sign, its low byte without, high byte first.
//
// Another decoding (two signed 16-bit words, last two components 0) belongs to "RVX2_" files
// in principle, but the file-name test that would select it never matches a real path, so
// every file is decoded this way and the word decoding is not carried.
void DecodeVersion(const std::uint8_t* bytes, std::int32_t (&version)[4]) {
    version[0] = static_cast<std::int8_t>(bytes[1]);
    version[1] = bytes[0];
    version[2] = static_cast<std::int8_t>(bytes[3]);
    version[3] = bytes[2];
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads the whole file into a new buffer. False with the last error set on failure.
bool ReadWholeFile(const std::string& path, std::unique_ptr<std::uint8_t[]>& bytes,
                   std::uint32_t& size) {
    errno = 0;
    const File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        platform::SetLastErrorFromErrno();
        return false;
    }
    if (std::fseek(file.get(), 0, SEEK_END) != 0) {
        platform::SetLastErrorFromErrno();
        return false;
    }
    const long end = std::ftell(file.get());
    if (end < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        platform::SetLastErrorFromErrno();
        return false;
    }
    const auto length = static_cast<std::uint32_t>(static_cast<unsigned long>(end));
    if (length < kVersionBytes + kTrailerBytes) {
        platform::SetLastError(platform::kErrorInvalidData);
        return false;
    }
    // Not value-initialised: the read overwrites every byte, and zeroing 64 MiB costs as
    // much as reading it.
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[length]);
    if (!buffer) {
        platform::SetLastError(static_cast<std::uint32_t>(ENOMEM));
        return false;
    }
    errno = 0;
    if (std::fread(buffer.get(), 1, length, file.get()) != length) {
        if (std::ferror(file.get()) && errno != 0) {
            platform::SetLastErrorFromErrno();
        } else {
            platform::SetLastError(platform::kErrorInvalidData);  // shrank while we read it
        }
        return false;
    }
    bytes = std::move(buffer);
    size = length;
    return true;
}

std::string Upper(const std::string& text) {
    std::string upper(text);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

}  // namespace

FirmwareImage::FirmwareImage() = default;
FirmwareImage::~FirmwareImage() = default;

bool FirmwareImage::Load(const std::wstring& path, bool verifyCrc) {
    if (path.empty()) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    std::string narrowPath;
    if (!platform::WideToNarrow(path, narrowPath)) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint32_t size = 0;
    if (!ReadWholeFile(narrowPath, bytes, size)) {
        return false;
    }
    if (verifyCrc) {
        const std::uint32_t covered = size - kTrailerBytes;
        const std::uint16_t trailer =
            static_cast<std::uint16_t>(bytes[covered] | (bytes[covered + 1] << 8));
        if (Crc16(bytes.get(), covered) != trailer) {
            platform::SetLastError(platform::kErrorInvalidData);
            return false;
        }
    }
    DecodeVersion(bytes.get(), version_);
    bytes_ = std::move(bytes);
    size_ = size;
    path_ = path;
    return true;
}

bool FirmwareImage::GetVersionText(std::wstring& text) const {
    if (!bytes_) {
        return false;
    }
    text = std::to_wstring(version_[0]) + L'.' + std::to_wstring(version_[1]) + L'.' +
           std::to_wstring(version_[2]) + L'.' + std::to_wstring(version_[3]);
    return true;
}

bool FirmwareImage::GetVersion(std::int32_t (&version)[4]) const {
    if (!bytes_) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        version[i] = version_[i];
    }
    return true;
}

const std::uint8_t* FirmwareImage::GetData(std::uint32_t& size) const {
    if (!bytes_) {
        return nullptr;
    }
    size = size_;
    return bytes_.get();
}

bool FirmwareImage::GetTitle(std::wstring& title) const {
    const std::size_t slash = path_.rfind(L'/');
    if (slash == std::wstring::npos || slash + 1 == path_.size()) {
        return false;
    }
    const std::wstring name = path_.substr(slash + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot == 0) {
        return false;
    }
    title = dot == std::wstring::npos ? name : name.substr(0, dot);
    return true;
}

bool FirmwareImage::IsNotNewerThan(const char* printerVersion) const {
    if (printerVersion == nullptr || !bytes_) {
        return false;
    }
    int printer[4] = {0, 0, 0, 0};
    std::sscanf(printerVersion, "%d.%d.%d.%d", &printer[0], &printer[1], &printer[2], &printer[3]);
    for (int i = 0; i < 4; ++i) {
        const auto mine = static_cast<std::uint32_t>(version_[i]);
        const auto theirs = static_cast<std::uint32_t>(printer[i]);
        if (mine != theirs) {
            return mine < theirs;
        }
    }
    return true;
}

const std::wstring& FirmwareImage::GetPath() const {
    return path_;
}

bool FirmwareImage::NameFitsSpec(const std::string& fileName, const FirmwareNameSpec& spec) {
    const std::string name = Upper(fileName);
    const std::string prefix = Upper(spec.prefix);
    if (!prefix.empty() && name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    if (spec.extension.empty()) {
        return true;
    }
    const std::string suffix = "." + Upper(spec.extension);
    const std::size_t at = name.rfind(suffix);
    return at != std::string::npos && at + suffix.size() == name.size() && at > prefix.size();
}

std::uint16_t FirmwareImage::Crc16(const std::uint8_t* data, std::size_t size) {
    return Crc16Arc(data, size);
}
