// The interpreter over the simulated engine, with real files in a temporary resource folder: paths
// as the control writes them ("\" separators, other letter case, blanks), aliases in any case,
// double opens, unknown aliases, "close all", time formats.
#include "MediaTestSupport.h"

#include "media/Interpreter.h"
#include "media/simulated/SimulatedEngine.h"

#include <gtest/gtest.h>

#include <variant>

namespace calmora::media {
namespace {

using namespace testing;

// Passes opens to the simulated engine and keeps what they were asked with.
class SpyEngine : public Engine {
public:
    explicit SpyEngine(const Clock& clock) : sim_(clock, Scenario{}) {}
    std::unique_ptr<Device> Open(const OpenParams& p) override {
        opened.push_back(p);
        return sim_.Open(p);
    }
    std::vector<OpenParams> opened;

private:
    SimulatedEngine sim_;
};

class MediaInterpreter : public ::testing::Test {
protected:
    MediaInterpreter() {
        // On disk in other letter case than the control writes: made on a case-insensitive system.
        dir.Write("res/Sound/MP2/A1.MP2", AudioFrames(50));      // 1200 ms
        dir.Write("res/Sound/MP2/a2.mp2", AudioFrames(10));      // 240 ms
        dir.Write("res/video/My Lesson.MPG", VideoStream(100));  // 100 frames at 25 fps
        dir.Write("res/with alias dir/x.mp2", AudioFrames(1));
        dir.Write("res/video/readme.txt", std::string("not a film"));
        R = dir.str() + "/res";
        Rb = R + "\\";
    }

    // A step: a command and its reply, or a command and the error number it must fail with, or a
    // move of the clock.
    struct Advance {
        std::int64_t ms;
    };
    struct Step {
        std::variant<std::string, Advance> what;
        std::string reply = {};
        int error = 0;
    };

    void RunScript(const std::vector<Step>& steps) {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& s = steps[i];
            if (const auto* a = std::get_if<Advance>(&s.what)) {
                clock.Advance(a->ms);
                continue;
            }
            const std::string& command = std::get<std::string>(s.what);
            SCOPED_TRACE("step " + std::to_string(i) + ": " + command);
            Reply reply;
            try {
                interpreter.Run(command, reply);
                EXPECT_EQ(s.error, 0) << "succeeded";
                EXPECT_EQ(reply.view(), s.reply);
            } catch (const MediaError& e) {
                EXPECT_EQ(e.number(), s.error) << e.description();
            }
        }
    }

