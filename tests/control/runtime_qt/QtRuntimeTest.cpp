// The Qt forms runtime on a real X server: timers in real time (only "it ticked", never how fast),
// pictures checked pixel by pixel, the native window a video draws into, the modal report.
#include "XvfbDisplay.h"

#include <calmora/Error.h>
#include <calmora/Runtime.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <X11/Xlib.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Qt's session-bus connection keeps a buffer from libdbus until exit; not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace {

using calmora::Forms;
using calmora::PictureBox;
using calmora::RuntimeError;
using calmora::Timer;

// One display and one QApplication for the whole program.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        display_ = std::make_unique<calmora::testing::XvfbDisplay>();
        if (!display_->available()) return;
        qputenv("QT_QPA_PLATFORM", "xcb");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override {
        app_.reset();
        display_.reset();
    }
    static QApplication* app() { return app_.get(); }
    static std::string problem() { return display_ ? display_->problem() : "no display"; }

private:
    static inline std::unique_ptr<calmora::testing::XvfbDisplay> display_;
    static inline std::unique_ptr<QApplication> app_;
    static inline char arg0_[] = "test_runtime_qt";
    static inline char* argv_[] = {arg0_, nullptr};
    static inline int argc_ = 1;
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Runs the Qt event loop for a while (timers tick, windows get painted).
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <class Condition>
bool RunUntil(Condition done, int maxMs = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > maxMs) return false;
        RunFor(10);
    }
    return true;
}

struct MessageBoxSeen {
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::Question;
    QList<QAbstractButton*>::size_type buttons = 0;
    bool okOnly = false;
};

// Closes the next modal message box with its OK button after it has shown for holdMs, and records it.
class MessageBoxCloser {
public:
    explicit MessageBoxCloser(int holdMs) {
        poll_.setInterval(10);
        QObject::connect(&poll_, &QTimer::timeout, [this, holdMs] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            if (!shownFor_.isValid()) shownFor_.start();
            if (shownFor_.elapsed() < holdMs) return;
            MessageBoxSeen s;
            s.text = box->text();
            s.title = box->windowTitle();
            s.icon = box->icon();
            s.buttons = box->buttons().size();
            s.okOnly = box->standardButtons() == QMessageBox::Ok;
            seen_.push_back(s);
            shownFor_.invalidate();
            box->button(QMessageBox::Ok)->click();
        });
        poll_.start();
    }
    const std::vector<MessageBoxSeen>& seen() const { return seen_; }

private:
    QTimer poll_;
    QElapsedTimer shownFor_;
    std::vector<MessageBoxSeen> seen_;
};

QImage MakeImage(QSize size, QColor fill, QColor corner, int cornerSize) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(fill);
    QPainter p(&image);
    p.fillRect(0, 0, cornerSize, cornerSize, corner);
    return image;
}

class QtRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QtEnvironment::app()) GTEST_SKIP() << "no X display: " << QtEnvironment::problem();
        ASSERT_TRUE(dir_.isValid());
        host_ = std::make_unique<QWidget>();
        host_->resize(400, 320);
        forms_ = calmora::CreateQtRuntime(host_.get());
        picture1_ = forms_->CreatePictureBox("Picture1", {0, 0, 352, 288});
        picture2_ = forms_->CreatePictureBox("Picture2", {0, 287, 352, 1});
        surface_ = static_cast<QWidget*>(calmora::QtRuntimeSurface(*forms_));
        ASSERT_NE(surface_, nullptr);
        box1_ = surface_->findChild<QWidget*>("Picture1");
        box2_ = surface_->findChild<QWidget*>("Picture2");
        ASSERT_NE(box1_, nullptr);
        ASSERT_NE(box2_, nullptr);
        host_->show();
        ASSERT_TRUE(RunUntil([&] { return box1_->windowHandle() && box1_->windowHandle()->isExposed(); }));
    }

    void TearDown() override {
        picture1_.reset();
        picture2_.reset();
        forms_.reset();
        host_.reset();
    }

    std::string Save(const QString& name, const QImage& image) {
        const QString path = dir_.filePath(name);
        EXPECT_TRUE(image.save(path));
        return path.toStdString();
    }
    std::string Write(const QString& name, const QByteArray& bytes) {
        QFile f(dir_.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName().toStdString();
    }

    QColor Background() const { return box1_->palette().color(QPalette::Window); }
    // What the box paints.
    QImage Painted() const { return box1_->grab().toImage(); }
    // What the X server shows at a point of Picture1 (its native window, whatever drew into it).
    QColor OnScreen(QPoint at) const {
        const QPoint g = box1_->mapToGlobal(at);
        return QGuiApplication::primaryScreen()->grabWindow(0, g.x(), g.y(), 1, 1).toImage().pixelColor(0, 0);
    }

    QTemporaryDir dir_;
    std::unique_ptr<QWidget> host_;
    std::unique_ptr<Forms> forms_;
    std::unique_ptr<PictureBox> picture1_, picture2_;
    QWidget* surface_ = nullptr;
    QWidget* box1_ = nullptr;
    QWidget* box2_ = nullptr;
};

