// Video asanas: the start, the cue timer, the end, in virtual time on simulated media.
#include "ControlFixture.h"

namespace calmora::testing {
namespace {

class VideoAsanaTest : public ControlTest {
protected:
    // Three cues at frames 0, 250 and 600 of a 25 fps video: a1 outlasts the video's way to frame 250
    // (the video waits), a2 ends at frame 540 (the video runs on without sound to 600).
    void ThreeCues() {
        Video("flow.mpg", 1000);
        Sound("a1", 12000);
        Sound("a2", 11600);
        Sound("a3", 5000);
        VideoAsana("Tadasana", 12, "flow.mpg", {Cue("a1", 0), Cue("a2", 250), Cue("a3", 600)});
        Place();
    }
};

TEST_F(VideoAsanaTest, StartSendsItsCommandsInOrderAndReadsTheSecondCueAhead) {
    ThreeCues();
    Open("Tadasana");
    EXPECT_EQ(Commands(), (std::vector<std::string>{
                              "close all",
                              OpenVideo("flow.mpg"),
                              "set video time format frames",
                              OpenSound("a1"),
                              "play video",
                              "pause video",
                              "play sound",
                              "play video",
                          }));
    EXPECT_EQ(control->SoundName, "a2");
    EXPECT_EQ(control->CueStart, 250);
    EXPECT_EQ(control->SoundState, "Playing");
    EXPECT_EQ(control->VideoState, "Playing");
    EXPECT_EQ(control->VideoMode, vbTrue);
    EXPECT_EQ(control->VideoPreview, vbFalse);
    EXPECT_TRUE(control->Timer1->Enabled());
    EXPECT_FALSE(control->Timer2->Enabled());
    EXPECT_EQ(control->AsanaRs->Fields("Filename").asString(), "a2");
}

TEST_F(VideoAsanaTest, ThreeCuesPlayInStepWithTheVideoAndEndOnce) {
    ThreeCues();
    Open("Tadasana");
    runtime->Advance(40000);
    EXPECT_EQ(Commands(1), (std::vector<std::string>{
                               // frame 250 at 10 s: held, re-paused on every tick until a1 ends at 12 s
                               "pause video (x2001)",
                               "close sound",
                               OpenSound("a2"),
                               "play sound",
                               "play video",
                               // a2 ends at frame 540; frame 600 is reached at 26 s: halt and go on at once
                               "pause video",
                               "close sound",
                               OpenSound("a3"),
                               "play sound",
                               "play video",
                               // last cue: nothing halts the video; a3 ends at 31 s
                               "close sound",
                           }));
    EXPECT_EQ(Lines("event"), (std::vector<std::string>{"31000 event VideoEnd"}));
    EXPECT_EQ(Lines("mci").at(8 + 2001).substr(0, 6), "12000 ");
    EXPECT_FALSE(control->Timer1->Enabled());
    EXPECT_EQ(control->CuesDone, vbTrue);
    EXPECT_EQ(control->CueStart, -10);
    EXPECT_EQ(control->VideoState, "Pause");
    EXPECT_EQ(control->SoundState, "Stopped");
    EXPECT_THROW(control->AsanaDb->Close(), RuntimeError) << "closed at the end of the list";
}

TEST_F(VideoAsanaTest, TwoRowsEndWhenTheSecondSoundEndsWhileTheVideoPlaysOn) {
    Video("v.mpg", 5000);
    Sound("b1", 2000);
    Sound("b2", 3000);
    VideoAsana("Vrikshasana", 3, "v.mpg", {Cue("b1", 0), Cue("b2", 25)});
    Place();
    Open("Vrikshasana");
    runtime->Advance(10000);
    // frame 25 at 1 s: held until b1 ends at 2 s; b2 ends at 5 s.
    EXPECT_EQ(Commands(1), (std::vector<std::string>{"pause video (x1001)", "close sound", OpenSound("b2"),
                                                     "play sound", "play video", "close sound"}));
    EXPECT_EQ(Lines("event"), (std::vector<std::string>{"5000 event VideoEnd"}));
}

TEST_F(VideoAsanaTest, OneRowPlaysItsSoundOnceAndEndsAfterIt) {
    Video("v.mpg", 5000);
    Sound("only", 1500);
    VideoAsana("Savasana", 4, "v.mpg", {Cue("only", 10)});
    Place();
    Open("Savasana");
    EXPECT_EQ(control->CuesDone, vbTrue);
    EXPECT_EQ(control->CueStart, -10);
    runtime->Advance(5000);
    EXPECT_EQ(Commands(1), (std::vector<std::string>{"close sound"})) << "no halt at the row's own frame, no replay";
    EXPECT_EQ(Lines("event"), (std::vector<std::string>{"1500 event VideoEnd"}));
}

TEST_F(VideoAsanaTest, EmptyCueListPlaysNothing) {
    Video("v.mpg", 100);
    VideoAsana("Empty", 5, "v.mpg", json::array());
    Place();
    Open("Empty");
    runtime->Advance(2000);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"close all", OpenVideo("v.mpg"), "set video time format frames"}));
    EXPECT_FALSE(control->Timer1->Enabled());
    EXPECT_EQ(site.videoEnds, 0);
}

