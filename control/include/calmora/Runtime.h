// The forms runtime a control runs on: timers, picture boxes, a modal message box, processing pending
// events, the folder of the running component and a clock. Everything is called on the UI thread.
//
// Two implementations ship with sync.ocx: a headless one (virtual or real clock; see
// CreateHeadlessRuntime) and a Qt 6 Widgets one (CreateQtRuntime). A host may supply its own by
// implementing Forms.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace calmora {

// Milliseconds since the runtime started. The virtual clock moves only when the host advances it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t nowMs() const = 0;
};

// A timer control. Rules every implementation keeps:
// - enabling at time t schedules ticks at t+i, t+2i, ... for interval i;
// - enabling an enabled timer changes nothing; disabling it, or setting its interval, cancels the
//   schedule (enabling again restarts the phase);
// - a tick runs with the clock at its deadline; at equal deadlines the timer created first ticks first;
// - a tick never starts while an earlier tick of the same timer is still running (it waits in a modal
//   report further down the stack): that tick is skipped;
// - an exception escaping the tick handler is caught by the runtime, written to standard error and
//   passed to the error handler (Forms::SetTickErrorHandler); it ends that tick only.
class Timer {
public:
    virtual ~Timer() = default;
    virtual int Interval() const = 0;
    virtual void SetInterval(int ms) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
};

// A picture box control.
class PictureBox {
public:
    virtual ~PictureBox() = default;
    // Loads the picture file and shows it (unscaled, top-left). "" assigns the empty picture.
    // The path may use "\" separators and any letter case (resolved like every path of the control).
    // Throws RuntimeError 53 when the file does not exist, 481 when it is not a picture; the box then
    // keeps what it showed.
    virtual void SetPicture(std::string_view file) = 0;
    // The resolved path of the picture shown, "" for the empty picture.
    virtual std::string Picture() const = 0;
    // Native window handle (an X11 window id in the Qt runtime, 0 when headless).
    virtual std::int64_t hWnd() const = 0;
};

// Position and size in pixels, relative to the control's surface.
struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

class Forms {
public:
    virtual ~Forms() = default;

    // A timer control; onTick runs on every tick (the Timer event).
    virtual std::unique_ptr<Timer> CreateTimer(std::string_view name, int intervalMs, bool enabled,
                                               std::function<void()> onTick) = 0;
    // A picture box on the control's surface.
    virtual std::unique_ptr<PictureBox> CreatePictureBox(std::string_view name, Rect where) = 0;
    // Modal message box with an OK button only and no icon; an empty title gives the application's
    // default caption. Pending events (timer ticks included) go on being processed while it shows.
    virtual void MsgBox(std::string_view prompt, std::string_view title = {}) = 0;
    // Processes the events that are pending now, once (due timer ticks, queued host calls).
    virtual void DoEvents() = 0;
    // Real path of the folder that holds the running component (sync.ocx), without a trailing "/".
    virtual std::string AppPath() const = 0;
    virtual const Clock& clock() const = 0;
    // Receives errors that escaped a tick handler (after they were written to standard error).
    virtual void SetTickErrorHandler(std::function<void(std::string_view timer, std::string_view what)> h) = 0;
};

// The headless runtime: no window, pictures decoded but not shown, message boxes recorded and
// dismissed at once (after processing pending events once, as a modal box would). Its event loop
// belongs to the host, which drives it with the calls below.
class HeadlessRuntime : public Forms {
public:
    enum class ClockKind { Virtual, Real };

    // Virtual clock only: moves the clock forward by ms, running every due host event and timer tick
    // in time order (host events before ticks at equal times).
    virtual void Advance(std::int64_t ms) = 0;
    // Runs what is due now (host events first, then timer ticks in order), once.
    virtual void RunDue() = 0;
    // The time of the next scheduled timer tick or host event, or -1 when none is scheduled.
    virtual std::int64_t NextDeadline() const = 0;
    // Real clock: runs the loop until stop() returns true, sleeping until the next deadline (at most
    // maxSleepMs at a time). Virtual clock: jumps from deadline to deadline instead.
    virtual void RunUntil(const std::function<bool()>& stop, int maxSleepMs = 50) = 0;
    // Queues a host event (a click, a scripted call) to run at the given time on the UI thread; it also
    // runs inside DoEvents and modal message boxes when due.
    virtual void Post(std::int64_t atMs, std::function<void()> hostEvent) = 0;
    // Called on every pass of the loop and of DoEvents, to poll host inputs (stdin keys).
    virtual void AddEventSource(std::function<void()> poll) = 0;
    // Replaces the folder reported by AppPath (tests, hosts that keep content elsewhere).
    virtual void SetAppPath(std::string folder) = 0;
    // Called inside each message box (after the pending events); default: nothing.
    virtual void SetMsgBoxHook(std::function<void(std::string_view prompt, std::string_view title)> h) = 0;
};

std::unique_ptr<HeadlessRuntime> CreateHeadlessRuntime(HeadlessRuntime::ClockKind clock);

// The Qt 6 Widgets runtime. parentWidget is the QWidget* the control's 352 by 288 surface is placed
// in (may be null for a top-level surface); a QApplication must exist.
std::unique_ptr<Forms> CreateQtRuntime(void* parentWidget);
// The QWidget* of the control's surface created by a Qt runtime (to place it in a layout).
void* QtRuntimeSurface(Forms& qtRuntime);

}  // namespace calmora
