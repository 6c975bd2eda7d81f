// Simulated devices in virtual time, and the scenario file that gives their lengths.
#include "MediaTestSupport.h"

#include "media/simulated/SimulatedEngine.h"

#include <gtest/gtest.h>

#include <optional>

namespace calmora::media {
namespace {

using namespace testing;

std::unique_ptr<Device> OpenListed(SimulatedEngine& engine, const std::string& path) {
    OpenParams p;
    p.path = path;
    return engine.Open(p);
}

TEST(SimulatedDevice, KeepsTimeOnlyWhilePlayingAndStopsAtItsEnd) {
    ManualClock clock;
    SimulatedEngine engine(clock, Scenario::Parse(R"({"files": {"a.mp2": {"duration_ms": 1000}}})"));
    auto d = OpenListed(engine, "/r/a.mp2");

    struct Step {
        std::int64_t advance;
        enum { None, Play, Pause } action;
        Mode mode;
        std::int64_t position;
    };
    const Step steps[] = {
        {0, Step::None, Mode::Stopped, 0},       // stopped after open
        {500, Step::None, Mode::Stopped, 0},     // no time accrues before play
        {0, Step::Pause, Mode::Stopped, 0},      // pause while stopped: nothing
        {0, Step::Play, Mode::Playing, 0},
        {300, Step::None, Mode::Playing, 300},
        {0, Step::Play, Mode::Playing, 300},     // play while playing: nothing
        {0, Step::Pause, Mode::Paused, 300},
        {1000, Step::None, Mode::Paused, 300},   // no time accrues while paused
        {0, Step::Pause, Mode::Paused, 300},
        {0, Step::Play, Mode::Playing, 300},
        {699, Step::None, Mode::Playing, 999},
        {1, Step::None, Mode::Stopped, 1000},    // the end: stopped, at the length
        {5000, Step::None, Mode::Stopped, 1000},
        {0, Step::Play, Mode::Stopped, 1000},    // play at the end stays stopped
        {0, Step::Pause, Mode::Stopped, 1000},
    };
    int i = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE("step " + std::to_string(i++));
        clock.Advance(s.advance);
        if (s.action == Step::Play) d->Play();
        if (s.action == Step::Pause) d->Pause();
        EXPECT_EQ(d->GetMode(), s.mode);
        EXPECT_EQ(d->PositionMs(), s.position);
    }
    EXPECT_THROW(d->PositionFrames(), MediaError);  // a sound
}

TEST(SimulatedDevice, PassesItsEndBetweenTwoQueries) {
    // A tick may come long after the end: the device stops at the length, not beyond.
    ManualClock clock;
    SimulatedEngine engine(clock, Scenario::Parse(R"({"files": {"a.mp2": {"duration_ms": 100}}})"));
    auto d = OpenListed(engine, "/a.mp2");
    d->Play();
    clock.Advance(250);
    EXPECT_EQ(d->PositionMs(), 100);
    EXPECT_EQ(d->GetMode(), Mode::Stopped);
}

TEST(SimulatedDevice, CountsFramesRoundedDown) {
    ManualClock clock;
    SimulatedEngine engine(clock, Scenario::Parse(R"({"files": {
        "v25.mpg": {"frames": 250, "fps": 25},
        "v2997.mpg": {"frames": 300, "fps": 29.97},
        "vd.mpg": {"duration_ms": 2000, "fps": 10}}})"));
    struct Case {
        std::string file;
        std::int64_t lengthMs;
        std::int64_t frames;
        std::int64_t at;
        std::int64_t frameAt;
    };
    const Case cases[] = {
        {"/v25.mpg", 10000, 250, 39, 0},
        {"/v25.mpg", 10000, 250, 40, 1},
        {"/v25.mpg", 10000, 250, 9999, 249},
        {"/v2997.mpg", 10011, 300, 1001, 29},  // 1001 ms * 29.97 / 1000 = 29.99
        {"/vd.mpg", 2000, 20, 1999, 19},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " at " + std::to_string(c.at));
        auto d = OpenListed(engine, c.file);
        d->Play();
        clock.Advance(c.at);
        EXPECT_EQ(d->PositionFrames(), c.frameAt);
        clock.Advance(c.lengthMs - c.at - 1);
        EXPECT_EQ(d->GetMode(), Mode::Playing);
        clock.Advance(1);
        EXPECT_EQ(d->GetMode(), Mode::Stopped);
        EXPECT_EQ(d->PositionMs(), c.lengthMs);
        EXPECT_EQ(d->PositionFrames(), c.frames);
    }
}

