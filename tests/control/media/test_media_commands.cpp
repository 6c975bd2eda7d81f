// The two entries: the reply buffer of the query entry, the reports of the fire-and-forget entry
// (never stacked, once per failing text until "close all"), the observer, and the engine choice.
#include "MediaTestSupport.h"

#include "media/Engine.h"
#include "media/MediaCommands.h"
#include "media/Recorder.h"
#include "media/simulated/SimulatedEngine.h"

#include <gtest/gtest.h>

namespace calmora::media {
namespace {

using namespace testing;

constexpr const char* kScenario = R"({"files": {
    "sound/mp2/a1.mp2": {"duration_ms": 3000},
    "video/lesson.mpg": {"frames": 250, "fps": 25}}})";

class MediaEntries : public ::testing::Test {
protected:
    MediaEntries()
        : media(forms, std::make_unique<SimulatedEngine>(forms.clockSource, Scenario::Parse(kScenario)), &recorder) {}

    static std::string Blanks() { return std::string(50, ' '); }

    FakeForms forms;
    Recorder recorder;
    MediaCommands media;
};

TEST_F(MediaEntries, QueryWritesReplyAndNulIntoTheFirst49AndLeavesTheRest) {
    ASSERT_TRUE(media.Execute("open R\\sound\\mp2\\a1.mp2 alias Sound type mpegVideo"));
    ASSERT_TRUE(media.Execute("open R\\video\\lesson.mpg  alias video type mpegVideo  style child parent  7"));
    ASSERT_TRUE(media.Execute("set video time format frames"));
    ASSERT_TRUE(media.Execute("play sound"));
    ASSERT_TRUE(media.Execute("play video"));
    forms.clockSource.Advance(1234);

    struct Case {
        std::string query;
        std::string reply;
    };
    const Case cases[] = {
        {"status sound mode", "playing"},
        {"status video position", "30"},
        {"status sound position", "1234"},
        {"pause sound", ""},  // a command without a reply writes only the NUL
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        std::string area = Blanks();
        EXPECT_EQ(media.SendString(c.query, area, 49, 0), 0);
        ASSERT_EQ(area.size(), 50u);
        EXPECT_EQ(area, c.reply + '\0' + std::string(49 - c.reply.size(), ' '));
    }
}

TEST_F(MediaEntries, ASecondQueryWritesOverTheFirstInTheSameArea) {
    // As a tick does: one area, two queries; the tail of the longer first reply stays.
    ASSERT_TRUE(media.Execute("open R\\sound\\mp2\\a1.mp2 alias Sound type mpegVideo"));
    ASSERT_TRUE(media.Execute("play sound"));
    forms.clockSource.Advance(5);
    std::string area = Blanks();
    EXPECT_EQ(media.SendString("status sound mode", area, 49, 0), 0);
    EXPECT_EQ(media.SendString("status sound position", area, 49, 0), 0);
    EXPECT_EQ(area, std::string("5\0aying\0", 8) + std::string(42, ' '));
}

TEST_F(MediaEntries, AFailingQueryWritesNothing) {
    const std::pair<std::string, int> cases[] = {
        {"status sound mode", mcierr::UnknownAlias},
        {"status sound", mcierr::MissingParameter},
        {"seek sound to 0", mcierr::UnrecognizedCommand},
        {"open R\\nothing.mp2 alias Sound type mpegVideo", mcierr::FileNotFound},
    };
    for (const auto& [query, number] : cases) {
        SCOPED_TRACE(query);
        std::string area = Blanks();
        EXPECT_EQ(media.SendString(query, area, 49, 0), number);
        EXPECT_EQ(area, Blanks());
    }
    EXPECT_TRUE(forms.boxes.empty());  // the query entry never reports
}

TEST_F(MediaEntries, AReplyTooLongForTheLengthIsCutToFitWithItsNul) {
    ASSERT_TRUE(media.Execute("open R\\sound\\mp2\\a1.mp2 alias Sound type mpegVideo"));
    std::string area = Blanks();
    EXPECT_EQ(media.SendString("status sound mode", area, 5, 0), 0);
    EXPECT_EQ(area, std::string("stop\0", 5) + std::string(45, ' '));
    area = Blanks();
    EXPECT_EQ(media.SendString("status sound mode", area, 0, 0), 0);
    EXPECT_EQ(area, Blanks());
    std::string small = "ab";
    EXPECT_EQ(media.SendString("status sound mode", small, 49, 0), 0);  // never past the text's end
    EXPECT_EQ(small, std::string("s\0", 2));
}

TEST_F(MediaEntries, AFailingCommandIsReportedInABoxNamingIt) {
    EXPECT_TRUE(media.Execute("close all"));
    EXPECT_FALSE(media.Execute("play sound"));
    ASSERT_EQ(forms.boxes.size(), 1u);
    EXPECT_EQ(forms.boxes[0].title, kReportTitle);
    EXPECT_EQ(forms.boxes[0].prompt,
              "The media command \"play sound\" failed.\n\nNo media device is open under the alias \"sound\".");
    EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{
                                    "exec close all",
                                    "exec play sound",
                                    "fail play sound -- No media device is open under the alias \"sound\".",
                                }));
}

