#include "device/DeviceIdRecord.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/LastError.h"

namespace {
// Working copy of the text behind a key; values longer than 255 bytes are not expected.
constexpr std::size_t kWorkingCopySize = 256;
}  // namespace

DeviceIdRecord::~DeviceIdRecord() {
    Release();
}

void DeviceIdRecord::Release() {
    for (char** value : {&mfg_, &mdl_, &cmd_, &cls_, &des_, &ver_, &phd_, &ccp_, &pur_, &tsz_,
                         &csz_, &prb_, &cid_, &brc_}) {
        std::free(*value);
        *value = nullptr;
    }
    parsed_ = false;
}

bool DeviceIdRecord::Parse(const char* text) {
    if (text == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    Release();
    if (!ExtractKeyValue(text, "MFG:", &mfg_)) {
        return false;
    }
    if (!ExtractKeyValue(text, "MDL:", &mdl_)) {
        return false;
    }
    const struct {
        const char* key;
        char** slot;
    } optional[] = {{"VER:", &ver_}, {"CMD:", &cmd_}, {"CLS:", &cls_}, {"DES:", &des_},
                    {"PHD:", &phd_}, {"CCP:", &ccp_}, {"PUR:", &pur_}, {"TSZ:", &tsz_},
                    {"CSZ:", &csz_}, {"PRB:", &prb_}, {"CID:", &cid_}, {"BRC:", &brc_}};
    for (const auto& field : optional) {
        ExtractKeyValue(text, field.key, field.slot);
    }
    parsed_ = true;
    return true;
}

bool DeviceIdRecord::CopyValue(const char* value, char* buffer, std::uint32_t size, bool parsed) {
    if (buffer == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    if (!parsed || value == nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(value);
    if (length + 1 > size) {
        return false;
    }
    std::memcpy(buffer, value, length + 1);
    return true;
}

bool DeviceIdRecord::GetMFG(char* buffer, std::uint32_t size) const {
    return CopyValue(mfg_, buffer, size, parsed_);
}

bool DeviceIdRecord::GetMDL(char* buffer, std::uint32_t size) const {
    return CopyValue(mdl_, buffer, size, parsed_);
}

bool DeviceIdRecord::GetVER(char* buffer, std::uint32_t size) const {
    return CopyValue(ver_, buffer, size, parsed_);
}

bool DeviceIdRecord::GetPHD(char* buffer, std::uint32_t size) const {
    return CopyValue(phd_, buffer, size, parsed_);
}

bool DeviceIdRecord::ExtractKeyValue(const char* text, const char* key, char** out) {
    if (text == nullptr || key == nullptr || out == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    const char* found = std::strstr(text, key);
    if (found == nullptr) {
        return false;
    }
    const char* tail = found + std::strlen(key);
    char copy[kWorkingCopySize];
    const std::size_t copied = strnlen(tail, kWorkingCopySize - 1);
    std::memcpy(copy, tail, copied);
    copy[copied] = '\0';
    if (char* semicolon = std::strchr(copy, ';')) {
        *semicolon = '\0';
    }
    CollapseSpaces(copy);
    const std::size_t length = std::strlen(copy);
    char* value = static_cast<char*>(std::malloc(length + 1));
    *out = value;
    if (value == nullptr) {
        return false;
    }
    std::memcpy(value, copy, length + 1);
    return true;
}

char* DeviceIdRecord::CollapseSpaces(char* text) {
    if (text == nullptr) {
        return text;
    }
    char* read = text;
    char* write = text;
    while (*read != '\0') {
        while (*read == ' ') {
            ++read;
        }
        if (*read != '\0' && write != text) {
            *write++ = ' ';
        }
        while (*read != '\0' && *read != ' ') {
            *write++ = *read++;
        }
    }
    *write = '\0';
    return text;
}
