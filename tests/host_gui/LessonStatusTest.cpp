// The status line, read from trace lines as the host writes them.
#include "gui/LessonStatus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using calmora::host::Activity;
using calmora::host::AsanaInfo;
using calmora::host::AsanaKind;
using calmora::host::CatalogueInfo;
using calmora::host::LessonStatus;

CatalogueInfo Catalogue() {
    CatalogueInfo info;
    info.asanas.push_back({"Trikonasana", AsanaKind::Video, {"Stretch to the right", "Hold the pose"}, 0});
    info.asanas.push_back({"Tadasana", AsanaKind::Photo, {}, 3});
    return info;
}

struct Case {
    const char* name;
    std::vector<std::string> lines;
    std::string text;
    Activity activity;
};

TEST(LessonStatus, FollowsTheTrace) {
    const std::string video = "     5 mci \"open /r\\video\\t.mpg  alias video type mpegVideo  style child parent  4711\"";
    const std::string sound1 = "     6 mci \"open /r\\sound\\mp2\\stretch_right.mp2 alias Sound type mpegVideo\"";
    const std::string sound2 = "  2040 mci \"open /r\\sound\\mp2\\hold_pose.mp2 alias Sound type mpegVideo\"";
    const Case cases[] = {
        {"nothing yet", {}, "Ready", Activity::Idle},
        {"video, first cue",
         {"     0 call fileOpen \"trikonasana\"", "     1 mci \"close all\"", "     2 picture \"\"", video, sound1},
         "trikonasana \u2014 playing \u00b7 cue 1 of 2: Stretch to the right", Activity::Playing},
        {"video, second cue", {"     0 call fileOpen \"Trikonasana\"", video, sound1, sound2},
         "Trikonasana \u2014 playing \u00b7 cue 2 of 2: Hold the pose", Activity::Playing},
        {"video not in the catalogue read at start: the sound's name",
         {"     0 call fileOpen \"Other\"", video, sound1}, "Other \u2014 playing \u00b7 cue 1: stretch_right",
         Activity::Playing},
        {"paused and resumed",
         {"     0 call fileOpen \"Trikonasana\"", video, sound1, "   900 call Pause", "  1200 call Start"},
         "Trikonasana \u2014 playing \u00b7 cue 1 of 2: Stretch to the right", Activity::Playing},
        {"paused", {"     0 call fileOpen \"Trikonasana\"", video, sound1, "   900 call Pause"},
         "Trikonasana \u2014 paused \u00b7 cue 1 of 2: Stretch to the right", Activity::Paused},
        {"photos: each picture is the next photo, sounds are not cues",
         {"     0 call fileOpen \"Tadasana\"", "     2 picture \"\"", "     3 picture \"/r\\video\\p1.jpg\"",
          "     4 mci \"open /r\\sound\\mp2\\a.mp2 alias Sound type mpegVideo\"", "  2500 picture \"/r\\video\\p2.jpg\""},
         "Tadasana \u2014 playing \u00b7 photo 2 of 3", Activity::Playing},
        {"photo preview", {"     0 call Ppreview \"Tadasana\"", "     3 picture \"/r\\video\\p1.jpg\""},
         "Tadasana \u2014 photo preview \u00b7 photo 1 of 3", Activity::Previewing},
        {"stopped", {"     0 call fileOpen \"Tadasana\"", "   500 call StopPlay", "   500 mci \"close all\""},
         "Tadasana \u2014 stopped", Activity::Stopped},
        {"ended", {"     0 call fileOpen \"Tadasana\"", "  7000 event VideoEnd"}, "Tadasana \u2014 ended", Activity::Ended},
        {"not found", {"     0 call fileOpen \"Nope\"", "     3 msgbox \"Asana not found - Nope\""},
         "Nope \u2014 not in the catalogue", Activity::NotFound},
        {"a start that fails", {"     0 call Preview \"Nope\"", "     3 fail Preview: 3021 No current record."},
         "Nope \u2014 could not start: 3021 No current record.", Activity::Failed},
        {"a sound that cannot be opened is shown with the state",
         {"     0 call fileOpen \"Trikonasana\"", video, sound1,
          "     6 fail \"open /r\\sound\\mp2\\stretch_right.mp2 alias Sound type mpegVideo\": no such file"},
         "Trikonasana \u2014 playing \u00b7 cue 1 of 2: Stretch to the right \u00b7 no such file", Activity::Playing},
        {"Pause with nothing running changes nothing", {"     0 call Pause"}, "Ready", Activity::Idle},
    };
    const CatalogueInfo info = Catalogue();
    for (const Case& c : cases) {
        LessonStatus status(&info);
        for (const auto& line : c.lines) status.OnTraceLine(line);
        EXPECT_EQ(status.Text(), c.text) << c.name;
        EXPECT_EQ(status.activity(), c.activity) << c.name;
    }
}

}  // namespace