TEST_F(QtRuntimeTest, SurfaceHoldsNativePictureBoxesAtTheirDesignGeometry) {
    EXPECT_EQ(surface_->parentWidget(), host_.get());
    EXPECT_EQ(surface_->size(), QSize(352, 288));
    EXPECT_EQ(box1_->geometry(), QRect(0, 0, 352, 288));
    EXPECT_EQ(box2_->geometry(), QRect(0, 287, 352, 1));
    EXPECT_EQ(box1_->backgroundRole(), QPalette::Window);
    EXPECT_EQ(box1_->foregroundRole(), QPalette::WindowText);

    // The handle is the box's own X window, distinct per box and stable while the control lives.
    const std::int64_t h1 = picture1_->hWnd();
    EXPECT_NE(h1, 0);
    EXPECT_EQ(h1, static_cast<std::int64_t>(box1_->winId()));
    EXPECT_NE(picture2_->hWnd(), h1);
    EXPECT_NE(static_cast<std::int64_t>(host_->winId()), h1);
    picture1_->SetPicture(Save("a.png", MakeImage({10, 10}, Qt::red, Qt::red, 0)));
    host_->hide();
    RunFor(20);
    host_->show();
    RunFor(20);
    EXPECT_EQ(picture1_->hWnd(), h1);
}

TEST_F(QtRuntimeTest, PictureShowsUnscaledAtTopLeftOverTheBackground) {
    struct Probe {
        QPoint at;
        std::optional<QColor> colour;  // nullopt: the background colour
    };
    struct Case {
        const char* name;
        QSize size;
        std::vector<Probe> probes;
    } cases[] = {
        // smaller than the box: the rest is background
        {"small", {40, 30}, {{{2, 2}, QColor(Qt::blue)}, {{15, 15}, QColor(Qt::green)}, {{39, 29}, QColor(Qt::green)},
                             {{40, 10}, std::nullopt}, {{10, 30}, std::nullopt}, {{300, 250}, std::nullopt}}},
        // larger than the box: clipped, not scaled (the 10-pixel corner stays 10 pixels)
        {"large", {500, 400}, {{{9, 9}, QColor(Qt::blue)}, {{10, 10}, QColor(Qt::green)}, {{351, 286}, QColor(Qt::green)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Save(QString(c.name) + ".png", MakeImage(c.size, Qt::green, Qt::blue, 10));
        picture1_->SetPicture(path);
        EXPECT_EQ(picture1_->Picture(), path);
        const QImage painted = Painted();
        for (const auto& p : c.probes) {
            const QColor expected = p.colour.value_or(Background());
            EXPECT_EQ(painted.pixelColor(p.at), expected) << p.at.x() << "," << p.at.y();
        }
        // And it reached the screen, at once (the box repaints synchronously).
        EXPECT_EQ(OnScreen({5, 5}), QColor(Qt::blue));
    }
}

TEST_F(QtRuntimeTest, PicturePathIsResolvedLikeEveryControlPath) {
    QDir(dir_.path()).mkdir("Video");
    const std::string real = Save("Video/Pose1.JPG", MakeImage({20, 20}, Qt::red, Qt::red, 0));
    const std::string built = dir_.path().toStdString() + "\\video\\pose1.jpg";
    picture1_->SetPicture(built);
    EXPECT_EQ(picture1_->Picture(), real);
    const QColor shown = Painted().pixelColor(10, 10);
    EXPECT_GT(shown.red(), 200);  // JPEG: close to red
    EXPECT_LT(shown.green(), 60);
}

TEST_F(QtRuntimeTest, EmptyPictureShowsOnlyTheBackground) {
    picture1_->SetPicture(Save("p.png", MakeImage({352, 288}, Qt::yellow, Qt::yellow, 0)));
    picture1_->SetPicture("");
    EXPECT_EQ(picture1_->Picture(), "");
    const QImage painted = Painted();
    const QRgb bg = Background().rgb();
    int other = 0;
    for (int y = 0; y < painted.height(); ++y)
        for (int x = 0; x < painted.width(); ++x)
            if (painted.pixel(x, y) != bg) ++other;
    EXPECT_EQ(other, 0);
    EXPECT_EQ(OnScreen({100, 100}), Background());
}

TEST_F(QtRuntimeTest, FailedLoadRaisesAndKeepsWhatTheBoxShowed) {
    const std::string shown = Save("shown.png", MakeImage({352, 288}, Qt::magenta, Qt::magenta, 0));
    QByteArray png;
    {
        QFile f(QString::fromStdString(shown));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        png = f.readAll();
    }
    QDir(dir_.path()).mkdir("folder.png");
    struct Case {
        const char* name;
        std::string path;
        int number;
    } cases[] = {
        {"missing file", dir_.filePath("nothing.png").toStdString(), 53},
        {"a folder", dir_.filePath("folder.png").toStdString(), 53},
        {"text, not a picture", Write("notes.jpg", "Breathe in, breathe out\n"), 481},
        {"truncated PNG", Write("cut.png", png.left(png.size() / 3)), 481},
    };
    picture1_->SetPicture(shown);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            picture1_->SetPicture(c.path);
            ADD_FAILURE() << "no error";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), c.number);
        }
        EXPECT_EQ(picture1_->Picture(), shown);
        EXPECT_EQ(Painted().pixelColor(200, 200), QColor(Qt::magenta));
    }
}

