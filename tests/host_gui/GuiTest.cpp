// The calmora window on a real X server (Xvfb when there is no display), the GStreamer engine and
// generated content: a video frame and a photo inside Picture1, the "Asana not found - " box, and the
// program's exit status and trace in a window. Screenshots are kept in the build folder
// (tests/gui-screenshots) to look at.
#include "GuiContent.h"
#include "GuiProbe.h"
#include "XvfbDisplay.h"
#include "gui/Gui.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QAction>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// LeakSanitizer's suppressions (libdbus, GLib, GStreamer) come with the window's code (gui/Gui.cpp).

namespace {

namespace fs = std::filesystem;
using namespace calmora::testing;

// One display, one QApplication and one content folder for the whole program.
class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("CALMORA_AUDIO_SINK", "fakesink", 1);
        display_ = std::make_unique<XvfbDisplay>();
        if (!display_->available()) {
            problem_ = display_->problem();
            return;
        }
        qputenv("QT_QPA_PLATFORM", "xcb");
        app_ = std::make_unique<QApplication>(argc_, argv_);
        root_ = fs::temp_directory_path() / ("calmora-gui-" + std::to_string(::getpid()));
        problem_ = MakeGuiContent(root_ / "res");
        fs::create_directories(ShotFolder());
    }
    void TearDown() override {
        app_.reset();
        display_.reset();
        if (!root_.empty()) fs::remove_all(root_);
    }
    static const std::string& problem() { return problem_; }
    static fs::path resources() { return root_ / "res"; }
    static fs::path root() { return root_; }
    static fs::path ShotFolder() { return CALMORA_GUI_SHOTS; }

private:
    static inline std::unique_ptr<XvfbDisplay> display_;
    static inline std::unique_ptr<QApplication> app_;
    static inline fs::path root_;
    static inline std::string problem_;
    static inline char arg0_[] = "test_gui";
    static inline char* argv_[] = {arg0_, nullptr};
    static inline int argc_ = 1;
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

class Gui : public ::testing::Test {
protected:
    void SetUp() override {
        if (!GuiEnvironment::problem().empty()) GTEST_SKIP() << GuiEnvironment::problem();
    }

    // Runs the window in this process on the generated content; probe runs every 10 ms inside the
    // window's event loops (the modal box's included). Returns the window's exit status.
    static int RunWindow(std::vector<std::string> names, const std::function<void()>& probe, double maxSeconds = 15) {
        calmora::host::HostOptions options;
        options.resources = GuiEnvironment::resources().string();
        options.asanas = std::move(names);
        options.maxSeconds = maxSeconds;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, probe);
        poll.start(10);
        char arg0[] = "calmora";
        char* argv[] = {arg0, nullptr};
        return calmora::host::RunGui(1, argv, options, {});
    }

    static void Save(const QImage& image, const char* name) {
        if (!image.isNull()) image.save(QString::fromStdString((GuiEnvironment::ShotFolder() / name).string()));
    }

    static std::string Describe(QRgb p) {
        return "rgb(" + std::to_string(qRed(p)) + ", " + std::to_string(qGreen(p)) + ", " + std::to_string(qBlue(p)) + ")";
    }
};

