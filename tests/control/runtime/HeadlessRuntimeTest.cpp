#include <calmora/Runtime.h>

#include "common/ErrorNumbers.h"
#include "runtime/headless/HeadlessRuntime.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace calmora;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<HeadlessRuntime> Virtual() { return CreateHeadlessRuntime(HeadlessRuntime::ClockKind::Virtual); }

TEST(HeadlessTimers, OneMillisecondTimerTicksOncePerMillisecond) {
    auto rt = Virtual();
    std::vector<std::int64_t> at;
    auto t = rt->CreateTimer("Timer1", 1, false, [&] { at.push_back(rt->clock().nowMs()); });
    rt->Advance(5);
    EXPECT_TRUE(at.empty()) << "a disabled timer does not tick";
    t->SetEnabled(true);  // at t = 5: ticks at 6, 7, ...
    rt->Advance(1000);
    ASSERT_EQ(at.size(), 1000u);
    EXPECT_EQ(at.front(), 6);
    EXPECT_EQ(at.back(), 1005);
}

TEST(HeadlessTimers, EnablingAnEnabledTimerKeepsItsPhaseAndIntervalChangesRestartIt) {
    auto rt = Virtual();
    std::vector<std::int64_t> at;
    auto t = rt->CreateTimer("T", 10, true, [&] { at.push_back(rt->clock().nowMs()); });
    rt->Advance(15);
    t->SetEnabled(true);  // no restart: next tick still at 20
    rt->Advance(10);
    EXPECT_EQ(at, (std::vector<std::int64_t>{10, 20}));
    t->SetInterval(7);  // at 25: restart, next at 32
    rt->Advance(10);
    EXPECT_EQ(at.back(), 32);
    t->SetEnabled(false);
    rt->Advance(3);  // 38
    t->SetEnabled(true);  // restart: 45
    rt->Advance(7);
    EXPECT_EQ(at.back(), 45);
}

TEST(HeadlessTimers, EqualDeadlinesRunInCreationOrderAndHostEventsFirst) {
    auto rt = Virtual();
    std::vector<std::string> order;
    auto t1 = rt->CreateTimer("Timer1", 10, true, [&] { order.push_back("Timer1"); });
    auto t2 = rt->CreateTimer("Timer2", 5, true, [&] { order.push_back("Timer2"); });
    rt->Post(10, [&] { order.push_back("host"); });
    rt->Advance(10);
    EXPECT_EQ(order, (std::vector<std::string>{"Timer2", "host", "Timer1", "Timer2"}));
}

TEST(HeadlessTimers, DoEventsRunsEachDueTimerOnce) {
    auto rt = Virtual();
    int ticks1 = 0, ticks2 = 0;
    std::unique_ptr<Timer> t2;
    auto t1 = rt->CreateTimer("Timer1", 1, true, [&] {
        ++ticks1;
        // Inside a tick: processing pending events runs the other due timer, not this one again.
        rt->DoEvents();
    });
    t2 = rt->CreateTimer("Timer2", 1, true, [&] { ++ticks2; });
    rt->Advance(1);
    EXPECT_EQ(ticks1, 1);
    EXPECT_EQ(ticks2, 1);
}

TEST(HeadlessTimers, ATickWaitingFurtherDownTheStackIsNotReentered) {
    auto rt = Virtual();
    int entered = 0, nested = 0;
    std::unique_ptr<Timer> t;
    t = rt->CreateTimer("Timer1", 1, true, [&] {
        ++entered;
        if (entered == 1) {
            // A modal report: time passes while it shows and the loop keeps dispatching.
            rt->SetMsgBoxHook([&](std::string_view, std::string_view) {
                rt->Advance(3);
                nested = entered;
            });
            rt->MsgBox("busy");
            rt->SetMsgBoxHook(nullptr);
        }
    });
    rt->Advance(1);
    EXPECT_EQ(nested, 1) << "ticks due while the first one waits are skipped";
    rt->Advance(1);
    EXPECT_EQ(entered, 2);
    ASSERT_EQ(runtime::MessageBoxes(*rt).size(), 1u);
    EXPECT_EQ(runtime::MessageBoxes(*rt)[0].prompt, "busy");
}

TEST(HeadlessTimers, AnErrorEscapingATickIsCaughtAndReported) {
    auto rt = Virtual();
    std::string reported;
    rt->SetTickErrorHandler([&](std::string_view timer, std::string_view what) {
        reported = std::string(timer) + ": " + std::string(what);
    });
    int ticks = 0;
    auto t = rt->CreateTimer("Timer2", 10, true, [&] {
        ++ticks;
        throw RuntimeError(3021, "No current record.");
    });
    rt->Advance(30);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(reported, "Timer2: No current record.");
}

TEST(HeadlessTimers, ATimerDestroyedInItsOwnTickStopsCleanly) {
    auto rt = Virtual();
    int ticks = 0;
    std::unique_ptr<Timer> t;
    t = rt->CreateTimer("Timer1", 1, true, [&] {
        ++ticks;
        t.reset();
    });
    rt->Advance(10);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(rt->NextDeadline(), -1);
}

TEST(HeadlessTimers, RunUntilOnTheVirtualClockJumpsBetweenDeadlines) {
    auto rt = Virtual();
    int ticks = 0;
    auto t = rt->CreateTimer("Timer2", 200, true, [&] { ++ticks; });
    rt->RunUntil([&] { return ticks == 3; });
    EXPECT_EQ(rt->clock().nowMs(), 600);
    t->SetEnabled(false);
    rt->RunUntil([] { return false; });  // nothing scheduled: returns instead of spinning
    EXPECT_EQ(rt->clock().nowMs(), 600);
}

class HeadlessPictures : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("calmora-pic-" + std::to_string(::getpid()));
        fs::create_directories(dir / "Video");
        QImage img(8, 8, QImage::Format_RGB32);
        img.fill(QColor(200, 30, 40));
        ASSERT_TRUE(img.save(QString::fromStdString((dir / "Video" / "Pose1.PNG").string())));
        std::ofstream(dir / "Video" / "notes.jpg") << "not a picture";
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(HeadlessPictures, LoadsThroughTheResolverAndKeepsThePictureOnFailure) {
    auto rt = Virtual();
    auto box = rt->CreatePictureBox("Picture1", {0, 0, 352, 288});
    EXPECT_EQ(box->hWnd(), 0);
    // Backslashes and another letter case, as content made on a case-insensitive file system.
    box->SetPicture(dir.string() + "\\video\\pose1.png");
    EXPECT_EQ(box->Picture(), (dir / "Video" / "Pose1.PNG").string());

    struct Case {
        std::string file;
        int number;
    } cases[] = {{dir.string() + "\\video\\missing.png", 53},
                 {dir.string() + "\\video\\notes.jpg", 481},
                 {dir.string() + "\\video", 53}};
    for (const auto& c : cases) {
        try {
            box->SetPicture(c.file);
            ADD_FAILURE() << c.file << " loaded";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), c.number) << c.file;
        }
        EXPECT_EQ(box->Picture(), (dir / "Video" / "Pose1.PNG").string()) << "kept after " << c.file;
    }
    box->SetPicture("");
    EXPECT_EQ(box->Picture(), "");
}

TEST(HeadlessRuntime, AppPathIsTheRealFolderOfTheRunningBinary) {
    auto rt = Virtual();
    const std::string path = rt->AppPath();
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path.back(), '/');
    EXPECT_TRUE(fs::exists(fs::path(path) / "test_runtime_headless"));
    rt->SetAppPath("/opt/calmora");
    EXPECT_EQ(rt->AppPath(), "/opt/calmora");
}

}  // namespace
