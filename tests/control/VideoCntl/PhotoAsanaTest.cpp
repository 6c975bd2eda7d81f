// Photo asanas: each photo on screen while its own sound plays.
#include "ControlFixture.h"

namespace calmora::testing {
namespace {

class PhotoAsanaTest : public ControlTest {
protected:
    void ThreePhotos() {
        Photo("p1.png", QColor(200, 0, 0));
        Photo("p2.png", QColor(0, 200, 0));
        Photo("p3.png", QColor(0, 0, 200));
        Sound("s1", 1000);
        Sound("s2", 1500);
        Sound("s3", 800);
        PhotoAsana("Surya Namaskar", 21, {PhotoRow("s1", "p1.png"), PhotoRow("s2", "p2.png"), PhotoRow("s3", "p3.png")});
        Place();
    }
};

TEST_F(PhotoAsanaTest, EachPhotoShowsWhileItsSoundPlaysAndTheEndComesOnce) {
    ThreePhotos();
    Open("Surya Namaskar");
    runtime->Advance(10000);
    std::vector<std::string> seen;
    for (const auto& line : site.log)
        if (line.find(" mci ") != std::string::npos || line.find(" picture ") != std::string::npos ||
            line.find(" event ") != std::string::npos)
            seen.push_back(line);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "0 mci close all",
                        "0 picture ",  // fileOpen clears Picture1 first
                        "0 picture " + V("p1.png"),
                        "0 mci " + OpenSound("s1"),
                        "0 mci play sound",
                        "1000 mci close sound",
                        "1000 picture " + V("p2.png"),
                        "1000 mci " + OpenSound("s2"),
                        "1000 mci play sound",
                        "2500 mci close sound",
                        "2500 picture " + V("p3.png"),
                        "2500 mci " + OpenSound("s3"),
                        "2500 mci play sound",
                        "3300 mci close sound",
                        "3300 event VideoEnd",
                    }));
    EXPECT_FALSE(control->Timer2->Enabled());
    EXPECT_EQ(control->Timer2->Interval(), 10);
    EXPECT_EQ(control->Picture1->Picture(), (root / "res" / "video" / "p3.png").string()) << "last photo stays";
    EXPECT_EQ(control->CuesDone, vbTrue);
    EXPECT_EQ(control->CueStart, -10);
    EXPECT_EQ(control->SoundState, "Stopped");
    EXPECT_EQ(control->VideoState, "");
    EXPECT_EQ(control->VideoMode, vbFalse);
}

TEST_F(PhotoAsanaTest, AMissingFirstPhotoStartsNothing) {
    Sound("s1", 1000);
    PhotoAsana("No photo", 22, {PhotoRow("s1", "nowhere.png")});
    Place();
    Open("No photo");
    runtime->Advance(3000);
    EXPECT_EQ(Commands(), std::vector<std::string>{"close all"});
    EXPECT_EQ(Lines("fail"), std::vector<std::string>{"0 fail picture " + V("nowhere.png")});
    EXPECT_EQ(control->SoundName, "s1");
    EXPECT_EQ(control->CueName, "nowhere.png");
    EXPECT_EQ(control->VideoMode, vbFalse);
    EXPECT_FALSE(control->Timer2->Enabled());
}

TEST_F(PhotoAsanaTest, AMissingLaterPhotoStopsTheShowOnThePreviousOne) {
    Photo("p1.png");
    Sound("s1", 1000);
    Sound("s2", 1000);
    PhotoAsana("Half", 23, {PhotoRow("s1", "p1.png"), PhotoRow("s2", "gone.jpg"), PhotoRow("s1", "p1.png")});
    Place();
    Open("Half");
    runtime->Advance(5000);
    EXPECT_EQ(Commands(1), std::vector<std::string>{"close sound"});
    EXPECT_EQ(control->Picture1->Picture(), (root / "res" / "video" / "p1.png").string());
    EXPECT_FALSE(control->Timer2->Enabled());
    EXPECT_EQ(site.videoEnds, 0);
}

TEST_F(PhotoAsanaTest, OneRowEndsAfterItsSoundWithThePhotoStillShown) {
    Photo("only.png");
    Sound("s1", 700);
    PhotoAsana("Single", 24, {PhotoRow("s1", "only.png")});
    Place();
    Open("Single");
    runtime->Advance(2000);
    EXPECT_EQ(Commands(1), std::vector<std::string>{"close sound"});
    EXPECT_EQ(Lines("event"), std::vector<std::string>{"700 event VideoEnd"});
    EXPECT_EQ(control->Picture1->Picture(), (root / "res" / "video" / "only.png").string());
}