TEST_F(Gui, ShowsTheVideoAndThenThePhotoInsidePicture1) {
    struct Shot {
        QImage picture;  // Picture1's area of the screen
        QImage window;
        QString status;
    };
    std::optional<Shot> video, photo;
    QColor background;
    bool photoSettled = false;

    const int status = RunWindow({kVideoAsana, kPhotoAsana}, [&] {
        QWidget* picture = FindWidget(QStringLiteral("Picture1"));
        QWidget* window = FindWidget(QStringLiteral("CalmoraWindow"));
        if (!picture || !window) return;
        background = picture->palette().color(QPalette::Window);
        const QString line = StatusLine();
        // A frame of the video, while the video asana plays: the first one the screen shows.
        if (!video && line.startsWith(QStringLiteral("Quadrants \u2014 playing"))) {
            QImage shot = GrabScreen(*picture);
            if (ShowsQuadrants(shot)) video = Shot{shot, GrabScreen(*window), line};
        }
        // The first photo, while its sound plays; the last grab is kept if it never turns orange.
        if (!photoSettled && line.startsWith(QStringLiteral("Sunset \u2014 playing \u00b7 photo 1"))) {
            photo = Shot{GrabScreen(*picture), GrabScreen(*window), line};
            photoSettled = Near(photo->picture.pixel(20, 20), kPhotoColour, 8);
        }
    });

    EXPECT_EQ(status, 0) << "the lesson did not play to its end";
    ASSERT_TRUE(video) << "no frame of the video showed inside Picture1 while the video asana played";
    Save(video->window, "gui-video.png");
    Save(video->picture, "gui-video-picture1.png");
    EXPECT_TRUE(video->status.contains(QRegularExpression(QStringLiteral("cue [12] of 2: Listen to tone_"))))
        << video->status.toStdString();

    ASSERT_TRUE(photo) << "the photo asana never showed its first photo";
    Save(photo->window, "gui-photo.png");
    Save(photo->picture, "gui-photo-picture1.png");
    EXPECT_EQ(photo->status.toStdString(), "Sunset \u2014 playing \u00b7 photo 1 of 2");
    const QImage& p = photo->picture;
    // Unscaled at the top-left corner: the photo's colours where it is drawn, the box's background
    // beside and below it (no part of the video left behind either).
    struct Expect {
        QPoint at;
        QColor colour;
        const char* what;
    };
    for (const Expect& e : {Expect{{20, 20}, kPhotoColour, "photo"},
                            Expect{kPhotoSquareCentre, kPhotoSquareColour, "photo's square"},
                            Expect{{kPhotoSize.width() - 3, kPhotoSize.height() - 3}, kPhotoColour, "photo's corner"},
                            Expect{{kPhotoSize.width() + 20, 20}, background, "background right of the photo"},
                            Expect{{20, kPhotoSize.height() + 20}, background, "background below the photo"},
                            Expect{{340, 276}, background, "background at the far corner"}})
        EXPECT_TRUE(Near(p.pixel(e.at), e.colour, 8))
            << e.what << " at (" << e.at.x() << ", " << e.at.y() << "): " << Describe(p.pixel(e.at)) << ", expected "
            << Describe(e.colour.rgb());
}

TEST_F(Gui, ReportsAnUnknownAsanaInItsBoxThenLeavesPicture1Empty) {
    struct Box {
        QString title, text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QImage screen, box;
    };
    std::optional<Box> seen;
    QString statusAfter;
    QImage pictureAfter;
    QColor background;
    int probesWithBox = 0;

    const int status = RunWindow({"Nope"}, [&] {
        QWidget* window = FindWidget(QStringLiteral("CalmoraWindow"));
        if (!window) return;
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            // Give it a few probes to be painted before looking.
            if (!box->isVisible() || ++probesWithBox < 5 || seen) return;
            seen = Box{box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                       GrabScreen(window->frameGeometry().united(box->frameGeometry())), GrabScreen(*box)};
            box->button(QMessageBox::Ok)->click();
        } else if (seen && statusAfter.isEmpty()) {
            statusAfter = StatusLine();
            QWidget* picture = FindWidget(QStringLiteral("Picture1"));
            background = picture->palette().color(QPalette::Window);
            pictureAfter = GrabScreen(*picture);
            window->close();
        }
    });

    ASSERT_TRUE(seen) << "no message box came up";
    Save(seen->screen, "gui-not-found.png");
    EXPECT_EQ(seen->title.toStdString(), "Calmora");
    EXPECT_EQ(seen->text.toStdString(), "Asana not found - Nope");
    EXPECT_EQ(seen->icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen->buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // The box is on screen: its area is not one flat colour (the text and the button are drawn).
    int differing = 0;
    const QRgb corner = seen->box.pixel(2, 2);
    for (int y = 0; y < seen->box.height(); ++y)
        for (int x = 0; x < seen->box.width(); ++x) differing += seen->box.pixel(x, y) != corner;
    EXPECT_GT(differing, 100) << "the box's area of the screen is blank";

    EXPECT_EQ(statusAfter.toStdString(), "Nope \u2014 not in the catalogue");
    ASSERT_FALSE(pictureAfter.isNull());
    for (QPoint at : {QPoint(10, 10), QPoint(176, 144), QPoint(340, 276)})
        EXPECT_TRUE(Near(pictureAfter.pixel(at), background, 8)) << Describe(pictureAfter.pixel(at));
    EXPECT_EQ(status, 3) << "closed before any asana ended";
}

