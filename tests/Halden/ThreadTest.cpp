#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Halden/windows/win32_thread_utils.h"
#include "Halden/windows/win32_thread_wrapper.h"
#include "Halden/xerces-xmlparser/XercesXMLParser.h"
#include "tests/Halden/RecordingState.h"
#include "tests/Halden/XmlTestFiles.h"

namespace {

// The text of the logic_error thrown by action, up to its line number.
std::string ThrownText(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::logic_error& e) {
        const std::string text = e.what();
        return text.substr(0, text.find("; Line: "));
    }
    return "(nothing thrown)";
}

// The results of calls made in order (a braced list is evaluated left to right).
std::string Results(std::initializer_list<long long> results) {
    std::string out;
    for (const long long result : results) {
        out += std::to_string(result) + " ";
    }
    return out;
}

const std::string kFile = "; File: Halden/windows/win32_thread_wrapper.cpp";
const std::string kWrapperState = "Invalid state" + kFile;

// Records its steps. Run waits for its stop event, returns at once, or ignores the stop event
// after spinning, outside any cancellation point, while `spinning`; Initialize may throw.
class Worker : public thread {
public:
    enum class Mode { WaitForStop, ReturnAtOnce, IgnoreStop, ThrowInInitialize };

    explicit Worker(Mode mode) : mode_(mode) {}
    ~Worker() override {
        spinning = false;
        never_.SetEvent();
        Stop(kInfiniteTimeout);
    }

    void Initialize() override {
        steps += "I";
        if (mode_ == Mode::ThrowInInitialize) {
            throw std::runtime_error("initialize");
        }
    }
    void Run() override {
        steps += "R";
        running.SetEvent();
        if (mode_ == Mode::WaitForStop) {
            GetStopEvent().Wait(kInfiniteTimeout);
        }
        while (mode_ == Mode::IgnoreStop && spinning.load()) {
        }
        if (mode_ == Mode::IgnoreStop) {
            never_.Wait(kInfiniteTimeout);
        }
    }
    void Finalize() override { steps += "F"; }

    void WaitUntilEnded() {
        while (IsStarted()) {
            std::this_thread::yield();
        }
    }

    std::string steps;
    Event running{false, true};
    std::atomic<bool> spinning{false};

private:
    const Mode mode_;
    Event never_{false, true};
};

}  // namespace

TEST(Event, AutoResetLetsOneWaitThroughManualResetStays) {
    Event autoReset(false, false);
    EXPECT_EQ(Results({autoReset.Wait(0), autoReset.SetEvent(), autoReset.Wait(0),
                       autoReset.Wait(0), autoReset.Wait(20)}),
              "0 1 1 0 0 ");
    Event manual(true, true);
    EXPECT_EQ(Results({manual.Wait(0), manual.Wait(kInfiniteTimeout), manual.ResetEvent(),
                       manual.Wait(0), manual.Release()}),
              "1 1 1 0 1 ");
    EXPECT_NE(manual.GetHandle(), nullptr);
}

TEST(ThreadWrapper, SuspendCountTimedWaitAndSingleRelease) {
    thread_wrapper wrapper;
    EXPECT_FALSE(wrapper.HasThread());
    EXPECT_EQ(ThrownText([&] { wrapper.Resume(); }), kWrapperState);
    EXPECT_EQ(ThrownText([&] { wrapper.Wait(0); }), kWrapperState);

    Event release(false, true);
    auto entry = [](void* argument) -> unsigned {
        static_cast<Event*>(argument)->Wait(kInfiniteTimeout);
        return 7;
    };
    EXPECT_NE(wrapper.Create(entry, &release, true), nullptr);
    EXPECT_EQ(Results({wrapper.HasThread(), wrapper.GetId() != 0}), "1 1 ");
    EXPECT_EQ(ThrownText([&] { wrapper.Create(entry, &release, false); }), kWrapperState);
    EXPECT_EQ(Results({wrapper.Wait(0), wrapper.Resume(), wrapper.Resume(), wrapper.Wait(0)}),
              "0 1 0 0 ");

    release.SetEvent();
    EXPECT_EQ(Results({wrapper.Wait(kInfiniteTimeout), wrapper.HasThread()}), "1 0 ");
}

