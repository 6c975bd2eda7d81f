#include "Gui.h"

#include "CatalogueInfo.h"
#include "MainWindow.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdio>
#include <memory>

// Read by LeakSanitizer builds only. Qt's session-bus connection (libdbus), GLib's type system and
// GStreamer's plug-in registry keep one-time allocations until the process ends; they are not leaks
// of this program.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgstreamer-1.0.so\n"
           "leak:/gstreamer-1.0/\n";
}

namespace calmora::host {
namespace {

// Whether Qt will get a window on screen. Qt ends the process when its platform cannot start, so ask
// the X server first; the video engine draws into X windows, so the window runs on X (XWayland under
// Wayland) unless the platform was chosen explicitly.
bool CanOpenWindow() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb")) return true;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool ok = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    if (ok && platform.isEmpty()) qputenv("QT_QPA_PLATFORM", "xcb");
    return ok;
}

// The lesson starts once the window is on screen, so that the first frame of a video is not drawn
// into a window that Qt has not painted yet (gives up waiting after a second).
void StartWhenOnScreen(MainWindow& window, int attempt) {
    QTimer::singleShot(attempt == 0 ? 0 : 10, &window, [&window, attempt] {
        QWindow* handle = window.windowHandle();
        if (handle && !handle->isExposed() && attempt < 100)
            StartWhenOnScreen(window, attempt + 1);
        else
            window.Begin();
    });
}

}  // namespace

int RunGui(int argc, char** argv, const HostOptions& options, const std::vector<ScriptAction>& script) {
    // A program (or test) that embeds the window brings its own application object.
    std::unique_ptr<QApplication> ownApp;
    if (!QCoreApplication::instance()) {
        if (!CanOpenWindow()) return -1;
        ownApp = std::make_unique<QApplication>(argc, argv);
    } else if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return -1;
    }
    QApplication::setApplicationName(QStringLiteral("calmora"));
    // The window decides the exit status; closing it must not end the loop behind its back.
    QApplication::setQuitOnLastWindowClosed(false);

    // Read before the control opens the catalogue (it holds it exclusively).
    CatalogueInfo info = ReadCatalogueInfo(options.resources);
    int status = 3;
    {
        MainWindow window(options, script, std::move(info));
        window.show();
        StartWhenOnScreen(window, 0);
        QApplication::exec();
        status = window.ExitStatus();
    }
    std::fflush(stdout);
    return status;
}

}  // namespace calmora::host