// A video engine draws in a child X window of Picture1 that it creates from its own connection. Qt
// must never paint over it (the video may be held on a cue frame for seconds), and the picture must
// come back when the video window goes away.
TEST_F(QtRuntimeTest, VideoChildWindowIsNeverPaintedOverAndUncoversThePicture) {
    picture1_->SetPicture(Save("photo.png", MakeImage({352, 288}, Qt::green, Qt::green, 0)));
    Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None;
    const Window video = XCreateWindow(dpy, static_cast<Window>(picture1_->hWnd()), 0, 0, 352, 288, 0,
                                       CopyFromParent, InputOutput, CopyFromParent, CWBackPixmap, &attributes);
    XMapWindow(dpy, video);
    XSync(dpy, False);
    GC gc = XCreateGC(dpy, video, 0, nullptr);
    XSetForeground(dpy, gc, 0xff0000);  // a red "frame"
    XFillRectangle(dpy, video, gc, 0, 0, 352, 288);
    XSync(dpy, False);
    RunFor(50);
    EXPECT_EQ(OnScreen({100, 100}), QColor(Qt::red));

    // Everything that repaints the box on Qt's side.
    picture1_->SetPicture("");
    box1_->update();
    host_->resize(420, 340);
    surface_->move(6, 4);
    RunFor(100);
    EXPECT_EQ(OnScreen({100, 100}), QColor(Qt::red));
    EXPECT_EQ(picture1_->hWnd(), static_cast<std::int64_t>(box1_->winId()));

    // "close": the video window goes, the box shows what it holds now.
    picture1_->SetPicture(Save("photo2.png", MakeImage({352, 288}, Qt::cyan, Qt::cyan, 0)));
    XFreeGC(dpy, gc);
    XDestroyWindow(dpy, video);
    XSync(dpy, False);
    EXPECT_TRUE(RunUntil([&] { return OnScreen({100, 100}) == QColor(Qt::cyan); }, 2000));
    XCloseDisplay(dpy);
}

TEST_F(QtRuntimeTest, TimerTicksAtOneMillisecondUntilDisabled) {
    int ticks = 0;
    auto timer = forms_->CreateTimer("Timer1", 1, true, [&] { ++ticks; });
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 1);
    RunFor(150);
    EXPECT_GT(ticks, 0);

    timer->SetEnabled(false);
    const int atStop = ticks;
    RunFor(30);
    EXPECT_EQ(ticks, atStop);

    // Interval 0: enabled, yet no ticks.
    timer->SetInterval(0);
    timer->SetEnabled(true);
    RunFor(30);
    EXPECT_EQ(ticks, atStop);

    // An interval outside 0..65535 is refused and changes nothing.
    for (int bad : {-1, 65536}) {
        try {
            timer->SetInterval(bad);
            ADD_FAILURE() << bad;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), 380);
        }
    }
    EXPECT_EQ(timer->Interval(), 0);
    timer->SetInterval(1);
    RunFor(50);
    EXPECT_GT(ticks, atStop);
}

