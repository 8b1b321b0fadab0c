// Feeds arbitrary bytes to LoadIdMappings as a WendIDs.xml file. Any input must end in true or
// false without a crash, a leak or a hang.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "Common/Headers/PrinterStates.h"
#include "fuzz/FuzzInputFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzInputFile file("id-mappings");
    if (!file.Write(data, size)) {
        return 0;
    }
    std::map<std::string, std::int32_t> vendors;
    std::map<std::string, std::int32_t> products;
    LoadIdMappings(file.widePath(), vendors, products);
    return 0;
}
