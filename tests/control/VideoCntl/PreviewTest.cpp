// Previews: the video alone, or the photos without their sounds.
#include "ControlFixture.h"

namespace calmora::testing {
namespace {

class PreviewTest : public ControlTest {
protected:
    void Content() {
        Video("v.mpg", 100);  // 4 s at 25 fps
        Sound("a", 1000);
        VideoAsana("Video", 1, "v.mpg", {Cue("a", 0), Cue("a", 10)});
        for (int i = 1; i <= 4; ++i) Photo("p" + std::to_string(i) + ".png");
        Sound("s", 700);
        PhotoAsana("Photo", 2,
                   {PhotoRow("s", "p1.png"), PhotoRow("s", "p2.png"), PhotoRow("s", "p3.png"), PhotoRow("s", "p4.png")});
        Place();
    }
};

TEST_F(PreviewTest, AVideoPreviewPlaysTheVideoAloneAndEndsWithIt) {
    Content();
    control->put_AsanaNaME("Video");
    EXPECT_TRUE(control->Preview().isEmpty());
    EXPECT_EQ(Commands(), (std::vector<std::string>{"close all", OpenVideo("v.mpg"), "play video"}));
    EXPECT_EQ(control->VideoPreview, vbTrue);
    runtime->Advance(5000);
    EXPECT_EQ(Lines("event"), std::vector<std::string>{"4000 event VideoEnd"});
    EXPECT_FALSE(control->Timer1->Enabled());
    EXPECT_EQ(control->VideoPreview, vbTrue);
    EXPECT_EQ(Commands().size(), 3u) << "no preview tick sends a command";
}

TEST_F(PreviewTest, APhotoPreviewShowsAPhotoEveryTwoHundredMillisecondsSilently) {
    Content();
    control->put_AsanaNaME("Photo");
    EXPECT_TRUE(control->Ppreview().isEmpty());
    runtime->Advance(2000);
    EXPECT_EQ(Commands(), std::vector<std::string>{"close all"});
    EXPECT_EQ(Lines("picture"), (std::vector<std::string>{"0 picture " + V("p1.png"), "200 picture " + V("p2.png"),
                                                           "400 picture " + V("p3.png"), "600 picture " + V("p4.png")}));
    EXPECT_EQ(Lines("event"), std::vector<std::string>{"800 event VideoEnd"});
    EXPECT_TRUE(control->Timer2->Enabled()) << "the timer ticks on, doing nothing";
    EXPECT_EQ(control->Timer2->Interval(), 200);
    EXPECT_EQ(control->Picture1->Picture(), (root / "res" / "video" / "p4.png").string());
    EXPECT_EQ(control->PhotoPreview, vbTrue);
}

TEST_F(PreviewTest, APreviewTickOnRowsUsedUpClearsThePictureWithoutAnEnd) {
    Content();
    control->put_AsanaNaME("Photo");
    control->Ppreview();
    for (int i = 0; i < 4; ++i) control->AsanaRs->MoveNext();  // past the end, still open
    runtime->Advance(200);
    EXPECT_EQ(Lines("picture").back(), "200 picture ");
    EXPECT_EQ(control->CuesDone, vbTrue);
    EXPECT_EQ(control->CueStart, -10);
    EXPECT_TRUE(control->Timer2->Enabled());
    runtime->Advance(1000);  // the catalogue is closed: later ticks do nothing
    EXPECT_EQ(site.videoEnds, 0);
    EXPECT_EQ(Commands(), std::vector<std::string>{"close all"});
}

TEST_F(PreviewTest, PreviewOfAPhotoAsanaIsAPhotoPreview) {
    Content();
    control->put_AsanaNaME("Photo");
    control->Preview();
    runtime->Advance(2000);
    EXPECT_EQ(Commands(), std::vector<std::string>{"close all (x2)"});
    EXPECT_EQ(Lines("event"), std::vector<std::string>{"800 event VideoEnd"});
    // "PHOTO" in any letter case.
    manifest["asanas"][1]["Disp_Type"] = "pHoTo";
    Place();
    control->put_AsanaNaME("Photo");
    control->Preview();
    EXPECT_EQ(control->PhotoPreview, vbTrue);
    EXPECT_EQ(control->Timer2->Interval(), 200);
}

TEST_F(PreviewTest, AMissingAsanaFailsToTheHostWithoutAMessage) {
    Content();
    control->put_AsanaNaME("Nobody");
    for (auto call : {&VideoCntl::Preview, &VideoCntl::Ppreview}) {
        try {
            ((*control).*call)();
            ADD_FAILURE();
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), 3021);
        }
    }
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(control->PhotoPreview, vbTrue) << "set before the catalogue was opened";
    EXPECT_EQ(control->Timer2->Interval(), 200);
}

