// How long the updater window's event loop keeps a zero-delay timer waiting while the real
// UpdaterDialog works among emulated printers: while its discovery worker finds 8 printers (from
// the window's opening, which starts the run, until the list is filled), and while it updates
// one of them with a 64 MiB image (16,384 progress messages of 4,096 bytes) to the final
// message, driven through its buttons. After each phase the same probe runs on the idle window
// for as long as the phase took, as the baseline. Prints per phase
//   "<phase>: max stall X ms, p99 Y ms (idle baseline: max A ms, p99 B ms)"
// the longest GUI-thread CPU time within one wait (a stall with little of it was the machine's
// other load, or a block, rather than work of the window), and
// "ratio <phase>/idle max stall = X.XX, p99 = Y.YY". Goal: no stall over 16 ms.
//
// The printers are umockdev devices of this process: without umockdev's preload library the
// program starts itself again with the emulation's preload libraries. Qt runs offscreen unless
// QT_QPA_PLATFORM says otherwise.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/EmulationPreload.h"
#include "bench/RatioReporter.h"
#include "simulator/UmockdevPrinterHost.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/ScriptedPrompter.h"
#include "updater/QtResourceModule.h"
#include "updater/UpdaterDialog.h"
#include "updater/UpdaterMessages.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPrinters = 8;
constexpr std::size_t kImageSize = 64u << 20;
constexpr int kDiscoveryRuns = 10;
constexpr int kUpdateRuns = 3;
const char* const kDeviceId = "MFG:Orvane;MDL:Kestrel 200;VER:1.2.0.0;";
// The image's version, newer than the printers' until they have taken it once.
const char* const kImageVersion = "1.3.0.0";

QtResourceModule* module = nullptr;
QString imagePath;

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// CPU time of the calling thread.
double ThreadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A zero-delay timer armed again each time it fires; each firing records how long it waited
// behind the rest of the event loop's work, and how much of that wait the GUI thread spent
// working (the rest it was blocked or, on a busy machine, not scheduled).
class StallProbe {
public:
    StallProbe() {
        timer_.setSingleShot(true);
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            Record();
            Arm();
        });
    }

    void Start() {
        waits_.clear();
        longestWork_ = 0;
        Arm();
    }

    // The waits so far; the one still pending counts up to now, as its stall has lasted that
    // long at least.
    std::vector<double> Stop() {
        timer_.stop();
        Record();
        return std::move(waits_);
    }

    double LongestWork() const { return longestWork_; }

private:
    void Arm() {
        armedCpu_ = ThreadCpuMilliseconds();
        armedAt_ = Clock::now();
        timer_.start();
    }

    // Both clocks are read before the vector may grow, which is the probe's own work.
    void Record() {
        const double wait = Milliseconds(Clock::now() - armedAt_);
        const double work = ThreadCpuMilliseconds() - armedCpu_;
        waits_.push_back(wait);
        longestWork_ = std::max(longestWork_, work);
    }

    QTimer timer_;
    Clock::time_point armedAt_;
    double armedCpu_ = 0;
    double longestWork_ = 0;
    std::vector<double> waits_;
};

struct Stalls {
    std::vector<double> waits;
    double longestWork = 0;

    // The waits of one stopped probe run.
    void Add(const StallProbe& probe, const std::vector<double>& more) {
        waits.insert(waits.end(), more.begin(), more.end());
        longestWork = std::max(longestWork, probe.LongestWork());
    }
    double Max() const { return waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end()); }
    // Nearest rank.
    double P99() const {
        if (waits.empty()) {
            return 0;
        }
        std::vector<double> sorted = waits;
        const std::size_t rank = (sorted.size() * 99 + 99) / 100;
        std::nth_element(sorted.begin(), sorted.begin() + (rank - 1), sorted.end());
        return sorted[rank - 1];
    }
};

struct PhaseStalls {
    Stalls busy;
    Stalls idle;
    // Longest synchronous handler of the user's clicks before the phase (choosing the file loads
    // and checks the whole image on the GUI thread), for information.
    double longestClick = 0;
};

