// The port watcher: one event per change of the port list, on the thread
// that NeedSynchronization says, for every source of ports; and stopping or
// destroying it while an event waits for the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_synchronize.h"
#include "host_thread.h"
#include "port_watcher.h"
#include "virtual_port.h"
#include "wait_until.h"
#include "watched_port_source.h"

using tarn::host::UnicodeString;

namespace tarn::test {

namespace {

// Removed, plugged, unlisted and plugged again in turn; for good it is
// destroyed.
class VirtualPortSource final : public WatchedPortSource {
public:
    UnicodeString ListedName() const override { return u"VWATCHED"; }

    bool Appear(std::string&) override {
        if (!port_) {
            port_ = std::make_unique<tarn::driver::VirtualPort>("vwatched");
        } else {
            port_->Plug();
        }
        return true;
    }

    bool Vanish(bool forGood, std::string&) override {
        if (forGood) {
            port_.reset();
        } else if (unlist_) {
            port_->Unlist();
        } else {
            port_->Remove();
        }
        unlist_ = !unlist_;
        return true;
    }

private:
    std::unique_ptr<tarn::driver::VirtualPort> port_;
    bool unlist_ = false;
};

}  // namespace

std::unique_ptr<WatchedPortSource> MakeVirtualPortSource() {
    return std::make_unique<VirtualPortSource>();
}

namespace {

struct Seen {
    UnicodeString name;
    bool arrived;
    bool onMainThread;
};

// Records every event of a watcher; any thread.
class Recorder {
public:
    void Attach(TPortWatcher& watcher) {
        watcher.SetOnArrival([this](TPortWatcher*, UnicodeString name) { Add(name, true); });
        watcher.SetOnRemoval([this](TPortWatcher*, UnicodeString name) { Add(name, false); });
    }

    std::vector<Seen> Of(const UnicodeString& name) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Seen> of;
        for (const Seen& seen : events_) {
            if (seen.name == name) of.push_back(seen);
        }
        return of;
    }

    std::size_t Count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.size();
    }

private:
    void Add(const UnicodeString& name, bool arrived) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(Seen{name, arrived, tarn::host::IsMainThread()});
    }

    mutable std::mutex mutex_;
    std::vector<Seen> events_;
};

using SourceFactory = std::unique_ptr<WatchedPortSource> (*)();

struct WatchCase {
    const char* source;
    SourceFactory make;
    bool synchronized;
};

class PortWatcherEvents : public ::testing::TestWithParam<WatchCase> {};

TEST_P(PortWatcherEvents, EachComingAndGoingOnceInOrderOnTheChosenThread) {
    const WatchCase& c = GetParam();
    tarn::driver::VirtualPort baseline("VWATCHBASE");
    std::unique_ptr<WatchedPortSource> source = c.make();
    const UnicodeString name = source->ListedName();
    Recorder recorder;
    TPortWatcher watcher;
    EXPECT_TRUE(watcher.GetNeedSynchronization());
    watcher.SetNeedSynchronization(c.synchronized);
    recorder.Attach(watcher);
    watcher.Start();
    EXPECT_TRUE(watcher.Active());

    std::string whyNot;
    ASSERT_FALSE(name.empty()) << "the source has no name";
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(source->Appear(whyNot)) << whyNot;
        ASSERT_TRUE(WaitUntil([&] { return recorder.Of(name).size() == 2u * round - 1; }))
            << "no arrival in round " << round;
        ASSERT_TRUE(source->Vanish(round == 3, whyNot)) << whyNot;
        ASSERT_TRUE(WaitUntil([&] { return recorder.Of(name).size() == 2u * round; }))
            << "no removal in round " << round;
    }
    watcher.Stop();
    EXPECT_FALSE(watcher.Active());

    const std::vector<Seen> events = recorder.Of(name);
    ASSERT_EQ(events.size(), 6u);
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].arrived, i % 2 == 0) << "event " << i;
        EXPECT_EQ(events[i].onMainThread, c.synchronized) << "event " << i;
    }
    EXPECT_TRUE(recorder.Of(u"VWATCHBASE").empty()) << "the baseline was reported";
}

INSTANTIATE_TEST_SUITE_P(Sources, PortWatcherEvents,
                         ::testing::Values(WatchCase{"Virtual", &MakeVirtualPortSource, true},
                                           WatchCase{"Virtual", &MakeVirtualPortSource, false},
                                           WatchCase{"System", &MakeSystemPortSource, true},
                                           WatchCase{"System", &MakeSystemPortSource, false}),
                         [](const ::testing::TestParamInfo<WatchCase>& info) {
                             return std::string(info.param.source) +
                                    (info.param.synchronized ? "OnMainThread" : "OnWatcherThread");
                         });

// Counts the calls that background threads queue for the main thread.
class QueuedCalls {
public:
    QueuedCalls() {
        tarn::host::SetWakeMainThread([this] { count_.fetch_add(1); });
    }
    ~QueuedCalls() { tarn::host::SetWakeMainThread({}); }

    // Waits, without serving the queue, until a call is queued.
    bool WaitForOne() const {
        const auto deadline = std::chrono::steady_clock::now() + kEventLimit;
        while (count_.load() == 0) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

private:
    std::atomic<int> count_{0};
};

TEST(PortWatcherStop, StopAndDestructionDropAnEventThatWaitsForTheMainThread) {
    Recorder recorder;
    {
        TPortWatcher watcher;
        recorder.Attach(watcher);
        watcher.Start();
        QueuedCalls queued;
        tarn::driver::VirtualPort port("VWATCHSTOP");
        ASSERT_TRUE(queued.WaitForOne());
        watcher.Stop();
        EXPECT_FALSE(watcher.Active());
        tarn::host::CheckSynchronize();
    }
    {
        auto watcher = std::make_unique<TPortWatcher>();
        recorder.Attach(*watcher);
        watcher->Start();
        QueuedCalls queued;
        tarn::driver::VirtualPort port("VWATCHGONE");
        ASSERT_TRUE(queued.WaitForOne());
        watcher.reset();
        tarn::host::CheckSynchronize();
    }
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST(PortWatcherStop, DestroyedInsideItsOwnHandlerOnEitherThread) {
    for (const bool synchronized : {true, false}) {
        auto* watcher = new TPortWatcher;
        watcher->SetNeedSynchronization(synchronized);
        std::atomic<int> calls{0};
        std::atomic<bool> deleted{false};
        watcher->SetOnArrival([&](TPortWatcher* sender, UnicodeString) {
            calls.fetch_add(1);
            delete sender;
            deleted.store(true);
        });
        watcher->Start();
        // Two arrivals in one look: the second must not reach a deleted
        // watcher.
        tarn::driver::VirtualPort first("VWATCHDEL1");
        tarn::driver::VirtualPort second("VWATCHDEL2");
        ASSERT_TRUE(WaitUntil([&] { return deleted.load(); })) << "synchronized " << synchronized;
        tarn::host::CheckSynchronize();
        EXPECT_EQ(calls.load(), 1) << "synchronized " << synchronized;
    }
}

}  // namespace

}  // namespace tarn::test
