// Feeds arbitrary bytes to LoadPrinterDescriptions as a Wend.xml file. Any input must end in
// true or false without a crash, a leak or a hang.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Common/Headers/PrinterStates.h"
#include "fuzz/FuzzInputFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzInputFile file("descriptions");
    if (!file.Write(data, size)) {
        return 0;
    }
    std::vector<PrinterDescription> records;
    LoadPrinterDescriptions(file.widePath(), records);
    return 0;
}
