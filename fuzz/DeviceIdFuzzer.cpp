// Feeds arbitrary bytes as a printer's answer to the device-ID request, the one input that comes
// from the hardware: through usblp's reading of it and the direct class request's, then through
// the IEEE 1284 record parser as the finder reads it. Any input must end without a crash, a leak
// or a hang.

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/DeviceIdRecord.h"
#include "platform/UsblpDeviceIdAnswer.h"

namespace {

void ParseRecord(const std::string& deviceId) {
    DeviceIdRecord record;
    if (!record.Parse(deviceId.c_str())) {
        return;
    }
    // Small buffers too, so that the fit check is reached both ways.
    for (const std::uint32_t size : {1u, 8u, 256u}) {
        char value[256];
        record.GetMFG(value, size);
        record.GetMDL(value, size);
        record.GetVER(value, size);
        record.GetPHD(value, size);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string deviceId;
    if (platform::DecodeUsblpDeviceIdAnswer(data, size, deviceId)) {
        ParseRecord(deviceId);
    }
    // The direct request's limit comes from the input, so that short limits are tried too.
    const std::size_t maxIdBytes = size > 0 ? data[0] * 8u : 0;
    if (platform::DecodeDeviceIdAnswer(data, size, maxIdBytes, deviceId)) {
        ParseRecord(deviceId);
    }
    ParseRecord(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