TEST_F(PreviewTest, AStopDuringThePhotoPreviewsStartIsNotUndone) {
    Content();
    control->put_AsanaNaME("Photo");
    runtime->Post(0, [&] { control->StopPlay(); });  // a queued click, run when InitAudio yields
    EXPECT_TRUE(control->Ppreview().isEmpty());
    EXPECT_FALSE(control->Timer2->Enabled()) << "Ppreview's own enabling is skipped too";
    runtime->Advance(2000);
    EXPECT_EQ(site.videoEnds, 0);
    EXPECT_EQ(Lines("picture"), std::vector<std::string>{"0 picture " + V("p1.png")});
}

TEST_F(PreviewTest, AHostStartingTheNextPreviewFromVideoEndGetsOneThatEnds) {
    Content();
    int ends = 0;
    site.onVideoEnd = [&] {
        if (++ends < 3) control->Preview();
    };
    control->put_AsanaNaME("Video");
    control->Preview();
    runtime->Advance(20000);
    EXPECT_EQ(Lines("event"), (std::vector<std::string>{"4000 event VideoEnd", "8000 event VideoEnd",
                                                         "12000 event VideoEnd"}));
}

TEST_F(PreviewTest, PauseAndStartActOnTheVideoPreviewAfterAPhotoAsana) {
    Content();
    control->put_AsanaNaME("Photo");
    control->Ppreview();
    runtime->Advance(1000);  // preview ended: PhotoPreview stays True
    control->put_AsanaNaME("Photo");
    control->fileOpen();
    runtime->Advance(5000);  // photo asana ended: SoundState "Stopped", VideoMode False
    control->put_AsanaNaME("Video");
    control->Preview();
    runtime->Advance(1000);
    site.log.clear();
    control->Pause();
    EXPECT_EQ(Commands(), std::vector<std::string>{"pause video"});
    runtime->Advance(10000);
    EXPECT_EQ(site.videoEnds, 2) << "no false end while paused";
    control->Start();
    EXPECT_EQ(Commands(), (std::vector<std::string>{"pause video", "play video"}));
    EXPECT_TRUE(control->Timer1->Enabled());
    EXPECT_FALSE(control->Timer2->Enabled());
    const auto resumed = Now();
    runtime->Advance(5000);
    EXPECT_EQ(Lines("event").back(), std::to_string(resumed + 3000) + " event VideoEnd");
}

TEST_F(PreviewTest, PauseAndStartOfAPhotoPreviewSendNothing) {
    Content();
    control->put_AsanaNaME("Video");
    control->fileOpen();  // leaves the words "Playing"
    runtime->Advance(100);
    control->put_AsanaNaME("Photo");
    control->Ppreview();
    runtime->Advance(300);
    site.log.clear();
    control->Pause();
    runtime->Advance(1000);
    control->Start();
    EXPECT_TRUE(Commands().empty());
    EXPECT_TRUE(control->Timer2->Enabled());
    EXPECT_FALSE(control->Timer1->Enabled());
    runtime->Advance(1000);
    EXPECT_EQ(site.videoEnds, 1);
}

}  // namespace
}  // namespace calmora::testing
