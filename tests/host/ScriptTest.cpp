#include "Script.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace calmora::host {
namespace {

TEST(Script, ReadsTimedCallsWithRawArguments) {
    auto s = ParseScript("# a comment\n\n100 Pause\n250 AsanaNaME  Child's pose \n300 fileOpen\r\n400 Resourcedir /a b\\c");
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].atMs, 100);
    EXPECT_EQ(s[0].member, "Pause");
    EXPECT_FALSE(s[0].argument);
    EXPECT_EQ(s[1].argument.value(), " Child's pose ");
    EXPECT_FALSE(s[2].argument) << "the CR of a CR LF line is not part of it";
    EXPECT_EQ(s[3].argument.value(), "/a b\\c");
}

TEST(Script, RejectsWhatItCannotRun) {
    for (const char* bad : {"Pause", "10", "10 Play", "-5 Pause", "1x Pause", "10 pause"}) {
        EXPECT_THROW(ParseScript(bad), std::runtime_error) << bad;
    }
}

}  // namespace
}  // namespace calmora::host
