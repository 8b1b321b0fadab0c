#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/IdentifiedPrinter.h"
#include "device/PrinterPort.h"
#include "device/PrinterProtocol.h"
#include "updater/PrinterStatusRecord.h"

// One identified printer with its open port; every printer request of the application goes
// through it. Requests are synchronous, return false on failure and never throw; each fails
// without a description. No locking: the dialog's thread and the update worker never use the
// same printer at the same time.
class AttachedPrinter {
public:
    // Takes ownership of printer (may be null); the port starts closed.
    explicit AttachedPrinter(IdentifiedPrinter* printer);
    // Releases the device path, the description, then closes the port.
    ~AttachedPrinter();
    AttachedPrinter(const AttachedPrinter&) = delete;
    AttachedPrinter& operator=(const AttachedPrinter&) = delete;

    bool Open();

    bool GetModelNameResourceId(std::int32_t& id) const;
    bool GetShortName(std::string& name) const;
    // The device ID's VER: value.
    bool GetFirmwareVersion(std::string& version);
    // The device ID's PHD: value, or the description's default head when PHD: is absent.
    bool GetHeadName(std::string& head);
    // Appends the extensions of the head's firmware file-name specs in their order.
    bool GetFirmwareExtensions(std::vector<std::string>& extensions);
    // fileName without directory; an empty name sets last error 87.
    bool AcceptsFirmwareFileName(const std::wstring& fileName);
    bool VerifiesFirmwareCrc() const;
    bool RequiresReboot() const;
    bool StripsVersionBytes() const;

    // One read of 12 bytes; succeeds when the read does, also when it delivered fewer bytes.
    bool ReadStatus(PrinterStatusRecord& status);
    bool SendStart();
    bool SendEnd();
    bool SendImageInfo(std::uint32_t infoValue);
    bool SendDataHeader(std::uint32_t length);
    // One write; succeeds only when every byte was written.
    bool SendData(const std::uint8_t* data, std::uint32_t count);

    // The device path, or null without a description.
    const wchar_t* GetDevicePath() const;
    const IdentifiedPrinter* GetIdentifiedPrinter() const { return printer_; }

private:
    bool SendCommand(std::uint32_t word0, std::uint32_t word1, std::uint32_t word2);
    bool ReadDeviceId(std::string& text);

    IdentifiedPrinter* printer_;
    PrinterPort port_;
};