    TempDir dir;
    std::string R, Rb;
    ManualClock clock;
    SpyEngine engine{clock};
    Interpreter interpreter{engine};
};

TEST_F(MediaInterpreter, OpensPathsAsTheControlWritesThem) {
    RunScript({
        {"open " + Rb + "sound\\mp2\\a1.mp2 alias Sound type mpegVideo"},
        {"open " + Rb + "video\\my lesson.mpg  alias video type mpegVideo  style child parent  4660"},
        {"open " + Rb + "with alias dir\\X.mp2 alias other type mpegVideo"},
    });
    ASSERT_EQ(engine.opened.size(), 3u);
    EXPECT_EQ(engine.opened[0].path, R + "/Sound/MP2/A1.MP2");
    EXPECT_FALSE(engine.opened[0].child);
    EXPECT_EQ(engine.opened[1].path, R + "/video/My Lesson.MPG");
    EXPECT_TRUE(engine.opened[1].child);
    EXPECT_EQ(engine.opened[1].parentWindow, 4660);
    EXPECT_EQ(engine.opened[2].path, R + "/with alias dir/x.mp2");
    EXPECT_EQ(interpreter.OpenCount(), 3u);
}

TEST_F(MediaInterpreter, AddressesAnAliasInAnyCase) {
    RunScript({
        {"open " + Rb + "sound\\mp2\\a1.mp2 alias Sound type mpegVideo"},
        {"status sound mode", "stopped"},
        {"STATUS SOUND position", "0"},
        {"play sound"},
        {Advance{100}},
        {"status Sound mode", "playing"},
        {"Pause SOUND"},
        {"status sound mode", "paused"},
        {"status sound position", "100"},
        {"close sound"},
        {"status Sound mode", "", mcierr::UnknownAlias},
    });
}

TEST_F(MediaInterpreter, RefusesADoubleOpenAndAnUnknownAlias) {
    const std::string open1 = "open " + Rb + "sound\\mp2\\a1.mp2 alias Sound type mpegVideo";
    RunScript({
        {"play sound", "", mcierr::UnknownAlias},
        {"status sound mode", "", mcierr::UnknownAlias},
        {"close sound", "", mcierr::UnknownAlias},
        {open1},
        {open1, "", mcierr::AliasInUse},
        {"open " + Rb + "sound\\mp2\\a2.mp2 alias SOUND type mpegVideo", "", mcierr::AliasInUse},
        {"play sound"},
        {Advance{1000}},
        {"status sound position", "1000"},  // the refused opens left the first device alone
        {"close sound"},
        {"open " + Rb + "sound\\mp2\\a2.mp2 alias sound type mpegVideo"},
        {"status sound position", "0"},
    });
}

TEST_F(MediaInterpreter, FailedOpensAddNoDevice) {
    RunScript({
        {"open " + Rb + "sound\\mp2\\zz.mp2 alias Sound type mpegVideo", "", mcierr::FileNotFound},
        {"open " + Rb + "nothere\\a1.mp2 alias Sound type mpegVideo", "", mcierr::FileNotFound},
        {"open " + Rb + "video\\readme.txt alias Sound type mpegVideo", "", mcierr::NotMediaFile},
        {"open " + Rb + "video alias Sound type mpegVideo", "", mcierr::NotMediaFile},  // a folder
        {"status sound mode", "", mcierr::UnknownAlias},
        {"open " + Rb + "sound\\mp2\\a1.mp2 alias Sound type mpegVideo"},
    });
    EXPECT_EQ(interpreter.OpenCount(), 1u);
}

TEST_F(MediaInterpreter, CloseAllClosesEveryDeviceAndIsFineWithNone) {
    RunScript({
        {"close all"},
        {"open " + Rb + "sound\\mp2\\a1.mp2 alias Sound type mpegVideo"},
        {"open " + Rb + "video\\my lesson.mpg  alias video type mpegVideo  style child parent  1"},
        {"play video"},
        {"Close All"},
        {"status video mode", "", mcierr::UnknownAlias},
        {"status sound mode", "", mcierr::UnknownAlias},
        {"close all"},
        {"open " + Rb + "sound\\mp2\\a1.mp2 alias Sound type mpegVideo"},  // the alias is free again
    });
}

TEST_F(MediaInterpreter, ReportsPositionsInTheCurrentTimeFormat) {
    RunScript({
        {"open " + Rb + "video\\my lesson.mpg  alias video type mpegVideo  style child parent  1"},
        {"play video"},
        {Advance{1000}},
        {"status video position", "1000"},  // milliseconds until told otherwise
        {"set video time format frames"},
        {"status video position", "25"},
        {Advance{39}},
        {"status video position", "25"},  // rounded down
        {Advance{1}},
        {"status video position", "26"},
        {"set video time format milliseconds"},
        {"status video position", "1040"},
        {Advance{5000}},
        {"status video mode", "stopped"},  // 100 frames at 25 fps: 4000 ms
        {"status video position", "4000"},
        {"set video time format frames"},
        {"status video position", "100"},
    });
}

TEST_F(MediaInterpreter, ASoundHasNoFrames) {
    RunScript({
        {"open " + Rb + "sound\\mp2\\a2.mp2 alias Sound type mpegVideo"},
        {"set sound time format frames"},
        {"status sound position", "", mcierr::Unsupported},
        {"status sound mode", "stopped"},
        {"set sound time format milliseconds"},
        {"status sound position", "0"},
    });
}

}  // namespace
}  // namespace calmora::media
