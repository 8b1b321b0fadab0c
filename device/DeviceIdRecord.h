#pragma once

#include <cstdint>

// One parsed IEEE-1284 device ID ("KEY:value;" fields). Values are NUL-terminated strings
// allocated with malloc and owned by the record, or null when the key was not found.
// Failures are reported as false; null arguments also set the last error to 87.
class DeviceIdRecord {
public:
    DeviceIdRecord() = default;
    ~DeviceIdRecord();
    DeviceIdRecord(const DeviceIdRecord&) = delete;
    DeviceIdRecord& operator=(const DeviceIdRecord&) = delete;

    // MFG and MDL are required; the twelve other keys are optional.
    bool Parse(const char* text);

    // Each copies its value with the NUL into buffer; false, writing nothing, when the record
    // is not parsed, the value is absent or it does not fit into size bytes.
    bool GetMFG(char* buffer, std::uint32_t size) const;
    bool GetMDL(char* buffer, std::uint32_t size) const;
    bool GetVER(char* buffer, std::uint32_t size) const;
    bool GetPHD(char* buffer, std::uint32_t size) const;

    // Finds the first occurrence of key anywhere in text (case-sensitive) and stores a malloc'ed
    // copy of what follows it up to the next ';' (or the end), blanks collapsed, in *out. The
    // slot's previous contents are overwritten, not freed. A key directly followed by ';' gives
    // an empty value. Tails longer than 255 bytes are cut to 255 before the ';' is looked for.
    static bool ExtractKeyValue(const char* text, const char* key, char** out);

    // Removes leading and trailing blanks (0x20 only) and turns each inner run of blanks into
    // one, in place; returns its argument.
    static char* CollapseSpaces(char* text);

private:
    static bool CopyValue(const char* value, char* buffer, std::uint32_t size, bool parsed);
    void Release();

    bool parsed_ = false;
    char* mfg_ = nullptr;
    char* mdl_ = nullptr;
    char* cmd_ = nullptr;
    char* cls_ = nullptr;
    char* des_ = nullptr;
    char* ver_ = nullptr;
    char* phd_ = nullptr;
    char* ccp_ = nullptr;
    char* pur_ = nullptr;
    char* tsz_ = nullptr;
    char* csz_ = nullptr;
    char* prb_ = nullptr;
    char* cid_ = nullptr;
    char* brc_ = nullptr;
};
