// The forms runtime's conversions beyond what catalogue fields exercise (those are in
// tests/control/catalogue): Empty and Boolean values, number to text with Str, the text helpers,
// which texts count as numbers, and independence from the process locale.
#include "common/Conversions.h"
#include "common/Text.h"

#include <calmora/Error.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <locale.h>
#include <sstream>
#include <unistd.h>

namespace calmora {
namespace {

std::string Outcome(const std::function<Variant()>& f) {
    try {
        const Variant v = f();
        if (v.isNull()) return "Null";
        std::ostringstream out;
        out << std::setprecision(17);
        std::visit([&](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::string>) out << '"' << x << '"';
            else if constexpr (std::is_same_v<T, Empty> || std::is_same_v<T, Null>) out << "?";
            else out << x;
        }, v.storage());
        return out.str();
    } catch (const RuntimeError& e) {
        return "error " + std::to_string(e.number());
    }
}

struct Case {
    const char* what;
    std::function<Variant()> call;
    std::string want;
};

TEST(Conversions, Table) {
    const std::vector<Case> cases = {
        // CStr: the decimal text of numbers, no leading blank; Empty is the empty text.
        {"CStr(Empty)", [] { return CStr(Variant()); }, R"("")"},
        {"CStr(True)", [] { return CStr(true); }, R"("True")"},
        {"CStr(-12)", [] { return CStr(-12); }, R"("-12")"},
        {"CStr(-0.0)", [] { return CStr(-0.0); }, R"("0")"},
        {"CStr(0.1+0.2)", [] { return CStr(0.1 + 0.2); }, R"("0.3")"},
        {"CStr(1/3)", [] { return CStr(1.0 / 3); }, R"("0.333333333333333")"},
        {"CStr(123456789012345.0)", [] { return CStr(123456789012345.0); }, R"("123456789012345")"},
        {"CStr(1e15)", [] { return CStr(1e15); }, R"("1E+15")"},
        {"CStr(1e-5)", [] { return CStr(1e-5); }, R"("1E-05")"},
        {"CStr(Null)", [] { return CStr(Null{}); }, "error 94"},
        // CInt / CLng on values the catalogue does not hold
        {"CInt(Empty)", [] { return CInt(Variant()); }, "0"},
        {"CInt(True)", [] { return CInt(true); }, "-1"},
        {"CInt(\"  -4.5 \")", [] { return CInt(" -4.5 "); }, "-4"},
        {"CInt(\"1e400\")", [] { return CInt("1e400"); }, "error 6"},
        {"CLng(2147483647.4)", [] { return CLng(2147483647.4); }, "2147483647"},
        {"CLng(2147483647.5)", [] { return CLng(2147483647.5); }, "error 6"},
        {"CLng(-2147483648.5)", [] { return CLng(-2147483648.5); }, "-2147483648"},
        {"CLng(Null)", [] { return CLng(Null{}); }, "error 94"},
        // CDbl: a text that is a number too large for a double overflows rather than mismatches.
        {"CDbl(\"1D3\")", [] { return CDbl("1D3"); }, "1000"},
        {"CDbl(\"-1e400\")", [] { return CDbl("-1e400"); }, "error 6"},
        {"CDbl(\"&HFFFFFFFFFFFFFFFFF\")", [] { return CDbl("&HFFFFFFFFFFFFFFFFF"); }, "error 6"},
        {"CDbl(\"1e\")", [] { return CDbl("1e"); }, "error 13"},
        // Str: a blank before a non-negative number, for the AsanaID in a table name.
        {"Str(12)", [] { return Str(12); }, R"(" 12")"},
        {"Str(0)", [] { return Str(0); }, R"(" 0")"},
        {"Str(-3)", [] { return Str(-3); }, R"("-3")"},
        {"Str(2.5)", [] { return Str(2.5); }, R"(" 2.5")"},
        {"Str(\"12\")", [] { return Str("12"); }, R"(" 12")"},
        {"Str(\"abc\")", [] { return Str("abc"); }, "error 13"},
        {"Str(Null)", [] { return Str(Null{}); }, "Null"},
        // Trim drops spaces only; UCase every letter.
        {"Trim", [] { return Trim("  \tx y\t  "); }, "\"\tx y\t\""},
        {"UCase", [] { return UCase("Photo bäume"); }, R"("PHOTO BÄUME")"},
        // TextEquals: exact; Null equals nothing.
        {"TextEquals(\"Video\", \"Video\")", [] { return TextEquals("Video", "Video"); }, "1"},
        {"TextEquals(\"video\", \"Video\")", [] { return TextEquals("video", "Video"); }, "0"},
        {"TextEquals(5, \"5\")", [] { return TextEquals(5, "5"); }, "1"},
        {"TextEquals(Null, \"\")", [] { return TextEquals(Null{}, ""); }, "0"},
    };
    for (const auto& c : cases) EXPECT_EQ(Outcome(c.call), c.want) << c.what;
}

TEST(Conversions, WhatCountsAsANumber) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"12", true},    {" 12 ", true},  {"\t-3", true},  {"+4", true},   {".5", true},    {"5.", true},
        {"1e5", true},   {"1E-5", true},  {"2d3", true},   {"&H1F", true}, {"&o17", true},  {"", false},
        {" ", false},    {".", false},    {"-", false},    {"1e", false},  {"1e+", false},  {"1.2.3", false},
        {"12abc", false}, {"&H", false},  {"&HG", false},  {"&O8", false}, {"1 2", false},  {"0x10", false},
        {"inf", false},  {"nan", false},  {"1e400", false},
    };
    for (const auto& [text, number] : cases) {
        double d = 0;
        EXPECT_EQ(ParseNumber(text, d), number) << '"' << text << '"';
    }
}

// Makes a locale with a decimal comma in a temporary folder; none is installed on a bare system.
class DecimalCommaLocale : public ::testing::Test {
protected:
    void SetUp() override {
        FoldCase("Ä");  // the case tables are loaded before LOCPATH points elsewhere
        dir_ = std::filesystem::temp_directory_path() / ("calmora-locale-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        // A single-byte character set is made in a fraction of the time UTF-8 takes.
        const std::string cmd = "localedef -i de_DE -f ISO-8859-1 '" + (dir_ / "de_DE.ISO-8859-1").string() + "' >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0 || !std::filesystem::exists(dir_ / "de_DE.ISO-8859-1"))
            GTEST_SKIP() << "cannot make a de_DE locale here (localedef or its sources missing)";
        ::setenv("LOCPATH", dir_.c_str(), 1);
        const char* set = ::setlocale(LC_NUMERIC, "de_DE.ISO-8859-1");
        ::unsetenv("LOCPATH");
        if (!set) GTEST_SKIP() << "de_DE locale does not load";
    }
    void TearDown() override {
        ::setlocale(LC_NUMERIC, "C");
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path dir_;
};

TEST_F(DecimalCommaLocale, ConversionsIgnoreTheProcessLocale) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 2.5);
    ASSERT_STREQ(buf, "2,5");  // the locale is in force
    EXPECT_EQ(CStr(2.5), "2.5");
    EXPECT_EQ(Str(2.5), Variant(" 2.5"));
    EXPECT_EQ(CDbl("2.5"), 2.5);
    EXPECT_EQ(CInt("2.5"), 2);
    EXPECT_EQ(CInt("3.5"), 4);
}

}  // namespace
}  // namespace calmora
