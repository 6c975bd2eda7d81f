// Screenshots of the calmora window playing a lesson (the README's come from the demo lesson):
//
//   gui_screenshots RESOURCES OUTDIR
//
// Plays RESOURCES/lesson.txt in the window (on Xvfb when there is no display, sound to a fake sink)
// and saves OUTDIR/screenshot-video.png a second into the first video asana's second cue and
// OUTDIR/screenshot-photo.png half a second into the first photo asana's second photo.
#include "GuiProbe.h"
#include "XvfbDisplay.h"
#include "gui/Gui.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

using namespace calmora::testing;

namespace {

// Saves the window once the status line has shown `marker` for `delayMs`.
struct Moment {
    QString marker;
    int delayMs;
    QString file;
    std::optional<QElapsedTimer> since;
    bool saved = false;

    void Check(const QString& status, const QWidget& window) {
        if (saved) return;
        if (!status.contains(marker)) {
            since.reset();
            return;
        }
        if (!since) {
            since.emplace();
            since->start();
        }
        if (since->elapsed() < delayMs) return;
        saved = GrabScreen(window).save(file, "PNG", 9);
        std::printf("gui_screenshots: %s %s (%s)\n", saved ? "saved" : "could not save", qPrintable(file),
                    qPrintable(status));
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gui_screenshots RESOURCES OUTDIR\n");
        return 2;
    }
    ::setenv("CALMORA_AUDIO_SINK", "fakesink", 0);
    XvfbDisplay display;
    if (!display.available()) {
        std::fprintf(stderr, "gui_screenshots: no display (%s)\n", display.problem().c_str());
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);

    const QString out = QString::fromLocal8Bit(argv[2]);
    Moment moments[] = {{QStringLiteral("\u2014 playing \u00b7 cue 2"), 1000, out + "/screenshot-video.png", {}},
                        {QStringLiteral("\u2014 playing \u00b7 photo 2"), 500, out + "/screenshot-photo.png", {}}};
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* window = FindWidget(QStringLiteral("CalmoraWindow"));
        if (!window) return;
        const QString status = StatusLine();
        for (auto& m : moments) m.Check(status, *window);
        if (moments[0].saved && moments[1].saved) window->close();
    });
    poll.start(10);

    calmora::host::HostOptions options;
    options.resources = argv[1];
    options.maxSeconds = 120;
    char arg0[] = "calmora";
    char* hostArgv[] = {arg0, nullptr};
    calmora::host::RunGui(1, hostArgv, options, {});
    return moments[0].saved && moments[1].saved ? 0 : 1;
}