TEST_F(VideoAsanaTest, SoundMtComesFromTheControlsFolderAndMTFromTheSoundFolder) {
    Video("v.mpg", 1000);
    MtSound(500);
    Sound("MT", 500);
    VideoAsana("Mt first", 6, "v.mpg", {Cue("mt", 0), Cue("MT", 5)});
    Place();
    Open("Mt first");
    runtime->Advance(3000);
    const auto cmds = Commands();
    EXPECT_EQ(cmds.at(3), "open " + (root / "ocx").string() + "\\mt.mp2 alias Sound type mpegVideo");
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), OpenSound("MT")), cmds.end());
    EXPECT_EQ(site.videoEnds, 1);
}

TEST_F(VideoAsanaTest, AFirstRowThatCannotBeConvertedStartsNothing) {
    Video("v.mpg", 1000);
    Sound("a1", 500);
    Sound("a2", 500);
    VideoAsana("Bad start", 7, "v.mpg", {Cue("a1", "not a frame"), Cue("a2", 10)});
    Place();
    Open("Bad start");
    runtime->Advance(2000);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"close all", OpenVideo("v.mpg"), "set video time format frames"}));
    EXPECT_EQ(control->SoundName, "a1") << "fields before the failing one are copied";
    EXPECT_EQ(control->CueStart, 0);
    EXPECT_FALSE(control->Timer1->Enabled());
}

TEST_F(VideoAsanaTest, ASecondRowOutOfRangeLeavesTheLookAheadHalfCopied) {
    Video("v.mpg", 1000);
    Sound("a1", 500);
    Sound("a2", 500);
    VideoAsana("Bad second", 8, "v.mpg", {Cue("a1", 0), Cue("a2", 40000)});
    Place();
    Open("Bad second");
    EXPECT_EQ(control->SoundName, "a2");
    EXPECT_EQ(control->CueStart, 0) << "the first row's value stays";
    EXPECT_TRUE(control->Timer1->Enabled());
}

TEST_F(VideoAsanaTest, AMissingSoundIsReportedOnceAndTheLessonWaitsWithoutEnding) {
    Video("v.mpg", 1000);
    Sound("a1", 500);
    VideoAsana("Lost sound", 9, "v.mpg", {Cue("a1", 0), Cue("gone", 5), Cue("a1", 900)});
    Place();
    Open("Lost sound");
    runtime->Advance(60000);  // returns: the UI thread is never blocked
    EXPECT_EQ(site.videoEnds, 0);
    EXPECT_EQ(Lines("fail"), (std::vector<std::string>{"500 fail " + OpenSound("gone"),
                                                         "500 fail play sound"}));
    EXPECT_EQ(Boxes().size(), 2u) << "each failing command text is shown once";
    EXPECT_EQ(control->SoundState, "Playing");
    EXPECT_TRUE(control->Timer1->Enabled());
}

TEST_F(VideoAsanaTest, StopPlayAtTheStartsYieldEndsTheStart) {
    ThreeCues();
    runtime->Post(0, [&] { control->StopPlay(); });  // a queued click, run when InitVideo yields
    Open("Tadasana");
    runtime->Advance(20000);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"close all", OpenVideo("flow.mpg"), "set video time format frames",
                                                    OpenSound("a1"), "play video", "pause video", "close all"}));
    EXPECT_FALSE(control->Timer1->Enabled());
    EXPECT_EQ(site.videoEnds, 0);
}

TEST_F(VideoAsanaTest, AnotherAsanaOpenedAtTheYieldIsTheOneThatPlays) {
    ThreeCues();
    runtime->Post(0, [&] {
        control->put_AsanaNaME("Tadasana");
        control->fileOpen();
    });
    Open("Tadasana");
    runtime->Advance(40000);
    EXPECT_EQ(site.videoEnds, 1);
    EXPECT_EQ(Lines("event"), (std::vector<std::string>{"31000 event VideoEnd"}));
}

TEST_F(VideoAsanaTest, AHostOpeningTheNextAsanaFromVideoEndKeepsItsTimer) {
    ThreeCues();
    int opened = 0;
    site.onVideoEnd = [&] {
        if (opened++ < 2) Open("Tadasana");
    };
    Open("Tadasana");
    runtime->Advance(100000);
    EXPECT_EQ(Lines("event"), (std::vector<std::string>{"31000 event VideoEnd", "62000 event VideoEnd",
                                                         "93000 event VideoEnd"}));
}

}  // namespace
}  // namespace calmora::testing