TEST_F(QtRuntimeTest, TickIsSkippedWhileAnEarlierTickWaitsInTheModalReport) {
    MessageBoxCloser closer(150);
    int depth = 0, maxDepth = 0, timer1Ticks = 0, timer2Ticks = 0, timer2InBox = 0;
    bool inBox = false;
    std::unique_ptr<Timer> timer2 = forms_->CreateTimer("Timer2", 5, true, [&] {
        ++timer2Ticks;
        if (inBox) ++timer2InBox;
    });
    std::unique_ptr<Timer> timer1 = forms_->CreateTimer("Timer1", 1, true, [&] {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        if (++timer1Ticks == 1) {
            inBox = true;
            forms_->MsgBox("Asana not found - Tadasana");
            inBox = false;
        }
        --depth;
    });
    ASSERT_TRUE(RunUntil([&] { return timer1Ticks > 3 && !inBox; }));
    EXPECT_EQ(maxDepth, 1);      // Timer1 never re-entered while its first tick waited
    EXPECT_GT(timer2InBox, 0);   // the other timer went on ticking inside the box
    ASSERT_EQ(closer.seen().size(), 1u);
    const MessageBoxSeen& box = closer.seen()[0];
    EXPECT_EQ(box.text, "Asana not found - Tadasana");
    EXPECT_EQ(box.title, "Calmora");
    EXPECT_EQ(box.icon, QMessageBox::NoIcon);
    EXPECT_TRUE(box.okOnly);
    EXPECT_EQ(box.buttons, 1);
}

TEST_F(QtRuntimeTest, MsgBoxUsesTheGivenTitle) {
    MessageBoxCloser closer(0);
    forms_->MsgBox("Cannot open the video.", "Media");
    ASSERT_EQ(closer.seen().size(), 1u);
    EXPECT_EQ(closer.seen()[0].title, "Media");
    EXPECT_EQ(closer.seen()[0].text, "Cannot open the video.");
}

TEST_F(QtRuntimeTest, ErrorEscapingATickIsCaughtReportedAndTheTimerGoesOn) {
    struct Case {
        const char* name;
        std::function<void()> fail;
        std::string what;
    } cases[] = {
        {"runtime error", [] { throw RuntimeError(3021, "No current record."); }, "No current record."},
        {"not an exception class", [] { throw 42; }, "unknown error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<std::string, std::string>> reported;
        forms_->SetTickErrorHandler([&](std::string_view timer, std::string_view what) {
            reported.emplace_back(std::string(timer), std::string(what));
        });
        int ticks = 0;
        auto timer = forms_->CreateTimer("Timer2", 1, true, [&] {
            ++ticks;
            c.fail();
        });
        ASSERT_TRUE(RunUntil([&] { return ticks >= 3; }));
        timer->SetEnabled(false);
        ASSERT_GE(reported.size(), 3u);
        EXPECT_EQ(reported[0].first, "Timer2");
        EXPECT_EQ(reported[0].second, c.what);
    }
}

TEST_F(QtRuntimeTest, TimerMayBeDestroyedInsideItsOwnTick) {
    int ticks = 0;
    std::unique_ptr<Timer> timer;
    timer = forms_->CreateTimer("Timer1", 1, true, [&] {
        ++ticks;
        timer.reset();
    });
    ASSERT_TRUE(RunUntil([&] { return ticks > 0; }));
    RunFor(30);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(timer, nullptr);
}

TEST_F(QtRuntimeTest, DoEventsRunsWhatIsPendingAndTheClockMoves) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    const std::int64_t before = forms_->clock().nowMs();
    forms_->DoEvents();
    EXPECT_TRUE(ran);
    RunFor(20);
    EXPECT_GT(forms_->clock().nowMs(), before);
    EXPECT_FALSE(forms_->AppPath().empty());
    EXPECT_NE(forms_->AppPath().back(), '/');
}

TEST_F(QtRuntimeTest, ConstituentsMayOutliveTheRuntime) {
    auto timer = forms_->CreateTimer("Timer1", 1, true, [] {});
    forms_.reset();  // takes the surface, the boxes' widgets and the QTimers with it
    EXPECT_EQ(picture1_->hWnd(), 0);
    timer->SetEnabled(false);
    timer->SetEnabled(true);
    RunFor(10);
    timer.reset();
    picture1_.reset();
}

}  // namespace
