#include "runtime/headless/HeadlessRuntime.h"

#include "common/ErrorNumbers.h"
#include "runtime/ComponentFolder.h"
#include "runtime/PictureFile.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <utility>

namespace calmora::runtime {

class HeadlessForms;

namespace {

constexpr int kInvalidPropertyValue = 380;

struct TimerState {
    std::string name;
    int interval = 0;
    bool enabled = false;
    bool running = false;  // a tick of this timer is on the stack
    bool alive = true;     // the Timer object still exists
    std::int64_t deadline = 0;
    std::uint64_t order = 0;  // creation order breaks ties between equal deadlines
    std::function<void()> onTick;
};

}  // namespace

class HeadlessForms final : public HeadlessRuntime, public Clock {
public:
    explicit HeadlessForms(ClockKind kind)
        : kind_(kind), start_(std::chrono::steady_clock::now()), appPath_(ComponentFolder()) {}

    // Clock
    std::int64_t nowMs() const override {
        if (kind_ == ClockKind::Virtual) return virtualNow_;
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
            .count();
    }

    // Forms
    std::unique_ptr<Timer> CreateTimer(std::string_view name, int intervalMs, bool enabled,
                                       std::function<void()> onTick) override;
    std::unique_ptr<PictureBox> CreatePictureBox(std::string_view name, Rect where) override;

    void MsgBox(std::string_view prompt, std::string_view title) override {
        boxes_.push_back({std::string(prompt), std::string(title)});
        std::fprintf(stderr, "calmora: message box [%s]: %.*s\n", title.empty() ? "Calmora" : std::string(title).c_str(),
                     static_cast<int>(prompt.size()), prompt.data());
        // A modal box keeps the message loop running while it shows.
        DoEvents();
        if (msgBoxHook_) msgBoxHook_(prompt, title);
    }

    void DoEvents() override { RunDue(); }
    std::string AppPath() const override { return appPath_; }
    const Clock& clock() const override { return *this; }
    void SetTickErrorHandler(std::function<void(std::string_view, std::string_view)> h) override {
        tickError_ = std::move(h);
    }

    // HeadlessRuntime
    void Advance(std::int64_t ms) override {
        const std::int64_t target = virtualNow_ + ms;
        for (;;) {
            std::int64_t d = NextDeadline();
            if (d < 0 || d > target) break;
            if (d > virtualNow_) virtualNow_ = d;
            RunDue();
        }
        // A modal box further down may have advanced the clock past target: time never runs back.
        if (virtualNow_ < target) virtualNow_ = target;
    }

    void RunDue() override {
        for (auto& poll : sources_) poll();
        const std::int64_t now = nowMs();
        // Only what was pending when the pass began: an event queued by one of them waits its turn.
        const std::uint64_t pending = seq_;
        for (;;) {
            auto it = events_.begin();
            while (it != events_.end() && it->first.first <= now && it->first.second >= pending) ++it;
            if (it == events_.end() || it->first.first > now) break;
            auto fn = std::move(it->second);
            events_.erase(it);
            try {
                fn();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "calmora: host event failed: %s\n", e.what());
            }
        }
        // Each due timer once: a tick moves its deadline past now.
        for (;;) {
            TimerState* next = nullptr;
            PurgeDead();
            for (auto& t : timers_) {
                if (!t->enabled || t->interval <= 0 || t->deadline > now) continue;
                if (!next || t->deadline < next->deadline) next = t.get();
            }
            if (!next) break;
            Fire(*next, now);
        }
    }

    std::int64_t NextDeadline() const override {
        std::int64_t best = events_.empty() ? -1 : events_.begin()->first.first;
        for (auto& t : timers_)
            if (t->alive && t->enabled && t->interval > 0 && (best < 0 || t->deadline < best)) best = t->deadline;
        return best;
    }

    void RunUntil(const std::function<bool()>& stop, int maxSleepMs) override {
        while (!stop()) {
            RunDue();
            if (stop()) break;
            std::int64_t d = NextDeadline();
            if (kind_ == ClockKind::Virtual) {
                if (d < 0) break;  // nothing will ever happen again
                if (d > virtualNow_) virtualNow_ = d;
                continue;
            }
            std::int64_t now = nowMs();
            std::int64_t until = now + maxSleepMs;
            if (d >= 0 && d < until) until = d;
            if (until > now) std::this_thread::sleep_until(start_ + std::chrono::milliseconds(until));
        }
    }

    void Post(std::int64_t atMs, std::function<void()> hostEvent) override {
        events_.emplace(std::make_pair(atMs, seq_++), std::move(hostEvent));
    }
    void AddEventSource(std::function<void()> poll) override { sources_.push_back(std::move(poll)); }
    void SetAppPath(std::string folder) override { appPath_ = std::move(folder); }
    void SetMsgBoxHook(std::function<void(std::string_view, std::string_view)> h) override {
        msgBoxHook_ = std::move(h);
    }