TEST(SimulatedScenario, MatchesKeysAtTheEndOfThePathOnAFolderBoundary) {
    const Scenario s = Scenario::Parse(R"({"files": {
        "sound/mp2/a1.mp2": {"duration_ms": 1},
        "a1.mp2": {"duration_ms": 2},
        "/opt/calmora/mt.mp2": {"duration_ms": 3},
        "video\\Lesson.mpg": {"frames": 4, "fps": 25},
        "./b.mp2": {"duration_ms": 5},
        "Sound/Mp2/C.mp2": {"duration_ms": 6},
        "sound/mp2/c.mp2": {"duration_ms": 7}}})");
    struct Case {
        std::string path;
        std::optional<std::int64_t> lengthMs;
    };
    const Case cases[] = {
        {"/r/sound/mp2/a1.mp2", 1},      // the longest matching key wins
        {"/r/other/a1.mp2", 2},
        {"a1.mp2", 2},                   // the whole of a relative path
        {"/r/sound/mp2/xa1.mp2", std::nullopt},
        {"/r/SOUND/MP2/A1.MP2", 1},      // without regard to case
        {"/opt/calmora/mt.mp2", 3},
        {"/x/opt/calmora/mt.mp2", std::nullopt},  // absolute keys match exactly
        {"/r/video/lesson.mpg", 160},
        {"/r/b.mp2", 5},
        {"/r/sound/mp2/c.mp2", 7},       // among equal keys, the one spelt like the path
        {"/r/Sound/Mp2/C.mp2", 6},
        {"/r/sound/mp2/d.mp2", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const MediaLength* m = s.Find(c.path);
        ASSERT_EQ(m != nullptr, c.lengthMs.has_value());
        if (m) { EXPECT_EQ(m->lengthMs, *c.lengthMs); }
    }
}

TEST(SimulatedScenario, RejectsAMalformedFileNamingTheFault) {
    const std::pair<std::string, std::string> cases[] = {
        {"{", "not valid JSON"},
        {"[]", "\"files\""},
        {R"({"files": []})", "\"files\""},
        {R"({"files": {"a.mp2": 5}})", "\"a.mp2\" must be an object"},
        {R"({"files": {"a.mp2": {}}})", "either \"duration_ms\" or \"frames\""},
        {R"({"files": {"a.mp2": {"duration_ms": 1, "frames": 2, "fps": 25}}})", "either"},
        {R"({"files": {"v.mpg": {"frames": 2}}})", "without \"fps\""},
        {R"({"files": {"a.mp2": {"duration_ms": -1}}})", "\"duration_ms\" of \"a.mp2\""},
        {R"({"files": {"a.mp2": {"duration_ms": "long"}}})", "\"duration_ms\" of \"a.mp2\""},
        {R"({"files": {"v.mpg": {"frames": 2, "fps": 0}}})", "\"fps\" of \"v.mpg\""},
        {R"({"files": {"": {"duration_ms": 1}}})", "empty"},
    };
    for (const auto& [json, mentions] : cases) {
        SCOPED_TRACE(json);
        try {
            Scenario::Parse(json);
            ADD_FAILURE() << "accepted";
        } catch (const MediaError& e) {
            EXPECT_EQ(e.number(), mcierr::DeviceFailure);
            EXPECT_NE(e.description().find(mentions), std::string::npos) << e.description();
        }
    }
}

TEST(SimulatedEngineFiles, ListedFilesNeedNotExistAndOthersAreMeasured) {
    TempDir dir;
    const std::string listedOnDisk = dir.Write("res/sound/mp2/a1.mp2", AudioFrames(10));  // 240 ms by its headers
    const std::string measured = dir.Write("res/sound/mp2/a2.mp2", AudioFrames(10));
    const std::string scenario = dir.Write("scenario.json", std::string(R"({"files": {
        "sound/mp2/a1.mp2": {"duration_ms": 5000},
        "sound/mp2/ghost.mp2": {"duration_ms": 700}}})"));
    ManualClock clock;
    auto engine = MakeSimulatedEngine(clock, scenario);

    auto lengthOf = [&](const std::string& path) {
        OpenParams p;
        p.path = path;
        auto d = engine->Open(p);
        d->Play();
        clock.Advance(1'000'000);
        return d->PositionMs();
    };
    EXPECT_EQ(lengthOf(listedOnDisk), 5000);  // the scenario wins over the headers
    EXPECT_EQ(lengthOf(dir.str() + "/res/sound/mp2/ghost.mp2"), 700);
    EXPECT_EQ(lengthOf(measured), 240);
    EXPECT_EQ(lengthOf(measured), 240);  // from what was measured before
    dir.Write("res/sound/mp2/a2.mp2", AudioFrames(20));
    EXPECT_EQ(lengthOf(measured), 480);  // a changed file is measured again

    OpenParams missing;
    missing.path = dir.str() + "/res/sound/mp2/none.mp2";
    try {
        engine->Open(missing);
        FAIL() << "opened";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.number(), mcierr::FileNotFound);
        EXPECT_NE(e.description().find(missing.path), std::string::npos);
    }
}

TEST(SimulatedEngineFiles, AScenarioThatCannotBeReadFailsTheEngine) {
    ManualClock clock;
    try {
        MakeSimulatedEngine(clock, "/nonexistent/scenario.json");
        FAIL() << "made";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.number(), mcierr::DeviceFailure);
        EXPECT_NE(e.description().find("/nonexistent/scenario.json"), std::string::npos);
    }
}

}  // namespace
}  // namespace calmora::media
