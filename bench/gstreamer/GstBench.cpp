// Figures of the GStreamer engine, headless (synced fake sinks, so timing is real):
//  (a) how far past a target frame the picture is when a 1 ms poll halts the video there;
//  (b) the silence between one sound's end and the next sound's first sample when a 10 ms poll
//      moves a photo-style sequence on;
//  (c) open + play to the first video frame;
//  (d) one status query;
//  (e) resident memory over 1000 open/close cycles.
// Media are made by ffmpeg in a temporary folder. Run on a quiet machine: the figures are times.
#include "media/gstreamer/GstElements.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace calmora::media;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

double MsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    if (values.empty())
        return 0;
    auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// Resident memory after the allocator has given its free pages back, so that what stays is what is
// held.
long RssKb() {
    ::malloc_trim(0);
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

void Ffmpeg(const std::string& arguments) {
    std::string command = "ffmpeg -nostdin -v error -y " + arguments;
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot make media: %s\n", command.c_str());
        std::exit(1);
    }
}

// Wall-clock times (µs) of what a fake sink renders, from its handoff signal (rendering only,
// never the preroll). Made before the device it watches: the device is closed first, then the watch
// lets go of the sink (which may serve the next open).
class SinkWatch {
public:
    std::atomic<gint64> firstAt{-1};
    std::atomic<gint64> lastEnd{-1};  // when the last rendered buffer has played out
    std::atomic<GstClockTime> lastPts{GST_CLOCK_TIME_NONE};

    SinkWatch() = default;
    SinkWatch(const SinkWatch&) = delete;
    SinkWatch& operator=(const SinkWatch&) = delete;
    ~SinkWatch() {
        if (sink_) {
            g_signal_handler_disconnect(sink_, handler_);
            g_object_set(sink_, "signal-handoffs", FALSE, nullptr);
            gst_object_unref(sink_);
        }
    }

    void Attach(GstElement* sink) {
        sink_ = GST_ELEMENT(gst_object_ref(sink));
        g_object_set(sink, "signal-handoffs", TRUE, nullptr);
        handler_ = g_signal_connect(sink, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer* buffer, GstPad*, gpointer self) {
                                        auto* watch = static_cast<SinkWatch*>(self);
                                        gint64 now = g_get_monotonic_time();
                                        gint64 expected = -1;
                                        watch->firstAt.compare_exchange_strong(expected, now);
                                        GstClockTime duration = GST_BUFFER_DURATION(buffer);
                                        watch->lastEnd = now + (GST_CLOCK_TIME_IS_VALID(duration) ? static_cast<gint64>(duration / 1000) : 0);
                                        watch->lastPts = GST_BUFFER_PTS(buffer);
                                    }),
                                    this);
    }

private:
    GstElement* sink_ = nullptr;
    gulong handler_ = 0;
};

struct Files {
    fs::path dir;
    std::string video;
    std::vector<std::string> sounds;
};

Files MakeFiles() {
    Files files;
    files.dir = fs::temp_directory_path() / ("calmora-gst-bench-" + std::to_string(::getpid()));
    fs::create_directories(files.dir);
    files.video = (files.dir / "video.mpg").string();
    Ffmpeg("-f lavfi -i testsrc=size=320x240:rate=25:duration=10 "
           "-vf \"drawtext=fontfile=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf:text='%{frame_num}':"
           "fontsize=80:x=20:y=40:fontcolor=white:box=1:boxcolor=black\" -c:v mpeg1video -q:v 4 -f mpeg '" +
           files.video + "'");
    // 8 to 27 MP2 frames of 1152 samples (26.1 ms): the ends fall at every phase of a 10 ms poll that
    // restarts with each sound, as real sounds of any length do.
    for (int i = 0; i < 20; ++i) {
        std::string sound = (files.dir / ("s" + std::to_string(i) + ".mp2")).string();
        double seconds = ((8 + i) * 1152 - 64) / 44100.0;
        Ffmpeg("-f lavfi -i sine=frequency=" + std::to_string(300 + 20 * i) + ":duration=" + std::to_string(seconds) +
               " -c:a mp2 '" + sound + "'");
        files.sounds.push_back(sound);
    }
    return files;
}

std::unique_ptr<Device> Open(Engine& engine, const std::string& path) {
    return engine.Open(OpenParams{path, 0, false});
}