    const std::vector<MessageBoxRecord>& boxes() const { return boxes_; }

    // Called by the timer objects.
    void Schedule(TimerState& t) { t.deadline = nowMs() + t.interval; }

private:
    void Fire(TimerState& t, std::int64_t now) {
        std::int64_t next = t.deadline + t.interval;
        t.deadline = next > now ? next : now + t.interval;  // a late real clock skips missed ticks
        if (t.running) return;  // an earlier tick still waits further down the stack
        t.running = true;
        auto keep = FindShared(t);  // the handler may destroy the Timer object
        try {
            t.onTick();
        } catch (const std::exception& e) {
            ReportTickError(t.name, e.what());
        } catch (...) {
            ReportTickError(t.name, "unknown error");
        }
        t.running = false;
    }

    void ReportTickError(const std::string& timer, std::string_view what) {
        std::fprintf(stderr, "calmora: error in %s tick: %.*s\n", timer.c_str(), static_cast<int>(what.size()),
                     what.data());
        if (tickError_) tickError_(timer, what);
    }

    std::shared_ptr<TimerState> FindShared(TimerState& t) {
        for (auto& s : timers_)
            if (s.get() == &t) return s;
        return nullptr;
    }

    void PurgeDead() {
        if (!deadTimers_) return;
        std::erase_if(timers_, [](const auto& t) { return !t->alive; });
        deadTimers_ = false;
    }

    friend class HeadlessTimer;

    ClockKind kind_;
    std::int64_t virtualNow_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::string appPath_;
    std::vector<std::shared_ptr<TimerState>> timers_;
    bool deadTimers_ = false;
    std::uint64_t timerOrder_ = 0;
    std::map<std::pair<std::int64_t, std::uint64_t>, std::function<void()>> events_;
    std::uint64_t seq_ = 0;
    std::vector<std::function<void()>> sources_;
    std::vector<MessageBoxRecord> boxes_;
    std::function<void(std::string_view, std::string_view)> msgBoxHook_;
    std::function<void(std::string_view, std::string_view)> tickError_;
};

class HeadlessTimer final : public Timer {
public:
    HeadlessTimer(HeadlessForms& forms, std::shared_ptr<TimerState> state) : forms_(forms), s_(std::move(state)) {}
    ~HeadlessTimer() override {
        s_->alive = false;
        s_->enabled = false;
        forms_.deadTimers_ = true;
    }
    int Interval() const override { return s_->interval; }
    void SetInterval(int ms) override {
        if (ms < 0 || ms > 65535) err::Raise(kInvalidPropertyValue, "Invalid property value");
        s_->interval = ms;
        if (s_->enabled) forms_.Schedule(*s_);  // a new interval restarts the phase
    }
    bool Enabled() const override { return s_->enabled; }
    void SetEnabled(bool enabled) override {
        if (enabled == s_->enabled) return;
        s_->enabled = enabled;
        if (enabled) forms_.Schedule(*s_);
    }

private:
    HeadlessForms& forms_;
    std::shared_ptr<TimerState> s_;
};

class HeadlessPictureBox final : public PictureBox {
public:
    void SetPicture(std::string_view file) override { path_ = LoadPictureFile(file).path; }
    std::string Picture() const override { return path_; }
    std::int64_t hWnd() const override { return 0; }

private:
    std::string path_;
};

std::unique_ptr<Timer> HeadlessForms::CreateTimer(std::string_view name, int intervalMs, bool enabled,
                                                  std::function<void()> onTick) {
    auto state = std::make_shared<TimerState>();
    state->name = std::string(name);
    state->order = timerOrder_++;
    state->onTick = std::move(onTick);
    timers_.push_back(state);
    auto timer = std::make_unique<HeadlessTimer>(*this, state);
    timer->SetInterval(intervalMs);
    timer->SetEnabled(enabled);
    return timer;
}

std::unique_ptr<PictureBox> HeadlessForms::CreatePictureBox(std::string_view, Rect) {
    return std::make_unique<HeadlessPictureBox>();
}

const std::vector<MessageBoxRecord>& MessageBoxes(HeadlessRuntime& runtime) {
    return dynamic_cast<HeadlessForms&>(runtime).boxes();
}

}  // namespace calmora::runtime

namespace calmora {

std::unique_ptr<HeadlessRuntime> CreateHeadlessRuntime(HeadlessRuntime::ClockKind clock) {
    return std::make_unique<runtime::HeadlessForms>(clock);
}

}  // namespace calmora
