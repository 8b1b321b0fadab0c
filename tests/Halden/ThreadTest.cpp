#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "Halden/windows/win32_thread_utils.h"
#include "Halden/windows/win32_thread_wrapper.h"

namespace {

std::string ThrownText(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::logic_error& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Records its steps. Run waits for its stop event unless told to block elsewhere or to throw.
// SpinThenIgnoreStop first spins, outside any cancellation point, until spinning turns false.
class Worker : public thread {
public:
    enum class Mode {
        WaitForStop,
        ReturnAtOnce,
        IgnoreStop,
        SpinThenIgnoreStop,
        ThrowInInitialize
    };

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
        } else if (mode_ == Mode::IgnoreStop || mode_ == Mode::SpinThenIgnoreStop) {
            while (mode_ == Mode::SpinThenIgnoreStop && spinning.load()) {
            }
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
    std::atomic<bool> spinning{true};

private:
    const Mode mode_;
    Event never_{false, true};
};

}  // namespace

TEST(Event, AutoResetLetsOneWaitThroughManualResetStaysAndWaitersWake) {
    Event autoReset(false, false);
    EXPECT_FALSE(autoReset.Wait(0));
    EXPECT_TRUE(autoReset.SetEvent());
    EXPECT_TRUE(autoReset.Wait(0));
    EXPECT_FALSE(autoReset.Wait(0));
    EXPECT_FALSE(autoReset.Wait(20));

    Event manual(true, true);
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(kInfiniteTimeout));
    EXPECT_TRUE(manual.ResetEvent());
    EXPECT_FALSE(manual.Wait(0));
    EXPECT_TRUE(manual.Release());
    EXPECT_NE(manual.GetHandle(), nullptr);

    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = autoReset.Wait(kInfiniteTimeout); });
    autoReset.SetEvent();
    waiter.join();
    EXPECT_TRUE(woke);
}

TEST(ThreadWrapper, SuspendCountTimedWaitAndSingleRelease) {
    thread_wrapper wrapper;
    EXPECT_FALSE(wrapper.HasThread());
    EXPECT_TRUE(StartsWith(ThrownText([&] { wrapper.Resume(); }), "Invalid state; File: "));
    EXPECT_TRUE(StartsWith(ThrownText([&] { wrapper.Wait(0); }), "Invalid state; File: "));

    Event release(false, true);
    auto entry = [](void* argument) -> unsigned {
        static_cast<Event*>(argument)->Wait(kInfiniteTimeout);
        return 7;
    };
    EXPECT_NE(wrapper.Create(entry, &release, true), nullptr);
    EXPECT_TRUE(wrapper.HasThread());
    EXPECT_NE(wrapper.GetId(), 0u);
    const std::string again = ThrownText([&] { wrapper.Create(entry, &release, false); });
    EXPECT_TRUE(StartsWith(again, "Invalid state; File: Halden/windows/win32_thread_wrapper.cpp"))
        << again;

    EXPECT_FALSE(wrapper.Wait(0));
    EXPECT_EQ(wrapper.Resume(), 1u);
    EXPECT_EQ(wrapper.Resume(), 0u);
    EXPECT_FALSE(wrapper.Wait(0));
    EXPECT_TRUE(wrapper.HasThread());

    release.SetEvent();
    EXPECT_TRUE(wrapper.Wait(kInfiniteTimeout));
    EXPECT_FALSE(wrapper.HasThread());
    EXPECT_TRUE(StartsWith(ThrownText([&] { wrapper.Wait(0); }), "Invalid state"));
}

TEST(Thread, StepsRunInOrderAndStopEndsTheRun) {
    Worker worker(Worker::Mode::WaitForStop);
    EXPECT_TRUE(worker.Stop(0));  // never started
    EXPECT_TRUE(StartsWith(ThrownText([&] { worker.Resume(); }), "thread not started!; File: "));

    worker.Start(true);
    EXPECT_TRUE(worker.IsStarted());
    EXPECT_FALSE(worker.running.Wait(0));
    EXPECT_EQ(worker.Resume(), 1u);
    worker.running.Wait(kInfiniteTimeout);

    const std::string twice = ThrownText([&] { worker.Start(); });
    EXPECT_TRUE(StartsWith(twice, "thread already started!; File: ")) << twice;

    EXPECT_TRUE(worker.Stop(kInfiniteTimeout));
    EXPECT_FALSE(worker.IsStarted());
    EXPECT_EQ(worker.steps, "IRF");

    // An idle worker starts again, with its stop event reset.
    worker.running.ResetEvent();
    worker.Start();
    worker.running.Wait(kInfiniteTimeout);
    EXPECT_TRUE(worker.IsStarted());
    EXPECT_TRUE(worker.Stop(kInfiniteTimeout));
    EXPECT_EQ(worker.steps, "IRFIRF");
}

TEST(Thread, FinishedWorkerIsIdleAndAThrowingStepEndsTheStepsQuietly) {
    Worker finished(Worker::Mode::ReturnAtOnce);
    finished.Start();
    finished.WaitUntilEnded();
    EXPECT_TRUE(finished.Stop(0));
    EXPECT_EQ(finished.steps, "IRF");

    Worker throwing(Worker::Mode::ThrowInInitialize);
    throwing.Start();
    throwing.WaitUntilEnded();
    EXPECT_EQ(throwing.steps, "I");
    EXPECT_TRUE(throwing.Stop(0));
}

// Cancellation is deferred: a forced stop takes effect only when the thread enters a
// cancellation point (here the wait on an event). A thread spinning outside one runs on; Stop
// gives up after the grace and the stop stays pending until the thread reaches one.
TEST(Thread, ForcedStopEndsTheStepsAtTheNextCancellationPoint) {
    for (const Worker::Mode mode : {Worker::Mode::IgnoreStop, Worker::Mode::SpinThenIgnoreStop}) {
        const bool spins = mode == Worker::Mode::SpinThenIgnoreStop;
        Worker worker(mode);
        worker.Start();
        worker.running.Wait(kInfiniteTimeout);

        EXPECT_FALSE(worker.Stop(50)) << spins;
        EXPECT_TRUE(worker.IsStarted());
        std::uint32_t code = 0;
        EXPECT_EQ(worker.GetExitCode(code), !spins);
        EXPECT_EQ(code, spins ? 0u : 0xFFFFFFFFu);
        EXPECT_TRUE(StartsWith(ThrownText([&] { worker.Start(); }), "thread already started!"));

        worker.spinning = false;
        EXPECT_TRUE(worker.Stop(10000)) << spins;
        EXPECT_FALSE(worker.IsStarted());
        EXPECT_EQ(worker.steps, "IR") << spins;
    }
}

TEST(Thread, ManyShortRunsReleaseTheHandleExactlyOnce) {
    // Races the worker's own release against the controller's Stop.
    Worker worker(Worker::Mode::ReturnAtOnce);
    for (int i = 0; i < 200; ++i) {
        worker.Start();
        if (i % 2 == 0) {
            // A run that ends between Stop's first check and its Resume makes Stop report the
            // state it finds then (false); either way the handle is released once.
            worker.Stop(kInfiniteTimeout);
        } else {
            worker.WaitUntilEnded();
        }
        EXPECT_FALSE(worker.IsStarted());
    }
}