std::map<std::string, PhaseStalls> phases;

// The probe on the idle event loop for duration.
std::vector<double> ProbeIdle(StallProbe& probe, Clock::duration duration) {
    QEventLoop loop;
    QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(duration), &loop,
                       &QEventLoop::quit);
    probe.Start();
    loop.exec();
    return probe.Stop();
}

void SetCounters(benchmark::State& state, const PhaseStalls& stalls) {
    state.counters["max_ms"] = stalls.busy.Max();
    state.counters["p99_ms"] = stalls.busy.P99();
    state.counters["idle_max_ms"] = stalls.idle.Max();
    state.counters["idle_p99_ms"] = stalls.idle.P99();
    state.counters["work_max_ms"] = stalls.busy.longestWork;
    state.counters["idle_work_max_ms"] = stalls.idle.longestWork;
    state.counters["probes"] = static_cast<double>(stalls.busy.waits.size());
    if (stalls.longestClick > 0) {
        state.counters["click_max_ms"] = stalls.longestClick;
    }
}

// Clicks button and returns how long its handlers kept the GUI thread.
double TimedClick(QPushButton* button) {
    const Clock::time_point start = Clock::now();
    button->click();
    return Milliseconds(Clock::now() - start);
}

template <typename T>
T* Control(UpdaterDialog& dialog, int id) {
    return dialog.findChild<T*>(QString::number(id));
}

// Opening the window starts its discovery run; the phase lasts until the list is filled.
void BM_Discovery(benchmark::State& state) {
    PhaseStalls& stalls = phases["discovery"];
    ScriptedPrompter prompter;
    StallProbe probe;
    for (auto _ : state) {
        UpdaterDialog dialog(*module, &prompter);
        const Clock::time_point start = Clock::now();
        dialog.show();
        probe.Start();
        const bool found = gui_test::WaitForPrintersFound(dialog);
        stalls.busy.Add(probe, probe.Stop());
        const Clock::duration elapsed = Clock::now() - start;
        if (!found || Control<QTreeWidget>(dialog, 1003)->topLevelItemCount() != kPrinters) {
            state.SkipWithError("the printers were not listed");
            break;
        }
        stalls.idle.Add(probe, ProbeIdle(probe, elapsed));
    }
    SetCounters(state, stalls);
}

// Select the first printer, choose the image (prompts answered by the prompter), Update; the
// phase lasts from the start of the update to its final message.
void BM_Update(benchmark::State& state) {
    PhaseStalls& stalls = phases["update"];
    ScriptedPrompter prompter;
    StallProbe probe;
    UpdaterDialog dialog(*module, &prompter);
    dialog.show();
    if (!gui_test::WaitForPrintersFound(dialog)) {
        state.SkipWithError("the printers were not listed");
        return;
    }
    auto* list = Control<QTreeWidget>(dialog, 1003);
    for (auto _ : state) {
        state.PauseTiming();
        list->setCurrentItem(list->topLevelItem(0));
        if (list->currentItem()->text(1) == QLatin1String(kImageVersion)) {
            prompter.answers.push_back(QMessageBox::Yes);  // not newer: take it anyway
        }
        prompter.files.push_back(imagePath);
        stalls.longestClick =
            std::max(stalls.longestClick, TimedClick(Control<QPushButton>(dialog, 1002)));
        auto* update = Control<QPushButton>(dialog, 1001);
        if (!update->isEnabled()) {
            state.SkipWithError("the image was refused");
            break;
        }
        state.ResumeTiming();

        const Clock::time_point start = Clock::now();
        stalls.longestClick = std::max(stalls.longestClick, TimedClick(update));
        probe.Start();
        std::intptr_t result = 0;
        const bool finished =
            gui_test::WaitForMessage(dialog, [&](quint32 message, quintptr code, qintptr value) {
                result = value;
                return message == WM_UPDATE_PROGRESS &&
                       (code == kProgressFinished || code == kProgressFinishedReboot);
            });
        stalls.busy.Add(probe, probe.Stop());
        const Clock::duration elapsed = Clock::now() - start;

        state.PauseTiming();
        if (!finished || result != 1 || !gui_test::WaitForPrintersFound(dialog) ||
            list->topLevelItemCount() != kPrinters) {
            state.SkipWithError("the update failed");
            break;
        }
        stalls.idle.Add(probe, ProbeIdle(probe, elapsed));
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageSize));
    SetCounters(state, stalls);
}