TEST_F(PhotoAsanaTest, AnEmptyPhotoTableKeepsTheKindOfTheAsanaBefore) {
    Video("v.mpg", 1000);
    Sound("a", 100);
    VideoAsana("Video first", 1, "v.mpg", {Cue("a", 0), Cue("a", 1)});
    PhotoAsana("No photos", 25, json::array());
    Place();
    Open("Video first");
    Open("No photos");
    runtime->Advance(1000);
    EXPECT_EQ(control->VideoMode, vbTrue);
    EXPECT_FALSE(control->Timer2->Enabled());
    EXPECT_FALSE(control->Timer1->Enabled()) << "the video asana's timer went with its media";
    EXPECT_EQ(site.videoEnds, 0);
}

TEST_F(PhotoAsanaTest, RowsUsedUpBeforeTheSoundEndsReplayItOverAnEmptyPicture) {
    Photo("p1.png");
    Sound("s1", 500);
    PhotoAsana("Used up", 27, {PhotoRow("s1", "p1.png"), PhotoRow("s1", "p1.png")});
    Place();
    Open("Used up");
    control->AsanaRs->MoveNext();
    control->AsanaRs->MoveNext();  // past the end, still open
    runtime->Advance(2000);
    EXPECT_EQ(Commands(1), (std::vector<std::string>{"close sound", OpenSound("s1"), "play sound", "close sound"}));
    EXPECT_EQ(Lines("picture").back(), "500 picture ");
    EXPECT_EQ(Lines("event"), std::vector<std::string>{"1000 event VideoEnd"});
    EXPECT_EQ(control->CueStart, -10);
    EXPECT_FALSE(control->Timer2->Enabled());
}

TEST_F(PhotoAsanaTest, AMissingSoundLeavesTheFirstPhotoUntilTheHostMovesOn) {
    Photo("p1.png");
    PhotoAsana("Mute", 26, {PhotoRow("silent", "p1.png"), PhotoRow("silent", "p1.png")});
    Place();
    Open("Mute");
    runtime->Advance(5000);
    EXPECT_EQ(Lines("fail"), (std::vector<std::string>{"0 fail " + OpenSound("silent"), "0 fail play sound"}));
    EXPECT_EQ(control->SoundState, "Playing");
    EXPECT_TRUE(control->Timer2->Enabled());
    EXPECT_EQ(site.videoEnds, 0);
}

TEST_F(PhotoAsanaTest, AHostCallAtEitherYieldEndsTheStart) {
    ThreePhotos();
    // The first yield comes after the photo, the second after the sound's open: a StopPlay queued for
    // the first, then one for the second (queued from inside the first).
    runtime->Post(0, [&] { control->StopPlay(); });
    Open("Surya Namaskar");
    EXPECT_EQ(Commands(), std::vector<std::string>{"close all (x2)"});
    EXPECT_FALSE(control->Timer2->Enabled());

    site.log.clear();
    runtime->SetMsgBoxHook(nullptr);
    bool stopped = false;
    runtime->Post(0, [&] {  // the first yield: queue a stop for the next one
        runtime->Post(0, [&] {
            stopped = true;
            control->StopPlay();
        });
    });
    Open("Surya Namaskar");
    EXPECT_TRUE(stopped);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"close all", OpenSound("s1"), "close all"}));
    EXPECT_FALSE(control->Timer2->Enabled());
}

TEST_F(PhotoAsanaTest, AVideoAsanaOpenedDuringAPhotoAsanaPlaysAlone) {
    ThreePhotos();
    Video("v.mpg", 1000);
    Sound("a1", 400);
    Sound("a2", 400);
    VideoAsana("Video", 30, "v.mpg", {Cue("a1", 0), Cue("a2", 5)});
    Place();
    Open("Surya Namaskar");
    runtime->Advance(1200);  // s2 plays
    Open("Video");
    const auto from = Now();
    runtime->Advance(5000);
    EXPECT_EQ(Commands(from + 1), (std::vector<std::string>{"pause video (x201)", "close sound", OpenSound("a2"),
                                                            "play sound", "play video", "close sound"}));
    EXPECT_EQ(Lines("event"), std::vector<std::string>{std::to_string(from + 800) + " event VideoEnd"});
}

TEST_F(PhotoAsanaTest, APhotoAsanaOpenedDuringAVideoAsanaPlaysAlone) {
    ThreePhotos();
    Video("v.mpg", 1000);
    Sound("a1", 5000);
    Sound("a2", 400);
    VideoAsana("Video", 30, "v.mpg", {Cue("a1", 0), Cue("a2", 5)});
    Place();
    Open("Video");
    runtime->Advance(1000);  // held at frame 5, a1 still playing
    Open("Surya Namaskar");
    const auto from = Now();
    runtime->Advance(5000);
    for (const auto& c : Commands(from + 1)) EXPECT_TRUE(c.find("video") == std::string::npos) << c;
    EXPECT_EQ(Lines("event"), std::vector<std::string>{std::to_string(from + 3300) + " event VideoEnd"});
}

}  // namespace
}  // namespace calmora::testing
