// Ten thousand asanas chained from VideoEnd, video and photo in turn, in virtual time. Under the
// sanitizer build this is the leak and lifetime check of the whole play path.
#include "ControlFixture.h"

namespace calmora::testing {
namespace {

class Soak : public ControlTest {};

TEST_F(Soak, TenThousandChainedAsanasEachEndOnce) {
    Video("v.mpg", 100);
    Sound("s", 20);
    Photo("p.png");
    VideoAsana("V", 1, "v.mpg", {Cue("s", 0), Cue("s", 1)});
    PhotoAsana("P", 2, {PhotoRow("s", "p.png"), PhotoRow("s", "p.png")});
    Place();
    site.log.reserve(16);
    int started = 1;
    site.onVideoEnd = [&] {
        site.log.clear();  // keep the trace small; ends are counted
        if (started < 10000) {
            control->put_AsanaNaME(started++ % 2 ? "P" : "V");
            control->fileOpen();
        }
    };
    Open("V");
    runtime->RunUntil([&] { return site.videoEnds == 10000; });
    EXPECT_EQ(site.videoEnds, 10000);
    runtime->Advance(1000);
    EXPECT_EQ(site.videoEnds, 10000) << "nothing ends twice";
    EXPECT_FALSE(control->Timer1->Enabled());
    EXPECT_FALSE(control->Timer2->Enabled());
    EXPECT_TRUE(Boxes().empty());
}

}  // namespace
}  // namespace calmora::testing