// (a) The video runs; a 1 ms poll halts it as soon as its position reaches each of 20 targets, as the
// cue timer does. The frame on screen is the last one the sink rendered (with show-preroll-frame off a
// window keeps that one; the sink's last-sample is the next frame, prerolled but not shown).
void HaltAtTargets(Engine& engine, const Files& files) {
    SinkWatch watch;  // outlives the device that calls it
    auto video = Open(engine, files.video);
    watch.Attach(gstreamer::ElementsOf(*video).videoSink);
    std::map<std::int64_t, int> pastOnScreen, pastLastSample;
    video->Play();
    for (int target = 10; target <= 200; target += 10) {
        while (video->PositionFrames() < target)
            std::this_thread::sleep_for(1ms);
        video->Pause();
        std::this_thread::sleep_for(20ms);
        GstClockTime pts = watch.lastPts;
        ++pastOnScreen[gstreamer::FrameAt(*video, pts) - target];
        ++pastLastSample[gstreamer::ShownFrame(*video) - target];
        video->Play();
    }
    auto show = [](const std::map<std::int64_t, int>& counts) {
        std::string text;
        for (auto [past, n] : counts)
            text += (text.empty() ? "" : ", ") + std::string(past >= 0 ? "+" : "") + std::to_string(past) + ": " +
                    std::to_string(n);
        return text;
    };
    int exact = pastOnScreen.count(0) ? pastOnScreen[0] : 0;
    std::printf("(a) halt by a 1 ms poll at 20 target frames, frame on screen - target: %d of 20 at 0   "
                "[target: 0 in at least 19 of 20]\n"
                "    on screen {%s}; sink's last-sample {%s} (the prerolled next frame, not shown)\n",
                exact, show(pastOnScreen).c_str(), show(pastLastSample).c_str());
}

// (b) Photo style: every 10 ms the mode of the sound is read; once it says stopped the sound is
// closed and the next one opened and played.
void SoundSequence(Engine& engine, const Files& files) {
    std::vector<double> gaps, seen, closes, opens, starts;  // gap = seen (poll) + closes + opens + starts
    auto watch = std::make_unique<SinkWatch>();  // outlives the device that calls it
    auto sound = Open(engine, files.sounds[0]);
    watch->Attach(gstreamer::ElementsOf(*sound).audioSink);
    sound->Play();
    auto tick = SteadyClock::now();
    for (std::size_t next = 1; next < files.sounds.size();) {
        tick += 10ms;
        std::this_thread::sleep_until(tick);
        if (sound->GetMode() != Mode::Stopped)
            continue;
        gint64 seenAt = g_get_monotonic_time();
        gint64 endedAt = watch->lastEnd;
        sound.reset();
        gint64 closedAt = g_get_monotonic_time();
        watch = std::make_unique<SinkWatch>();
        sound = Open(engine, files.sounds[next++]);
        watch->Attach(gstreamer::ElementsOf(*sound).audioSink);
        gint64 playAt = g_get_monotonic_time();
        sound->Play();
        while (watch->firstAt < 0)
            std::this_thread::sleep_for(100us);
        auto ms = [](gint64 from, gint64 to) { return static_cast<double>(to - from) / 1000.0; };
        gaps.push_back(ms(endedAt, watch->firstAt));
        seen.push_back(ms(endedAt, seenAt));
        closes.push_back(ms(seenAt, closedAt));
        opens.push_back(ms(closedAt, playAt));
        starts.push_back(ms(playAt, watch->firstAt));
        tick = SteadyClock::now();
    }
    while (sound->GetMode() != Mode::Stopped)
        std::this_thread::sleep_for(10ms);
    sound.reset();
    std::printf("(b) sound end to the next sound's first sample, 20 sounds, 10 ms poll: p50 %.1f ms, p95 %.1f ms   "
                "[target: p50 <= 10 ms, p95 <= 25 ms]\n"
                "    p50 of its parts: end seen by the poll %.1f ms, close %.1f ms, open %.1f ms, play to first sample %.1f ms\n",
                Percentile(gaps, 0.5), Percentile(gaps, 0.95), Percentile(seen, 0.5), Percentile(closes, 0.5),
                Percentile(opens, 0.5), Percentile(starts, 0.5));
}

