// Loading a 64 MiB firmware file with its CRC check against reading the same file into memory
// with one read (the baseline), in the same run. Prints "ratio load/read = X.XX".

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "bench/RatioReporter.h"
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

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = MakeBenchDir("firmware-load-bench");
    if (dir.empty()) {
        return 1;
    }
    filePath = dir + "/RVX2_BENCH.bin";
    int status = 0;
    if (!WriteFirmwareFile(filePath)) {
        std::perror("writing the firmware file");
        status = 1;
    } else {
        benchmark::Initialize(&argc, argv);
        RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.PrintRatio("load/read", "BM_LoadWithCrc", "BM_ReadWholeFile");
        benchmark::Shutdown();
    }
    std::filesystem::remove_all(dir);
    return status;
}