TEST(Thread, StepsRunInOrderAndStopEndsTheRun) {
    Worker worker(Worker::Mode::WaitForStop);
    EXPECT_TRUE(worker.Stop(0));  // never started
    EXPECT_EQ(ThrownText([&] { worker.Resume(); }), "thread not started!" + kFile);

    worker.Start(true);
    EXPECT_EQ(Results({worker.IsStarted(), worker.running.Wait(0), worker.Resume(),
                       worker.running.Wait(kInfiniteTimeout)}),
              "1 0 1 1 ");
    EXPECT_EQ(ThrownText([&] { worker.Start(); }), "thread already started!" + kFile);
    EXPECT_EQ(Results({worker.Stop(kInfiniteTimeout), worker.IsStarted()}) + worker.steps,
              "1 0 IRF");

    // An idle worker starts again, with its stop event reset.
    worker.running.ResetEvent();
    worker.Start();
    EXPECT_EQ(Results({worker.running.Wait(kInfiniteTimeout), worker.IsStarted(),
                       worker.Stop(kInfiniteTimeout)}) +
                  worker.steps,
              "1 1 1 IRFIRF");
}

// A finished worker is idle; a throwing step ends the steps quietly. Many short runs race the
// worker's own release of the handle against the controller's Stop: it is released once.
TEST(Thread, FinishedAndThrowingWorkersEndQuietlyAndReleaseTheHandleOnce) {
    Worker throwing(Worker::Mode::ThrowInInitialize);
    throwing.Start();
    throwing.WaitUntilEnded();
    EXPECT_EQ(Results({throwing.Stop(0)}) + throwing.steps, "1 I");

    Worker worker(Worker::Mode::ReturnAtOnce);
    for (int i = 0; i < 200; ++i) {
        worker.Start();
        if (i % 2 == 0) {
            // A run that ends between Stop's first check and its Resume makes Stop report the
            // state it finds then (false); either way the handle is released once.
            worker.Stop(kInfiniteTimeout);
        } else {
            worker.WaitUntilEnded();
            EXPECT_EQ(Results({worker.Stop(0)}) + worker.steps.substr(worker.steps.size() - 3),
                      "1 IRF");
        }
        EXPECT_FALSE(worker.IsStarted());
    }
}

// Cancellation is deferred: a forced stop takes effect only when the thread enters a
// cancellation point (here the wait on an event). A thread spinning outside one runs on; Stop
// gives up after the grace and the stop stays pending until the thread reaches one.
TEST(Thread, ForcedStopEndsTheStepsAtTheNextCancellationPoint) {
    for (const bool spins : {false, true}) {
        Worker worker(Worker::Mode::IgnoreStop);
        worker.spinning = spins;
        worker.Start();
        worker.running.Wait(kInfiniteTimeout);

        std::uint32_t code = 0;
        EXPECT_EQ(Results({worker.Stop(50), worker.IsStarted(), worker.GetExitCode(code), code}),
                  spins ? "0 1 0 0 " : "0 1 1 4294967295 ");
        EXPECT_EQ(ThrownText([&] { worker.Start(); }), "thread already started!" + kFile);

        worker.spinning = false;
        EXPECT_EQ(Results({worker.Stop(10000), worker.IsStarted()}) + worker.steps, "1 0 IR");
    }
}

// Parsers constructed and used on several threads at once: the one-time library
// initialisation and the parses must be free of data races.
TEST(XercesXMLParser, ConcurrentConstructionAndParsing) {
    XmlTestFiles files;
    const std::string path = files.Write("doc.xml", "<doc>a<c>b</c>c</doc>");
    std::atomic<int> successes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                RecordingLog log{{}, {"doc", "c"}, "", ""};
                Halden::XercesXMLParser parser;
                successes +=
                    parser.parse(path, new RecordingState(&log, "root")) && log.events.size() == 11;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(successes.load(), 80);
}