// (c) From the open command to the first frame the video sink renders: on a pipeline left idle by a
// closed device (a headless video after "close all"), and on a new one (the first open of an engine,
// and every open of a video with a window).
std::vector<double> TimesToFirstFrame(const std::function<Engine&()>& engineForRun, const Files& files) {
    std::vector<double> times;
    for (int i = 0; i < 20; ++i) {
        Engine& engine = engineForRun();
        SinkWatch watch;  // outlives the device that calls it
        gint64 start = g_get_monotonic_time();
        auto video = Open(engine, files.video);
        watch.Attach(gstreamer::ElementsOf(*video).videoSink);
        video->Play();
        while (watch.firstAt < 0)
            std::this_thread::sleep_for(100us);
        times.push_back(static_cast<double>(watch.firstAt - start) / 1000.0);
    }
    return times;
}

void OpenToFirstFrame(Engine& engine, const Files& files) {
    auto reused = TimesToFirstFrame([&]() -> Engine& { return engine; }, files);
    std::unique_ptr<Engine> fresh;
    auto created = TimesToFirstFrame(
        [&]() -> Engine& {
            fresh = MakeGStreamerEngine();
            return *fresh;
        },
        files);
    std::printf("(c) open + play to the first video frame, warm: p50 %.1f ms, p95 %.1f ms; on a new pipeline: "
                "p50 %.1f ms, p95 %.1f ms   [target: <= 150 ms]\n",
                Percentile(reused, 0.5), Percentile(reused, 0.95), Percentile(created, 0.5), Percentile(created, 0.95));
}

// (d) What one cue timer tick asks of the video: its mode and its frame position.
void StatusQuery(Engine& engine, const Files& files) {
    auto video = Open(engine, files.video);
    video->Play();
    std::this_thread::sleep_for(100ms);
    constexpr int kRounds = 200000;
    std::int64_t sink = 0;
    auto start = SteadyClock::now();
    for (int i = 0; i < kRounds; ++i) {
        sink += static_cast<int>(video->GetMode());
        sink += video->PositionFrames();
    }
    double both = MsSince(start) * 1000.0 / kRounds;
    start = SteadyClock::now();
    for (int i = 0; i < kRounds; ++i)
        sink += static_cast<int>(video->GetMode());
    double mode = MsSince(start) * 1000.0 / kRounds;
    start = SteadyClock::now();
    for (int i = 0; i < kRounds; ++i)
        sink += video->PositionMs();
    double ms = MsSince(start) * 1000.0 / kRounds;
    std::printf("(d) one status query while playing: mode + frame position %.2f us (mode %.2f us, position in ms "
                "%.2f us)   [target: <= 5 us]%s\n",
                both, mode, ms, sink == 42 ? " " : "");
}

// (e) An asana's worth per cycle: open the video and a sound, play both, close both.
void OpenCloseCycles(Engine& engine, const Files& files) {
    auto cycle = [&](int n) {
        for (int i = 0; i < n; ++i) {
            auto video = Open(engine, files.video);
            auto sound = Open(engine, files.sounds[static_cast<std::size_t>(i) % files.sounds.size()]);
            video->Play();
            sound->Play();
        }
    };
    cycle(100);
    std::string checkpoints = std::to_string(RssKb());
    long before = RssKb();
    auto start = SteadyClock::now();
    for (int quarter = 0; quarter < 4; ++quarter) {
        cycle(250);
        checkpoints += " -> " + std::to_string(RssKb());
    }
    long after = RssKb();
    std::printf("(e) RSS over 1000 open/close cycles (video + sound each, after 100 to warm up), every 250: %s kB, "
                "%+.2f kB a cycle (%.0f s)   [target: flat]\n",
                checkpoints.c_str(), static_cast<double>(after - before) / 1000.0, MsSince(start) / 1000.0);
}

}  // namespace

int main() {
    ::setenv("CALMORA_AUDIO_SINK", "fakesink", 1);
    Files files = MakeFiles();
    auto engine = MakeGStreamerEngine();
    {
        auto start = SteadyClock::now();
        auto first = Open(*engine, files.video);  // with GStreamer's start-up
        std::printf("first open, GStreamer start-up included: %.1f ms\n", MsSince(start));
        auto sound = Open(*engine, files.sounds[0]);
    }
    HaltAtTargets(*engine, files);
    SoundSequence(*engine, files);
    OpenToFirstFrame(*engine, files);
    StatusQuery(*engine, files);
    OpenCloseCycles(*engine, files);
    std::error_code ignored;
    fs::remove_all(files.dir, ignored);
    return 0;
}
