// A console for driving tarnterm in-process: it records what the program
// writes, says which streams are terminals, and types keys once the output
// shows what they wait for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "console.h"

namespace tarn::test {

class FakeConsole : public tarnterm::Console {
public:
    using Clock = std::chrono::steady_clock;
    // A step that waits longer than this for its text gives up and ends the
    // input.
    static constexpr std::chrono::seconds kStepLimit{30};

    explicit FakeConsole(bool inputTerminal = false, bool errorTerminal = false)
        : inputTerminal_(inputTerminal), errorTerminal_(errorTerminal) {}

    // Types `keys` once the output written since the previous keys holds
    // `after`. When no keys are left the input ends.
    void TypeAfter(std::string after, std::string keys) {
        std::lock_guard<std::mutex> lock(mutex_);
        script_.emplace_back(std::move(after), std::move(keys));
    }

    std::string Out() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return out_;
    }
    std::string Err() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return err_;
    }
    bool Raw() const { return raw_; }
    // A step waited in vain.
    bool GaveUp() const { return gaveUp_; }
    // The input ends as a stop signal ends it, once the keys typed so far
    // are used up.
    void StopWithSignal(int signal) { stopSignal_ = signal; }
    // A stop signal that comes while a step runs; any thread.
    void SignalNow(int signal) {
        std::lock_guard<std::mutex> lock(mutex_);
        stopSignal_ = signal;
        stopped_ = true;
        woken_.notify_all();
    }

    bool IsTerminal(tarnterm::Stream stream) const override {
        if (stream == tarnterm::Stream::kInput) return inputTerminal_;
        if (stream == tarnterm::Stream::kError) return errorTerminal_;
        return false;
    }
    bool EnterRawMode() override {
        raw_ = inputTerminal_;
        return raw_;
    }
    void RestoreMode() override { raw_ = false; }
    // The program's own signals stay as they are; StopWithSignal stands for
    // one.
    void CatchStopSignals() override {}

    bool ReadKeys(std::string& keys, int timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (script_.empty()) {
            stopped_ = true;
            return false;
        }
        if (stepStarted_ == Clock::time_point()) stepStarted_ = Clock::now();
        if (out_.find(script_.front().first, searchFrom_) != std::string::npos) {
            keys += script_.front().second;
            script_.pop_front();
            searchFrom_ = out_.size();
            stepStarted_ = Clock::now();
            return true;
        }
        if (Clock::now() - stepStarted_ > kStepLimit) {
            gaveUp_ = true;
            return false;
        }
        woken_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return wake_; });
        wake_ = false;
        return true;
    }

    void Wake() override {
        std::lock_guard<std::mutex> lock(mutex_);
        wake_ = true;
        woken_.notify_all();
    }

    int StopSignal() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return stopped_ ? stopSignal_ : 0;
    }

    // The screen's size, which ScreenSize then gives; none by default.
    void SetScreenSize(int columns, int rows) {
        columns_ = columns;
        rows_ = rows;
    }
    bool ScreenSize(int& columns, int& rows) const override {
        columns = columns_;
        rows = rows_;
        return columns_ > 0;
    }
    void UseUtf8Output() override {}

    void Write(tarnterm::Stream stream, const std::string& bytes) override {
        std::lock_guard<std::mutex> lock(mutex_);
        (stream == tarnterm::Stream::kError ? err_ : out_) += bytes;
    }

private:
    const bool inputTerminal_;
    const bool errorTerminal_;
    bool raw_ = false;
    bool gaveUp_ = false;
    int stopSignal_ = 0;  // guarded by mutex_ once SignalNow is used
    int columns_ = 0;
    int rows_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable woken_;
    bool wake_ = false;                                       // guarded by mutex_
    bool stopped_ = false;                                    // guarded by mutex_
    std::deque<std::pair<std::string, std::string>> script_;  // guarded by mutex_
    std::string out_;                                         // guarded by mutex_
    std::string err_;                                         // guarded by mutex_
    std::size_t searchFrom_ = 0;                              // guarded by mutex_
    Clock::time_point stepStarted_;                           // guarded by mutex_
};

}  // namespace tarn::test