TEST_F(MediaEntries, ShowsAFailingTextOnceUntilCloseAll) {
    // A 1 ms timer repeating a failing command: one box, every failure recorded.
    for (int i = 0; i < 1000; ++i) EXPECT_FALSE(media.Execute("play sound"));
    EXPECT_EQ(forms.boxes.size(), 1u);
    EXPECT_FALSE(media.Execute("pause sound"));  // another text: its own box
    EXPECT_FALSE(media.Execute("play Sound"));   // texts are compared as sent
    EXPECT_EQ(forms.boxes.size(), 3u);
    EXPECT_EQ(recorder.Lines(Recorder::Kind::Failure).size(), 1002u);

    EXPECT_TRUE(media.Execute("close all"));
    EXPECT_FALSE(media.Execute("play sound"));
    EXPECT_EQ(forms.boxes.size(), 4u);
    EXPECT_FALSE(media.Execute("play sound"));
    EXPECT_EQ(forms.boxes.size(), 4u);

    // "close all" through the query entry counts as well.
    std::string area = Blanks();
    EXPECT_EQ(media.SendString("close all", area, 49, 0), 0);
    EXPECT_FALSE(media.Execute("play sound"));
    EXPECT_EQ(forms.boxes.size(), 5u);
}

TEST_F(MediaEntries, NeverStacksReports) {
    // While the box shows, its pending events send further failing commands: none opens a box.
    int nested = 0;
    forms.onMsgBox = [&] {
        if (nested++ > 0) return;
        EXPECT_FALSE(media.Execute("pause video"));
        EXPECT_FALSE(media.Execute("play video"));
        EXPECT_TRUE(media.Execute("close all"));
    };
    EXPECT_FALSE(media.Execute("play sound"));
    EXPECT_EQ(forms.boxes.size(), 1u);
    EXPECT_EQ(forms.maxDepth, 1);
    EXPECT_EQ(recorder.Lines(Recorder::Kind::Failure).size(), 3u);

    // The failures that arrived during the box were not shown, so they may show later.
    forms.onMsgBox = nullptr;
    EXPECT_FALSE(media.Execute("pause video"));
    EXPECT_EQ(forms.boxes.size(), 2u);
}

TEST_F(MediaEntries, QueriesAndRepliesReachTheObserver) {
    ASSERT_TRUE(media.Execute("open R\\sound\\mp2\\a1.mp2 alias Sound type mpegVideo"));
    std::string area = Blanks();
    media.SendString("status sound mode", area, 49, 0);
    media.SendString("status video mode", area, 49, 0);
    EXPECT_EQ(recorder.Lines(Recorder::Kind::Query),
              (std::vector<std::string>{"query status sound mode -> stopped", "query status video mode -> failed"}));
}

TEST(MediaCommandsLifetime, SurvivesBeingDestroyedWhileItsReportShows) {
    FakeForms forms;
    auto media = std::make_unique<MediaCommands>(forms, "sim");
    forms.onMsgBox = [&] { media.reset(); };
    EXPECT_FALSE(media->Execute("play sound"));
    EXPECT_EQ(media, nullptr);
    EXPECT_EQ(forms.boxes.size(), 1u);
}

TEST(MediaCommandsEngine, IsChosenByNameAndMadeAtTheFirstCommand) {
    TempDir dir;
    const std::string scenario = dir.Write("s.json", std::string(R"({"files": {"a.mp2": {"duration_ms": 10}}})"));
    FakeForms forms;
    forms.clockSource.now = 100;  // the engine reads the runtime's clock
    MediaCommands sim(forms, "sim:" + scenario);
    EXPECT_TRUE(sim.Execute("open /x/a.mp2 alias a type mpegVideo"));
    EXPECT_TRUE(sim.Execute("play a"));
    forms.clockSource.Advance(4);
    std::string area(50, ' ');
    EXPECT_EQ(sim.SendString("status a position", area, 49, 0), 0);
    EXPECT_EQ(area.substr(0, 2), std::string("4\0", 2));

    EXPECT_NO_THROW(MediaCommands(forms, "gstreamer"));  // nothing is made before a command
    EXPECT_THROW(MediaCommands(forms, "vlc"), MediaError);

    // An engine that cannot be made fails the command that needed it, and is tried again.
    MediaCommands broken(forms, "sim:" + dir.str() + "/missing.json");
    EXPECT_FALSE(broken.Execute("close all"));
    ASSERT_EQ(forms.boxes.size(), 1u);
    EXPECT_NE(forms.boxes[0].prompt.find("missing.json"), std::string::npos);
    dir.Write("missing.json", std::string(R"({"files": {}})"));
    EXPECT_TRUE(broken.Execute("close all"));
}

TEST(MediaRecorder, StampsAndEchoesLinesWithTheClock) {
    ManualClock clock;
    Recorder recorder(&clock);
    std::vector<std::string> echoed;
    recorder.SetEcho([&](std::string_view line) { echoed.emplace_back(line); });
    clock.now = 42;
    recorder.Command("play sound");
    recorder.Query("status sound mode", "playing", true);
    recorder.SetRecordQueries(false);
    recorder.Query("status sound mode", "playing", true);
    recorder.Failure("play video", "No media device is open under the alias \"video\".");
    EXPECT_EQ(echoed, (std::vector<std::string>{
                          "[42] exec play sound",
                          "[42] query status sound mode -> playing",
                          "[42] fail play video -- No media device is open under the alias \"video\".",
                      }));
    ASSERT_EQ(recorder.entries().size(), 3u);
    EXPECT_EQ(recorder.entries()[0].atMs, 42);
}

}  // namespace
}  // namespace calmora::media
