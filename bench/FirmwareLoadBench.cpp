// Loading a 64 MiB firmware file with its CRC check against reading the same file into memory
// with one read (the baseline), in the same run. Prints "ratio load/read = X.XX".

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "updater/FirmwareImage.h"

namespace {

constexpr std::uint32_t kFileSize = 64u << 20;
std::string filePath;

bool WriteFirmwareFile(const std::string& path) {
    std::vector<std::uint8_t> bytes(kFileSize);
    std::mt19937 random(1);
    for (std::size_t i = 0; i + 4 <= bytes.size() - 2; i += 4) {
        const std::uint32_t value = random();
        bytes[i] = static_cast<std::uint8_t>(value);
        bytes[i + 1] = static_cast<std::uint8_t>(value >> 8);
        bytes[i + 2] = static_cast<std::uint8_t>(value >> 16);
        bytes[i + 3] = static_cast<std::uint8_t>(value >> 24);
    }
    const std::uint16_t crc = FirmwareImage::Crc16(bytes.data(), bytes.size() - 2);
    bytes[bytes.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    bytes[bytes.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

void BM_ReadWholeFile(benchmark::State& state) {
    for (auto _ : state) {
        const int fd = ::open(filePath.c_str(), O_RDONLY);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0) {
            state.SkipWithError("cannot open the firmware file");
            break;
        }
        const auto size = static_cast<std::size_t>(info.st_size);
        std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[size]);
        const bool read = bytes && ::read(fd, bytes.get(), size) == static_cast<ssize_t>(size);
        ::close(fd);
        if (!read) {
            state.SkipWithError("cannot read the firmware file");
            break;
        }
        benchmark::DoNotOptimize(bytes.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFileSize);
}

void BM_LoadWithCrc(benchmark::State& state) {
    const std::wstring path(filePath.begin(), filePath.end());
    for (auto _ : state) {
        FirmwareImage image;
        if (!image.Load(path, true)) {
            state.SkipWithError("load failed");
            break;
        }
        std::uint32_t size = 0;
        benchmark::DoNotOptimize(image.GetData(size));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFileSize);
}

void BM_Crc16Only(benchmark::State& state) {
    std::vector<std::uint8_t> bytes(kFileSize, 0x5A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(FirmwareImage::Crc16(bytes.data(), bytes.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFileSize);
}

BENCHMARK(BM_ReadWholeFile)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(5);
BENCHMARK(BM_LoadWithCrc)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(5);
BENCHMARK(BM_Crc16Only)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5)->Repetitions(5);

// Console output as usual; keeps each benchmark's median time over its repetitions (which
// shrugs off a repetition slowed by other load on the machine) for the ratio.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    RecordingReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
                !run.error_occurred) {
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> medians;  // in each benchmark's time unit
};

}  // namespace

int main(int argc, char** argv) {
    char dir[] = "/tmp/firmware-load-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    filePath = std::string(dir) + "/RVX2_BENCH.bin";
    int status = 0;
    if (!WriteFirmwareFile(filePath)) {
        std::perror("writing the firmware file");
        status = 1;
    } else {
        benchmark::Initialize(&argc, argv);
        RecordingReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        const double read = reporter.medians["BM_ReadWholeFile"];
        const double load = reporter.medians["BM_LoadWithCrc"];
        if (read > 0 && load > 0) {
            std::printf("ratio load/read = %.2f\n", load / read);
        }
        benchmark::Shutdown();
    }
    std::remove(filePath.c_str());
    ::rmdir(dir);
    return status;
}
