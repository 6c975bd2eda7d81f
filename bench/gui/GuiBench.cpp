// Inside the running calmora window (Xvfb when there is no display; GStreamer engine, sound to a fake
// sink unless CALMORA_AUDIO_SINK says otherwise):
//   - fileOpen to first frame: from the Play click (which calls fileOpen) until the video's first
//     frame is on screen inside Picture1, found by sampling Picture1's pixels from the X server every
//     millisecond; median of 10 runs;
//   - how often a 1 ms precise QTimer really ticks in the window's event loop, idle and while a video
//     asana plays (the control's own Timer1 ticks at 1 ms then, and polls the devices).
#include "GuiContent.h"
#include "GuiProbe.h"
#include "XvfbDisplay.h"
#include "gui/Gui.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace calmora::testing;
namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 10;

// Whether the screen shows the video's quadrants inside Picture1, from one pixel of each.
bool QuadrantsOnScreen(const QWidget& picture) {
    const QPoint origin = picture.mapToGlobal(QPoint(0, 0));
    for (const auto& q : VideoQuadrants()) {
        const QImage pixel = GrabScreen(QRect(origin + q.centre, QSize(1, 1)));
        if (pixel.isNull() || !Near(pixel.pixel(0, 0), q.colour, 70)) return false;
    }
    return true;
}

// Runs the event loop until done() or the timeout; false on the timeout.
bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QEventLoop loop;
        QTimer::singleShot(1, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void Pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct TickRate {
    double perSecond = 0;
    double meanGapMs = 0;
    double maxGapMs = 0;
};

TickRate MeasureTicks(int runMs) {
    std::vector<qint64> stamps;
    stamps.reserve(static_cast<std::size_t>(runMs) * 2);
    QElapsedTimer clock;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] { stamps.push_back(clock.nsecsElapsed()); });
    clock.start();
    timer.start(1);
    Pause(runMs);
    timer.stop();
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    TickRate r;
    r.perSecond = static_cast<double>(stamps.size()) / seconds;
    if (stamps.size() > 1) {
        qint64 maxGap = 0;
        for (std::size_t i = 1; i < stamps.size(); ++i) maxGap = std::max(maxGap, stamps[i] - stamps[i - 1]);
        r.meanGapMs = static_cast<double>(stamps.back() - stamps.front()) / 1e6 / static_cast<double>(stamps.size() - 1);
        r.maxGapMs = static_cast<double>(maxGap) / 1e6;
    }
    return r;
}

QAction* FindAction(const QWidget& window, const char* name) {
    return window.findChild<QAction*>(QString::fromLatin1(name));
}

// The measurements, run from inside the window's event loop once the window is up.
int Measure(QWidget& window, const std::string& display) {
    QWidget* picture = FindWidget(QStringLiteral("Picture1"));
    QAction* play = FindAction(window, "play");
    QAction* stop = FindAction(window, "stop");
    if (!picture || !play || !stop) {
        std::printf("bench_gui: the window has no Picture1, Play or Stop\n");
        return 1;
    }
    // The lesson starts by itself: wait for it, so the first measured open is not the process's first.
    if (!WaitFor([&] { return QuadrantsOnScreen(*picture); }, 10000)) {
        std::printf("bench_gui: the video never showed inside Picture1\n");
        return 1;
    }
    const TickRate playing = MeasureTicks(2000);

    std::vector<double> firstFrameMs;
    int leftovers = 0;
    for (int run = 0; run < kRuns; ++run) {
        stop->trigger();
        Pause(300);
        if (QuadrantsOnScreen(*picture)) ++leftovers;  // the stopped video's last frame is still there

        // Sample every millisecond, also inside fileOpen's own yield to the event loop.
        QElapsedTimer since;
        qint64 seenNs = -1;
        QTimer sampler;
        sampler.setTimerType(Qt::PreciseTimer);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            if (seenNs < 0 && QuadrantsOnScreen(*picture)) seenNs = since.nsecsElapsed();
        });
        sampler.start(1);
        since.start();
        play->trigger();
        if (seenNs < 0 && QuadrantsOnScreen(*picture)) seenNs = since.nsecsElapsed();
        WaitFor([&] { return seenNs >= 0; }, 5000);
        sampler.stop();
        if (seenNs < 0) {
            std::printf("bench_gui: run %d: no frame within 5 s\n", run + 1);
            continue;
        }
        firstFrameMs.push_back(static_cast<double>(seenNs) / 1e6);
    }
    stop->trigger();
    Pause(300);
    const TickRate idle = MeasureTicks(2000);

    std::printf("calmora window on display %s, GStreamer engine, video drawn into Picture1\n", display.c_str());
    if (!firstFrameMs.empty()) {
        std::vector<double> sorted = firstFrameMs;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
        std::printf("  fileOpen to first frame on screen: median %.1f ms, min %.1f, max %.1f (%zu runs)\n", median,
                    sorted.front(), sorted.back(), n);
        std::printf("    runs:");
        for (double ms : firstFrameMs) std::printf(" %.1f", ms);
        std::printf("\n");
    }
    if (leftovers) std::printf("    %d stops left the video's last frame on screen\n", leftovers);
    std::printf("  1 ms QTimer in the window, video asana playing: %.0f ticks/s (gap mean %.3f ms, max %.3f ms)\n",
                playing.perSecond, playing.meanGapMs, playing.maxGapMs);
    std::printf("  1 ms QTimer in the window, idle:                %.0f ticks/s (gap mean %.3f ms, max %.3f ms)\n",
                idle.perSecond, idle.meanGapMs, idle.maxGapMs);
    return firstFrameMs.size() == kRuns ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("CALMORA_AUDIO_SINK", "fakesink", 0);
    XvfbDisplay display;
    if (!display.available()) {
        std::printf("bench_gui: skipped (%s)\n", display.problem().c_str());
        return 0;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);

    const fs::path root = fs::temp_directory_path() / ("calmora-bench-gui-" + std::to_string(::getpid()));
    ContentOptions content;
    content.videoSeconds = 8;  // long enough to measure the tick rate while it plays
    content.soundSeconds = 4;
    content.secondCueFrame = 25;
    if (std::string problem = MakeGuiContent(root / "res", content); !problem.empty()) {
        std::printf("bench_gui: skipped (%s)\n", problem.c_str());
        fs::remove_all(root);
        return 0;
    }

    int status = 1;
    QTimer::singleShot(0, [&] {
        // Wait for the window, then measure from inside its event loop and close it.
        WaitFor([] { return FindWidget(QStringLiteral("CalmoraWindow")) && FindWidget(QStringLiteral("Picture1")); }, 10000);
        if (QWidget* window = FindWidget(QStringLiteral("CalmoraWindow"))) {
            status = Measure(*window, display.display());
            window->close();
        }
    });
    calmora::host::HostOptions options;
    options.resources = (root / "res").string();
    options.asanas = {kVideoAsana};
    options.maxSeconds = 300;
    char arg0[] = "calmora";
    char* hostArgv[] = {arg0, nullptr};
    calmora::host::RunGui(1, hostArgv, options, {});
    fs::remove_all(root);
    return status;
}
