// Reading reply areas as the timers do.
#include "VideoCntl/StatusReply.h"

#include <calmora/Error.h>

#include <gtest/gtest.h>

#include <string>

namespace calmora {
namespace {

// 50 blanks with the reply and its NUL written over the start, as the query entry leaves them.
std::string Area(const std::string& written) {
    std::string a(50, ' ');
    a.replace(0, written.size(), written);
    return a;
}

TEST(StatusReply, ModesAreReadUpToTheirNul) {
    using namespace std::string_literals;
    struct Case {
        std::string area;
        std::string mode;
    } cases[] = {
        {Area("stopped\0"s), "stopped"},
        {Area("Stopped\0"s), "Stopped"},
        {Area("STOPPED\0"s), "STOPPED"},
        {Area("paused\0"s), "paused"},
        {Area("playing\0"s), "playing"},
        // NUL-padded up to the reply length
        {Area("stopped"s + std::string(42, '\0')), "stopped"},
        // a second reply written over a longer first one: "250\0ing\0"
        {Area("250\0ing\0"s), "250"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReplyMode(c.area), c.mode);
}

TEST(StatusReply, AnUntouchedAreaCannotBeCut) {
    try {
        ReplyMode(std::string(50, ' '));
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 5);
    }
}

TEST(StatusReply, PositionsAreTheLeadingNumber) {
    using namespace std::string_literals;
    struct Case {
        std::string area;
        double position;
    } cases[] = {
        {Area("250\0"s), 250},
        {Area("0\0"s), 0},
        {Area("250\0ing\0"s), 250},
        {Area("playing\0"s), 0},  // the position query failed: the mode's reply is still there
        {Area("12ab\0"s), 12},
        {Area("x\0"s), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ReplyPosition(c.area), c.position) << c.area;
}

}  // namespace
}  // namespace calmora
