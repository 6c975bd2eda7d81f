#include "Profile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <map>

namespace calmora::update {
namespace {

using test::TempDir;
using test::WriteFile;

struct ProfileCase {
    const char* what;
    std::string content;
    std::string expected;
};

TEST(ReadProfileString, FindsTheValueByTheProfileRules)
{
    const ProfileCase cases[] = {
        {"plain", "[VURIRUV]\nDestPath=/opt/calmora\n", "/opt/calmora"},
        {"letter case of section and key", "[vuriruv]\r\ndestpath=/opt/Calmora\r\n", "/opt/Calmora"},
        {"blanks around names and value", "  [ VURIRUV ]  \n \tDestPath \t= \t/opt/cal mora \t\r\n", "/opt/cal mora"},
        {"double quotes removed", "[VURIRUV]\nDestPath = \" /opt/calmora \" \n", " /opt/calmora "},
        {"single quotes removed", "[VURIRUV]\nDestPath='/opt/calmora'\n", "/opt/calmora"},
        {"quotes that do not match stay", "[VURIRUV]\nDestPath=\"/opt/calmora'\n", "\"/opt/calmora'"},
        {"backslashes kept as stored", "[VURIRUV]\nDestPath=C:\\Calmora\\\n", "C:\\Calmora\\"},
        {"the right section among others", "[Other]\nDestPath=/wrong\n[VURIRUV]\nKey=x\nDestPath=/right\n[Last]\n",
         "/right"},
        {"first of two equal keys", "[VURIRUV]\nDestPath=/first\nDESTPATH=/second\n", "/first"},
        {"only the first section of that name", "[VURIRUV]\nOther=1\n[Next]\n[vuriruv]\nDestPath=/late\n", ""},
        {"comment line", "[VURIRUV]\n;DestPath=/commented\n", ""},
        {"byte-order mark before the first section", "\xEF\xBB\xBF[VURIRUV]\nDestPath=/opt/calmora\n", "/opt/calmora"},
        {"no section", "[Other]\nDestPath=/opt/calmora\n", ""},
        {"no key", "[VURIRUV]\nDest=/opt/calmora\n", ""},
        {"empty value", "[VURIRUV]\nDestPath=\n", ""},
        {"blank value", "[VURIRUV]\nDestPath=  \t \n", ""},
        {"quoted empty value", "[VURIRUV]\nDestPath=\"\"\n", ""},
        {"key without equals sign", "[VURIRUV]\nDestPath\n", ""},
    };
    const TempDir dir;
    const std::string profile = dir.path() + "/win.ini";
    for (const auto& c : cases) {
        WriteFile(profile, c.content);
        const ProfileString result = ReadProfileString(profile, "VURIRUV", "DestPath", "", 255);
        EXPECT_EQ(result.text, c.expected) << c.what;
        EXPECT_EQ(result.count, static_cast<std::int16_t>(c.expected.size())) << c.what;
    }
}

TEST(ReadProfileString, MissingFileGivesTheDefault)
{
    const TempDir dir;
    const ProfileString result = ReadProfileString(dir.path() + "/absent.ini", "VURIRUV", "DestPath", " x ", 255);
    EXPECT_EQ(result.text, "x");
    EXPECT_EQ(result.count, 1);
    EXPECT_EQ(ReadProfileString(dir.path() + "/absent.ini", "VURIRUV", "DestPath", "", 255).count, 0);
}

TEST(ReadProfileString, CutsTheValueToTheBufferLessOne)
{
    const TempDir dir;
    const std::string profile = dir.path() + "/win.ini";
    const std::string value = test::Pattern(300, 1);
    std::string printable;
    for (char c : value) {
        printable += static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
    }
    for (const std::size_t length : {254u, 255u, 300u}) {
        for (const std::string quote : {"", "\""}) {
            WriteFile(profile, "[VURIRUV]\nDestPath=" + quote + printable.substr(0, length) + quote + "\n");
            const ProfileString result = ReadProfileString(profile, "VURIRUV", "DestPath", "", 255);
            EXPECT_EQ(result.count, 254) << length << quote;
            EXPECT_EQ(result.text, printable.substr(0, 254)) << length << quote;
        }
    }
}

TEST(ProfileLocation, ExplicitFileThenXdgConfigThenHome)
{
    struct Case {
        std::map<std::string, std::string> env;
        std::string expected;
    };
    const Case cases[] = {
        {{{"CALMORA_PROFILE", "/etc/calmora.ini"}, {"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/home/u"}}, "/etc/calmora.ini"},
        {{{"CALMORA_PROFILE", ""}, {"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/home/u"}}, "/cfg/win.ini"},
        {{{"XDG_CONFIG_HOME", "relative/cfg"}, {"HOME", "/home/u"}}, "/home/u/.config/win.ini"},
        {{{"HOME", "/home/u"}}, "/home/u/.config/win.ini"},
    };
    for (const auto& c : cases) {
        const auto lookup = [&](const char* name) -> const char* {
            const auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(ProfileLocation(lookup), c.expected);
    }
}

}  // namespace
}  // namespace calmora::update
