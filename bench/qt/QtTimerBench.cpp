// Measures how often the Qt runtime's 1 ms timer (Timer1, the video cue timer) really ticks, and the
// gaps between ticks, over two seconds of the Qt event loop.
#include "XvfbDisplay.h"

#include <calmora/Runtime.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    calmora::testing::XvfbDisplay display;
    if (!display.available()) {
        std::printf("bench_qt_runtime: skipped (%s)\n", display.problem().c_str());
        return 0;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QWidget host;
    auto forms = calmora::CreateQtRuntime(&host);
    auto picture = forms->CreatePictureBox("Picture1", {0, 0, 352, 288});
    host.show();

    constexpr int kIntervalMs = 1;
    constexpr int kRunMs = 2000;
    std::vector<std::int64_t> stamps;
    stamps.reserve(4 * kRunMs);
    QElapsedTimer clock;
    auto timer = forms->CreateTimer("Timer1", kIntervalMs, false, [&] { stamps.push_back(clock.nsecsElapsed()); });

    // Let the window appear first, so its first paint does not count as a gap.
    {
        QEventLoop settle;
        QTimer::singleShot(200, &settle, &QEventLoop::quit);
        settle.exec();
    }
    QEventLoop loop;
    clock.start();
    timer->SetEnabled(true);
    QTimer::singleShot(kRunMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    timer->SetEnabled(false);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;

    double meanGapMs = 0, maxGapMs = 0;
    if (stamps.size() > 1) {
        std::int64_t maxGap = 0;
        for (std::size_t i = 1; i < stamps.size(); ++i) maxGap = std::max(maxGap, stamps[i] - stamps[i - 1]);
        meanGapMs = static_cast<double>(stamps.back() - stamps.front()) / 1e6 / static_cast<double>(stamps.size() - 1);
        maxGapMs = static_cast<double>(maxGap) / 1e6;
    }
    std::printf("Qt runtime timer, interval %d ms, %.2f s on display %s\n", kIntervalMs, seconds,
                display.display().c_str());
    std::printf("  ticks:    %zu (%.0f ticks/s, ideal %d)\n", stamps.size(),
                static_cast<double>(stamps.size()) / seconds, 1000 / kIntervalMs);
    std::printf("  gap mean: %.3f ms\n", meanGapMs);
    std::printf("  gap max:  %.3f ms\n", maxGapMs);
    return 0;
}
