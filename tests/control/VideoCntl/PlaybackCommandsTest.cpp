// Pause, Start and StopPlay on whatever plays.
#include "ControlFixture.h"

namespace calmora::testing {
namespace {

class PlaybackCommands : public ControlTest {
protected:
    void Content() {
        Video("v.mpg", 2000);
        Sound("a1", 2000);
        Sound("a2", 1000);
        Sound("a3", 3000);
        VideoAsana("Video", 1, "v.mpg", {Cue("a1", 0), Cue("a2", 100), Cue("a3", 200)});
        Photo("p1.png");
        Photo("p2.png");
        Sound("s1", 1000);
        Sound("s2", 1000);
        PhotoAsana("Photo", 2, {PhotoRow("s1", "p1.png"), PhotoRow("s2", "p2.png")});
        Place();
    }
    std::int64_t EndTime() const {
        auto e = Lines("event");
        return e.empty() ? -1 : std::stoll(e.front());
    }
};

TEST_F(PlaybackCommands, PauseAndStartInTheMiddleOfAVideoAsanaShiftItsEnd) {
    Content();
    Open("Video");
    runtime->Advance(1000);  // a1 and the video play
    site.log.clear();
    EXPECT_TRUE(control->Pause().isEmpty());
    EXPECT_EQ(Commands(), (std::vector<std::string>{"pause sound", "pause video"}));
    EXPECT_EQ(control->SoundState, "Playing");
    EXPECT_EQ(control->VideoState, "Playing");
    EXPECT_FALSE(control->Timer1->Enabled());
    runtime->Advance(5000);
    EXPECT_TRUE(Commands(1001).empty()) << "nothing moves while paused";
    site.log.clear();
    EXPECT_TRUE(control->Start().isEmpty());
    EXPECT_EQ(Commands(), (std::vector<std::string>{"play sound", "play video"}));
    EXPECT_TRUE(control->Timer1->Enabled());
    runtime->Advance(20000);
    // Unpaused: frame 100 at 4 s (held to a1's end... a1 ends 2 s in), frame 200 at 8 s, a3 ends 11 s.
    EXPECT_EQ(EndTime(), 11000 + 5000);
}

TEST_F(PlaybackCommands, AVideoHeldAtACueStaysTheCueTimers) {
    Content();
    Video("v.mpg", 2000);
    Sound("a1", 6000);
    Place();
    Open("Video");
    runtime->Advance(4500);  // held at frame 100 since 4 s; a1 plays to 6 s
    ASSERT_EQ(control->VideoState, "Pause");
    site.log.clear();
    control->Pause();
    EXPECT_EQ(Commands(), std::vector<std::string>{"pause sound"});
    runtime->Advance(1000);
    control->Start();
    EXPECT_EQ(Commands(), (std::vector<std::string>{"pause sound", "play sound"}));
    EXPECT_TRUE(control->Timer1->Enabled());
    EXPECT_EQ(control->VideoState, "Pause");
    runtime->Advance(30000);
    EXPECT_EQ(site.videoEnds, 1);
}

TEST_F(PlaybackCommands, TheLastCuesVideoIsPausedAndResumedToo) {
    Content();
    Open("Video");
    runtime->Advance(9000);  // a3 plays over the free-running video
    ASSERT_EQ(control->CuesDone, vbTrue);
    ASSERT_EQ(control->VideoState, "Pause");
    site.log.clear();
    control->Pause();
    EXPECT_EQ(Commands(), (std::vector<std::string>{"pause sound", "pause video"}));
    site.log.clear();
    control->Start();
    EXPECT_EQ(Commands(), (std::vector<std::string>{"play sound", "play video"}));
}

TEST_F(PlaybackCommands, PauseAndStartInAPhotoAsana) {
    Content();
    Open("Photo");
    runtime->Advance(500);
    site.log.clear();
    control->Pause();
    EXPECT_EQ(Commands(), std::vector<std::string>{"pause sound"});
    EXPECT_FALSE(control->Timer2->Enabled());
    runtime->Advance(3000);
    EXPECT_EQ(control->Picture1->Picture(), (root / "res" / "video" / "p1.png").string()) << "the photo waits";
    control->Start();
    EXPECT_EQ(Commands(), (std::vector<std::string>{"pause sound", "play sound"}));
    EXPECT_TRUE(control->Timer2->Enabled());
    EXPECT_FALSE(control->Timer1->Enabled());
    runtime->Advance(5000);
    EXPECT_EQ(EndTime(), 2000 + 3000);
}

TEST_F(PlaybackCommands, StartWithNoWordPlayingOnlyEnablesTheTimerOfTheKind) {
    Content();
    struct Case {
        Boolean videoMode;
        bool timer1;
    } cases[] = {{vbTrue, true}, {vbFalse, false}};
    for (const auto& c : cases) {
        control->StopPlay();
        control->SoundState = "Stopped";
        control->VideoState = "";
        control->VideoMode = c.videoMode;
        site.log.clear();
        control->Start();
        EXPECT_TRUE(Commands().empty());
        EXPECT_EQ(control->Timer1->Enabled(), c.timer1);
        EXPECT_EQ(control->Timer2->Enabled(), !c.timer1);
    }
}

TEST_F(PlaybackCommands, StopPlayIsAlwaysSafe) {
    Content();
    // A fresh control, twice in a row.
    EXPECT_TRUE(control->StopPlay().isEmpty());
    EXPECT_TRUE(control->StopPlay().isEmpty());
    EXPECT_EQ(Commands(), std::vector<std::string>{"close all (x2)"});
    // During playback: everything stops and the catalogue is closed.
    Open("Video");
    runtime->Advance(1000);
    site.log.clear();
    control->StopPlay();
    EXPECT_EQ(Commands(), std::vector<std::string>{"close all"});
    EXPECT_FALSE(control->Timer1->Enabled());
    EXPECT_FALSE(control->Timer2->Enabled());
    EXPECT_THROW(control->AsanaDb->Close(), RuntimeError);
    EXPECT_THROW(control->AsanaRs->Close(), RuntimeError);
    EXPECT_EQ(control->SoundState, "Playing") << "words are left as they were";
    runtime->Advance(20000);
    EXPECT_EQ(site.videoEnds, 0);
}

TEST_F(PlaybackCommands, StartAfterStopPlaySendsToClosedDevicesAndStillEnablesTheTimer) {
    Content();
    Open("Video");
    runtime->Advance(1000);
    control->StopPlay();
    site.log.clear();
    control->Start();
    EXPECT_EQ(Lines("fail"), (std::vector<std::string>{"1000 fail play sound", "1000 fail play video"}));
    EXPECT_TRUE(control->Timer1->Enabled());
    runtime->Advance(5000);
    EXPECT_EQ(site.videoEnds, 0);
}

}  // namespace
}  // namespace calmora::testing
