// The Qt 6 Widgets forms runtime: timers over QTimer, picture boxes as native child windows on a
// 352 by 288 surface, QMessageBox for the modal report, QCoreApplication for pending events.
#include "common/ErrorNumbers.h"
#include "runtime/ComponentFolder.h"
#include "runtime/PictureFile.h"
#include "runtime/qt/PictureBoxWidget.h"

#include <calmora/Runtime.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

namespace calmora::runtime {
namespace {

constexpr int kInvalidPropertyValue = 380;
constexpr int kSurfaceWidth = 352;
constexpr int kSurfaceHeight = 288;
constexpr const char* kDefaultCaption = "Calmora";

using TickErrorHandler = std::function<void(std::string_view, std::string_view)>;

QString ToQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

struct TimerState {
    std::string name;
    int interval = 0;
    bool enabled = false;
    bool running = false;  // a tick of this timer is on the stack (e.g. waiting in a modal box)
    std::function<void()> onTick;
    std::shared_ptr<TickErrorHandler> errors;  // the runtime's handler, shared so it outlives neither
};

void ReportTickError(const TimerState& t, std::string_view what) {
    std::fprintf(stderr, "calmora: error in %s tick: %.*s\n", t.name.c_str(), static_cast<int>(what.size()),
                 what.data());
    if (t.errors && *t.errors) {
        try {
            (*t.errors)(t.name, what);
        } catch (...) {
            // The handler's own failure must not reach Qt's event loop either.
        }
    }
}

// Runs one tick by the common timer rules. Nothing may propagate from here into Qt's event loop.
void Tick(const std::shared_ptr<TimerState>& t) {
    if (t->running) return;  // an earlier tick still waits further down the stack: skip this one
    t->running = true;
    try {
        t->onTick();
    } catch (const std::exception& e) {
        ReportTickError(*t, e.what());
    } catch (...) {
        ReportTickError(*t, "unknown error");
    }
    t->running = false;
}

class QtTimer final : public Timer {
public:
    QtTimer(QObject* owner, std::string_view name, std::function<void()> onTick,
            std::shared_ptr<TickErrorHandler> errors)
        : s_(std::make_shared<TimerState>()), timer_(new QTimer(owner)) {
        s_->name = std::string(name);
        s_->onTick = std::move(onTick);
        s_->errors = std::move(errors);
        timer_->setTimerType(Qt::PreciseTimer);
        // The slot holds the state while it runs: the handler may destroy this Timer object.
        QObject::connect(timer_, &QTimer::timeout, timer_, [weak = std::weak_ptr<TimerState>(s_)] {
            if (auto s = weak.lock()) Tick(s);
        });
    }

    ~QtTimer() override {
        if (!timer_) return;  // the runtime went first and took its QTimers with it
        timer_->stop();
        // A QTimer must not be deleted inside its own timeout signal.
        if (s_->running)
            timer_->deleteLater();
        else
            delete timer_.data();
    }

    int Interval() const override { return s_->interval; }

    void SetInterval(int ms) override {
        if (ms < 0 || ms > 65535) err::Raise(kInvalidPropertyValue, "Invalid property value");
        s_->interval = ms;
        if (s_->enabled) Schedule();  // a new interval restarts the phase
    }

    bool Enabled() const override { return s_->enabled; }

    void SetEnabled(bool enabled) override {
        if (enabled == s_->enabled) return;  // enabling an enabled timer keeps its phase
        s_->enabled = enabled;
        if (enabled)
            Schedule();
        else if (timer_)
            timer_->stop();
    }

private:
    void Schedule() {
        if (!timer_) return;
        // Interval 0 means no ticks, although the timer stays enabled.
        if (s_->interval > 0)
            timer_->start(s_->interval);  // start() on a running QTimer restarts it
        else
            timer_->stop();
    }