TEST_F(Gui, KeysPauseResumeStopAndPlayTheChosenAsana) {
    // Each step presses a key once the window shows what the step waits for.
    struct Step {
        const char* waitFor;  // start of the status line
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    const Step steps[] = {
        {"Quadrants \u2014 playing", Qt::Key_Space, Qt::NoModifier},  // pause
        {"Quadrants \u2014 paused", Qt::Key_Space, Qt::NoModifier},   // resume
        {"Quadrants \u2014 playing", Qt::Key_S, Qt::NoModifier},      // stop
        {"Quadrants \u2014 stopped", Qt::Key_Down, Qt::NoModifier},   // choose the photo asana
        {"Quadrants \u2014 stopped", Qt::Key_P, Qt::NoModifier},      // and play it
        {"Lesson finished", Qt::Key_Q, Qt::ControlModifier},          // the window stays until closed
    };
    struct Seen {
        QString status;
        bool pause, resume, stop, photoPreview;
    };
    std::vector<Seen> seen;
    std::size_t next = 0;

    const int status = RunWindow({kVideoAsana, kPhotoAsana}, [&] {
        QWidget* window = FindWidget(QStringLiteral("CalmoraWindow"));
        if (!window || next >= std::size(steps)) return;
        const QString line = StatusLine();
        if (!line.startsWith(QString::fromUtf8(steps[next].waitFor))) return;
        if (!window->isActiveWindow()) {
            window->activateWindow();  // no window manager under Xvfb
            return;
        }
        auto enabled = [&](const char* name) { return window->findChild<QAction*>(QString::fromLatin1(name))->isEnabled(); };
        seen.push_back({line, enabled("pause"), enabled("resume"), enabled("stop"), enabled("photoPreview")});
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window;
        QTest::keyClick(target, steps[next].key, steps[next].modifiers);
        ++next;
    });

    ASSERT_EQ(next, std::size(steps)) << "stuck waiting for \"" << steps[std::min(next, std::size(steps) - 1)].waitFor
                                      << "\"";
    EXPECT_EQ(status, 0) << "the last asana ended before the window was closed";
    // What the buttons offered at each step: pause while playing, resume while paused, nothing to
    // stop once stopped; Photo preview only with the photo asana chosen.
    const std::vector<std::vector<bool>> offered = {{true, false, true, false}, {false, true, true, false},
                                                    {true, false, true, false}, {false, false, false, false},
                                                    {false, false, false, true}, {false, false, false, true}};
    for (std::size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ((std::vector<bool>{seen[i].pause, seen[i].resume, seen[i].stop, seen[i].photoPreview}), offered[i])
            << "at \"" << seen[i].status.toStdString() << "\"";
}

TEST_F(Gui, AHeldFrameSurvivesRepaintsAndStopUncoversTheBackground) {
    // The video draws in a window of its own inside Picture1: Qt's painting of the box (an expose, a
    // resize) cannot wipe a paused frame, and closing the video shows the box's background again.
    enum class Step { Playing, Paused, Repainted, Stopped, Done } step = Step::Playing;
    int settle = 0;
    bool heldAfterRepaint = false;
    QImage afterRepaint, afterStop;
    QColor background;
    RunWindow({kVideoAsana}, [&] {
        QWidget* picture = FindWidget(QStringLiteral("Picture1"));
        QWidget* window = FindWidget(QStringLiteral("CalmoraWindow"));
        if (!picture || !window || step == Step::Done) return;
        background = picture->palette().color(QPalette::Window);
        auto trigger = [&](const char* action) { window->findChild<QAction*>(QString::fromLatin1(action))->trigger(); };
        const QString line = StatusLine();
        switch (step) {
        case Step::Playing:
            if (line.startsWith(QStringLiteral("Quadrants \u2014 playing")) && ShowsQuadrants(GrabScreen(*picture))) {
                trigger("pause");
                step = Step::Paused;
            }
            break;
        case Step::Paused:
            if (++settle < 5) break;  // let the pause land
            picture->repaint();
            picture->update();
            settle = 0;
            step = Step::Repainted;
            break;
        case Step::Repainted:
            if (++settle < 10) break;
            afterRepaint = GrabScreen(*picture);
            heldAfterRepaint = ShowsQuadrants(afterRepaint);
            trigger("stop");
            settle = 0;
            step = Step::Stopped;
            break;
        case Step::Stopped:
            if (++settle < 10) break;
            afterStop = GrabScreen(*picture);
            step = Step::Done;
            window->close();
            break;
        case Step::Done:
            break;
        }
    });
    ASSERT_EQ(step, Step::Done) << "the video never showed";
    Save(afterRepaint, "gui-held-after-repaint.png");
    Save(afterStop, "gui-after-stop.png");
    EXPECT_TRUE(heldAfterRepaint) << "a repaint of Picture1 wiped the paused frame";
    for (QPoint at : {QPoint(40, 40), QPoint(300, 40), QPoint(40, 250), QPoint(300, 250), QPoint(176, 144)})
        EXPECT_TRUE(Near(afterStop.pixel(at), background, 8))
            << "after stop at (" << at.x() << ", " << at.y() << "): " << Describe(afterStop.pixel(at)) << ", expected the background "
            << Describe(background.rgb());
}

// The program itself with a display: the window's host, its trace on standard output, its exit status.
struct ProgramRun {
    int status = -1;
    std::string out;
};

ProgramRun RunProgram(const std::string& args) {
    ProgramRun r;
    const fs::path out = GuiEnvironment::root() / "out.txt";
    const std::string cmd = std::string(std::getenv("CALMORA_BIN")) + "/calmora --resources '" +
                            GuiEnvironment::resources().string() + "' " + args + " >'" + out.string() + "' 2>&1 </dev/null";
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(out);
    std::stringstream s;
    s << in.rdbuf();
    r.out = s.str();
    return r;
}

TEST_F(Gui, ProgramPlaysInAWindowWithItsTraceAndExitStatus) {
    if (!std::getenv("CALMORA_BIN")) GTEST_SKIP() << "CALMORA_BIN names the folder of the built programs";

    // To the end: the video opens inside a real window (a non-zero handle), exit 0 after VideoEnd.
    ProgramRun played = RunProgram("--trace Quadrants");
    EXPECT_EQ(played.status, 0) << played.out;
    EXPECT_NE(played.out.find("call fileOpen \"Quadrants\""), std::string::npos) << played.out;
    std::smatch parent;
    ASSERT_TRUE(std::regex_search(played.out, parent, std::regex("alias video type mpegVideo  style child parent  (\\d+)\"")))
        << played.out;
    EXPECT_NE(parent[1].str(), "0");
    EXPECT_NE(played.out.find("event VideoEnd"), std::string::npos) << played.out;

    // A script's calls run on the window's clock; the time limit ends the run with 3.
    const fs::path script = GuiEnvironment::root() / "script.txt";
    std::ofstream(script) << "200 Pause\n";
    ProgramRun limited = RunProgram("--trace --max-seconds 1 --script '" + script.string() + "' Quadrants");
    EXPECT_EQ(limited.status, 3) << limited.out;
    std::smatch pause;
    ASSERT_TRUE(std::regex_search(limited.out, pause, std::regex("\\n *(\\d+) call Pause\\n"))) << limited.out;
    EXPECT_GE(std::stoi(pause[1].str()), 200);
    EXPECT_EQ(limited.out.find("event VideoEnd"), std::string::npos) << limited.out;
}

}  // namespace
