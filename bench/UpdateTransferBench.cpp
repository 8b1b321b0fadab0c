// A 64 MiB firmware image sent by UpdateWorker (commands, status polls, 4096-byte chunks, one
// progress message per chunk, on its own thread) to an emulated printer that acknowledges every
// stage at once, against a plain loop writing the same bytes in 4096-byte writes to the same
// device, in the same run. Prints "ratio worker/plain = X.XX" with the messages taken after the
// run, and "ratio worker-followed/plain" with a receiver that wakes for every message.
//
// The printer is reached through libusb, or through usblp with REFLASHER_TRANSPORT=usblp.
//
// The printer is a umockdev device of this process: without umockdev's preload library the
// program starts itself again with the emulation's preload libraries.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Halden/windows/win32_thread_utils.h"
#include "bench/EmulationPreload.h"
#include "bench/RatioReporter.h"
#include "device/IdentifiedPrinter.h"
#include "platform/MessageQueue.h"
#include "platform/ModulePath.h"
#include "platform/PrinterTransport.h"
#include "simulator/UmockdevPrinterHost.h"
#include "updater/AttachedPrinter.h"
#include "updater/FirmwareImage.h"
#include "updater/UpdateWorker.h"
#include "updater/UpdaterMessages.h"

namespace {

constexpr std::uint32_t kImageSize = 64u << 20;

AttachedPrinter* printer = nullptr;
FirmwareImage* image = nullptr;

bool IsFinal(std::uintptr_t code) {
    return code == kProgressFinished || code == kProgressFinishedReboot;
}

// Queues every message like the command-line tool's queue and signals the final one, so that
// the messages can be taken in one go after the run.
class SignallingQueue : public platform::MessageQueue {
public:
    void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        platform::MessageQueue::Post(message, wParam, lParam);
        if (IsFinal(wParam)) {
            finished.SetEvent();
        }
    }
    Event finished{false, false};
};

// One update; the progress messages are taken as they arrive when follow is set (the receiving
// thread then wakes once per chunk and competes for the CPU), otherwise after the run.
void RunUpdate(benchmark::State& state, bool follow) {
    SignallingQueue queue;
    for (auto _ : state) {
        UpdateWorker worker;
        worker.SetWindow(&queue);
        worker.SetPrinter(printer);
        worker.SetImage(image);
        worker.Start();
        if (!follow) {
            queue.finished.Wait(kInfiniteTimeout);
        }
        std::size_t progress = 0;
        platform::Message message;
        do {
            message = queue.Take();
            progress += message.wParam == kProgressBytesSent ? 1 : 0;
        } while (!IsFinal(message.wParam));
        worker.Stop(1000);
        queue.finished.ResetEvent();
        if (message.lParam != 1 || progress != kImageSize / UpdateWorker::kMaxChunk) {
            state.SkipWithError("the update failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageSize);
}

void BM_UpdateWorker(benchmark::State& state) {
    RunUpdate(state, false);
}

void BM_UpdateWorkerFollowed(benchmark::State& state) {
    RunUpdate(state, true);
}

void BM_PlainWrites(benchmark::State& state) {
    std::uint32_t size = 0;
    const std::uint8_t* data = image->GetData(size);
    for (auto _ : state) {
        // The header lets the printer take what follows as image data, as in the update.
        bool ok = printer->SendDataHeader(size);
        for (std::uint32_t sent = 0; ok && sent < size; sent += 4096) {
            ok = printer->SendData(data + sent, std::min<std::uint32_t>(4096, size - sent));
        }
        printer->SendEnd();
        if (!ok) {
            state.SkipWithError("a write failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageSize);
}

BENCHMARK(BM_PlainWrites)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK(BM_UpdateWorker)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK(BM_UpdateWorkerFollowed)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5);

bool WriteImage(const std::string& path) {
    std::vector<char> bytes(kImageSize);
    for (std::uint32_t i = 0; i < kImageSize; ++i) {
        bytes[i] = static_cast<char>(i * 131 + (i >> 12));
    }
    const char prefix[4] = {3, 1, 0, 0};
    std::copy(prefix, prefix + 4, bytes.begin());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (const int failed = RestartUnderEmulationIfNeeded(argv)) {
        return failed;
    }
    const std::string dir = MakeBenchDir("update-transfer-bench");
    if (dir.empty()) {
        return 1;
    }
    const std::string path = dir + "/KST2_BENCH.bin";
    int status = 1;
    if (WriteImage(path)) {
        simulator::UmockdevPrinterHost host;
        simulator::PrinterConfig config;
        config.deviceId = "MFG:Orvane;MDL:Kestrel 200;VER:1.2.0.0;";
        // A printer that answers at once costs the worker one 500 ms poll per stage behind the
        // driver's read-ahead; that is not what this measures.
        config.answers = simulator::Answers::kOnNews;
        config.restart = simulator::PrinterConfig::Restart::kNo;
        // REFLASHER_TRANSPORT chooses the printer's path: usbfs (libusb) unless it says usblp.
        platform::PrinterTransport transport = platform::PrinterTransport::kAuto;
        platform::PrinterTransportFromEnvironment(transport);
        std::string devicePath = host.AddPrinter(config);
        if (transport != platform::PrinterTransport::kUsblp) {
            devicePath = host.UsbfsPath(0) + ":0";
        }
        std::printf("transport: %s (%s)\n",
                    transport == platform::PrinterTransport::kUsblp ? "usblp" : "libusb",
                    devicePath.c_str());
        auto* identified = new IdentifiedPrinter();
        std::wstring wide;
        platform::NarrowToWide(devicePath, wide);
        identified->SetDevicePath(wide.c_str());
        AttachedPrinter attached(identified);
        FirmwareImage loaded;
        platform::NarrowToWide(path, wide);
        if (!attached.Open() || !loaded.Load(wide, false)) {
            std::fprintf(stderr, "cannot open the emulated printer or load the image\n");
        } else {
            printer = &attached;
            image = &loaded;
            // Interleaved repetitions share out the load of a busy machine between the two.
            std::vector<char*> arguments(argv, argv + argc);
            arguments.push_back(const_cast<char*>("--benchmark_enable_random_interleaving=true"));
            int count = static_cast<int>(arguments.size());
            benchmark::Initialize(&count, arguments.data());
            RatioReporter reporter;
            benchmark::RunSpecifiedBenchmarks(&reporter);
            reporter.PrintRatio("worker/plain", "BM_UpdateWorker", "BM_PlainWrites");
            reporter.PrintRatio("worker-followed/plain", "BM_UpdateWorkerFollowed",
                                "BM_PlainWrites");
            benchmark::Shutdown();
            status = 0;
        }
    }
    std::filesystem::remove_all(dir);
    return status;
}