    std::shared_ptr<TimerState> s_;
    QPointer<QTimer> timer_;
};

class QtPictureBox final : public PictureBox {
public:
    explicit QtPictureBox(PictureBoxWidget* widget) : widget_(widget) {}
    ~QtPictureBox() override { delete widget_.data(); }

    void SetPicture(std::string_view file) override {
        LoadedPicture loaded = LoadPictureFile(file);  // throws 53/481 before anything changes
        path_ = std::move(loaded.path);
        if (widget_) widget_->setPicture(std::move(loaded.image));
    }

    std::string Picture() const override { return path_; }

    std::int64_t hWnd() const override {
        if (!widget_) return 0;
        return static_cast<std::int64_t>(widget_->winId());
    }

private:
    QPointer<PictureBoxWidget> widget_;
    std::string path_;
};

class QtForms final : public Forms, public Clock {
public:
    explicit QtForms(QWidget* parent)
        : errors_(std::make_shared<TickErrorHandler>()), appPath_(ComponentFolder()), surface_(new QWidget(parent)) {
        surface_->setObjectName(QStringLiteral("VideoCntl"));
        surface_->setFixedSize(kSurfaceWidth, kSurfaceHeight);
        if (parent) surface_->show();  // a top-level surface is shown by its host
        started_.start();
    }

    ~QtForms() override { delete surface_.data(); }

    // Clock
    std::int64_t nowMs() const override { return started_.elapsed(); }

    // Forms
    std::unique_ptr<Timer> CreateTimer(std::string_view name, int intervalMs, bool enabled,
                                       std::function<void()> onTick) override {
        auto timer = std::make_unique<QtTimer>(&timerOwner_, name, std::move(onTick), errors_);
        timer->SetInterval(intervalMs);
        timer->SetEnabled(enabled);
        return timer;
    }

    std::unique_ptr<PictureBox> CreatePictureBox(std::string_view name, Rect where) override {
        if (!surface_) err::Raise(err::InvalidProcedureCall, "The control's surface no longer exists");
        auto* widget = new PictureBoxWidget(surface_, ToQString(name),
                                            QRect(where.left, where.top, where.width, where.height));
        widget->show();
        return std::make_unique<QtPictureBox>(widget);
    }

    void MsgBox(std::string_view prompt, std::string_view title) override {
        const QString caption = title.empty() ? QString::fromLatin1(kDefaultCaption) : ToQString(title);
        std::fprintf(stderr, "calmora: message box [%s]: %.*s\n", caption.toUtf8().constData(),
                     static_cast<int>(prompt.size()), prompt.data());
        QMessageBox box(surface_ ? surface_->window() : nullptr);
        box.setIcon(QMessageBox::NoIcon);
        box.setWindowTitle(caption);
        box.setTextFormat(Qt::PlainText);
        box.setText(ToQString(prompt));
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();  // a nested event loop: timers go on ticking while the box shows
    }

    void DoEvents() override { QCoreApplication::processEvents(); }
    std::string AppPath() const override { return appPath_; }
    const Clock& clock() const override { return *this; }
    void SetTickErrorHandler(TickErrorHandler h) override { *errors_ = std::move(h); }

    QWidget* surface() const { return surface_; }

private:
    std::shared_ptr<TickErrorHandler> errors_;
    std::string appPath_;
    QElapsedTimer started_;
    QObject timerOwner_;  // parent of the QTimers, independent of the surface's life in the host
    QPointer<QWidget> surface_;
};

}  // namespace
}  // namespace calmora::runtime

namespace calmora {

std::unique_ptr<Forms> CreateQtRuntime(void* parentWidget) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        err::Raise(err::InvalidProcedureCall, "The Qt runtime needs a QApplication");
    return std::make_unique<runtime::QtForms>(static_cast<QWidget*>(parentWidget));
}

void* QtRuntimeSurface(Forms& qtRuntime) {
    auto* forms = dynamic_cast<runtime::QtForms*>(&qtRuntime);
    return forms ? forms->surface() : nullptr;
}

}  // namespace calmora