BENCHMARK(BM_Discovery)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(kDiscoveryRuns);
BENCHMARK(BM_Update)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(kUpdateRuns);

void PrintPhase(const std::string& name) {
    const auto found = phases.find(name);
    if (found == phases.end() || found->second.busy.waits.empty()) {
        return;
    }
    const PhaseStalls& s = found->second;
    std::printf("%s: max stall %.2f ms, p99 %.3f ms (idle baseline: max %.2f ms, p99 %.3f ms)\n",
                name.c_str(), s.busy.Max(), s.busy.P99(), s.idle.Max(), s.idle.P99());
    std::printf("%s: longest GUI-thread work within one wait %.2f ms (idle baseline: %.2f ms)\n",
                name.c_str(), s.busy.longestWork, s.idle.longestWork);
    if (s.idle.Max() > 0 && s.idle.P99() > 0) {
        std::printf("ratio %s/idle max stall = %.2f, p99 = %.2f\n", name.c_str(),
                    s.busy.Max() / s.idle.Max(), s.busy.P99() / s.idle.P99());
    }
}

bool WriteImage(const std::string& path) {
    const std::vector<std::uint8_t> bytes = gui_test::FirmwareBytes(1, 3, 0, 0, kImageSize - 6);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int RunBenchmarks(int argc, char** argv) {
    simulator::UmockdevPrinterHost host;
    for (int i = 0; i < kPrinters; ++i) {
        simulator::PrinterConfig config;
        config.deviceId = kDeviceId;
        // Answering on news spares the worker a 500 ms poll per stage behind the driver's
        // read-ahead; without a restart the printer stays on its node for the next run.
        config.answers = simulator::Answers::kOnNews;
        config.restart = simulator::PrinterConfig::Restart::kNo;
        if (host.AddPrinter(config).empty()) {
            std::fprintf(stderr, "cannot add a printer: %s\n", host.error().c_str());
            return 1;
        }
    }
    QtResourceModule loaded;
    if (!loaded.Load(gui_test::ProgramDir() + QStringLiteral("/Reflasher_enu.DLL"))) {
        std::fprintf(stderr, "no language module beside the program\n");
        return 1;
    }
    module = &loaded;
    {
        // Fonts, styles and the template loader are set up once, before any measurement.
        ScriptedPrompter prompter;
        UpdaterDialog warmUp(loaded, &prompter);
        warmUp.show();
        gui_test::WaitForPrintersFound(warmUp);
        warmUp.grab();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    PrintPhase("discovery");
    PrintPhase("update");
    benchmark::Shutdown();
    module = nullptr;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int failed = RestartUnderEmulationIfNeeded(argv)) {
        return failed;
    }
    std::setlocale(LC_ALL, "");
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string dir = MakeBenchDir("window-responsiveness-bench");
    if (dir.empty()) {
        return 1;
    }
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 0);  // keeps Qt quiet where none is set
    // Kestrel 200 firmware files are KST2*.bin.
    imagePath = QString::fromStdString(dir + "/KST2_BENCH.bin");
    int status = 1;
    if (WriteImage(imagePath.toStdString())) {
        QApplication application(argc, argv);
        status = RunBenchmarks(argc, argv);
    } else {
        std::fprintf(stderr, "cannot write the image\n");
    }
    std::filesystem::remove_all(dir);
    return status;
}
