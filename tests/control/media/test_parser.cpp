// The command language: every form the control sends, in any letter case and blank spacing, and
// the ways a text can fall outside it.
#include "media/Interpreter.h"

#include <gtest/gtest.h>

namespace calmora::media {
namespace {

struct Accepted {
    std::string text;
    Verb verb;
    std::string alias;
    std::string element = {};
    bool child = false;
    std::int64_t parent = 0;
    TimeFormat format = TimeFormat::Milliseconds;
    StatusItem item = StatusItem::Mode;
};

TEST(MediaParser, AcceptsEveryFormOfTheLanguage) {
    const Accepted cases[] = {
        // The video open exactly as the control builds it: two blanks before "alias" and "style", and
        // a blank before a handle that is not negative.
        {"open C:\\res\\video\\Lesson1.mpg  alias video type mpegVideo  style child parent  4660", Verb::Open,
         "video", "C:\\res\\video\\Lesson1.mpg", true, 4660},
        {"open /r\\video\\a.mpg  alias video type mpegVideo  style child parent -42", Verb::Open, "video",
         "/r\\video\\a.mpg", true, -42},
        {"open /r\\sound\\mp2\\a1.mp2 alias Sound type mpegVideo", Verb::Open, "Sound", "/r\\sound\\mp2\\a1.mp2"},
        {"OPEN /r/x.mp2 ALIAS Sound TYPE MPEGVIDEO STYLE CHILD PARENT 0", Verb::Open, "Sound", "/r/x.mp2", true, 0},
        // Blanks in the path, even " alias " itself: the element runs to the last " alias ".
        {"open /my files/a b.mp2   alias s type mpegVideo", Verb::Open, "s", "/my files/a b.mp2"},
        {"open /x alias y/a.mp2 alias s type mpegVideo", Verb::Open, "s", "/x alias y/a.mp2"},
        {"open /x/Alias.mp2 Alias s Type MpegVideo", Verb::Open, "s", "/x/Alias.mp2"},
        {"  open\t/a.mp2\talias\ts\ttype\tmpegVideo  ", Verb::Open, "s", "/a.mp2"},
        {"set video time format frames", Verb::Set, "video", {}, false, 0, TimeFormat::Frames},
        {"SET Video Time Format Milliseconds", Verb::Set, "Video", {}, false, 0, TimeFormat::Milliseconds},
        {"play video", Verb::Play, "video"},
        {"  Play   sound  ", Verb::Play, "sound"},
        {"pause sound", Verb::Pause, "sound"},
        {"close sound", Verb::Close, "sound"},
        {"close all", Verb::CloseAll, ""},
        {"CLOSE All", Verb::CloseAll, ""},
        {"status sound mode", Verb::Status, "sound"},
        {"status video Position", Verb::Status, "video", {}, false, 0, TimeFormat::Milliseconds, StatusItem::Position},
        {"STATUS VIDEO MODE", Verb::Status, "VIDEO"},
    };
    for (const Accepted& a : cases) {
        SCOPED_TRACE(a.text);
        const Command c = ParseCommand(a.text);
        EXPECT_EQ(c.verb, a.verb);
        EXPECT_EQ(c.alias, a.alias);
        EXPECT_EQ(c.element, a.element);
        EXPECT_EQ(c.child, a.child);
        EXPECT_EQ(c.parent, a.parent);
        if (a.verb == Verb::Set) { EXPECT_EQ(c.format, a.format); }
        if (a.verb == Verb::Status) { EXPECT_EQ(c.item, a.item); }
    }
}

struct Rejected {
    std::string text;
    int number;
    std::string mentions;  // a piece of the message
};

TEST(MediaParser, RejectsTextOutsideTheLanguageWithAClearReason) {
    const Rejected cases[] = {
        {"", mcierr::MissingParameter, "empty"},
        {"   ", mcierr::MissingParameter, "empty"},
        {"seek video to start", mcierr::UnrecognizedCommand, "\"seek\" is not a supported media command"},
        {"stop video", mcierr::UnrecognizedCommand, "\"stop\""},
        {"play", mcierr::MissingParameter, "play <name>"},
        {"play video from 10", mcierr::UnrecognizedKeyword, "\"from\""},
        {"play all", mcierr::Unsupported, "close all"},
        {"status video", mcierr::MissingParameter, "status <name> mode|position"},
        {"status video length", mcierr::UnrecognizedKeyword, "\"length\""},
        {"status all mode", mcierr::Unsupported, "\"all\""},
        {"set video time format bytes", mcierr::UnrecognizedKeyword, "\"bytes\""},
        {"set video format frames", mcierr::MissingParameter, "set <name> time format"},
        {"set video time frames now", mcierr::UnrecognizedKeyword, "\"format\""},
        {"close", mcierr::MissingParameter, "close <name>"},
        {"close sound video", mcierr::UnrecognizedKeyword, "\"video\""},
        {"open", mcierr::MissingParameter, "names no file"},
        {"open /a.mp2", mcierr::MissingParameter, "gives no alias"},
        {"open /a.mp2 alias", mcierr::MissingParameter, "gives no alias"},
        {"open alias s type mpegVideo", mcierr::MissingParameter, "names no file"},
        {"open /a.mp2 alias s", mcierr::MissingParameter, "device type"},
        {"open /a.mp2 alias s kind mpegVideo", mcierr::UnrecognizedKeyword, "\"type\""},
        {"open /a.mp2 alias s type waveaudio", mcierr::Unsupported, "\"waveaudio\""},
        {"open /a.mp2 alias all type mpegVideo", mcierr::Unsupported, "\"all\""},
        {"open /a.mp2 alias s type mpegVideo style child", mcierr::MissingParameter, "style child parent <window>"},
        {"open /a.mp2 alias s type mpegVideo style popup parent 1", mcierr::UnrecognizedKeyword, "\"popup\""},
        {"open /a.mp2 alias s type mpegVideo style child parent 12x", mcierr::UnrecognizedKeyword, "\"12x\""},
        {"open /a.mp2 alias s type mpegVideo style child parent +12", mcierr::UnrecognizedKeyword, "\"+12\""},
        {"open /a.mp2 alias s type mpegVideo style child parent 99999999999999999999", mcierr::UnrecognizedKeyword,
         "whole number"},
        {"open /a.mp2 alias s type mpegVideo style child parent 1 now", mcierr::UnrecognizedKeyword, "\"now\""},
        {"open /a.mp2 alias s type mpegVideo notify", mcierr::UnrecognizedKeyword, "\"notify\""},
    };
    for (const Rejected& r : cases) {
        SCOPED_TRACE(r.text);
        try {
            ParseCommand(r.text);
            ADD_FAILURE() << "accepted";
        } catch (const MediaError& e) {
            EXPECT_EQ(e.number(), r.number);
            EXPECT_NE(e.description().find(r.mentions), std::string::npos) << e.description();
        }
    }
}

TEST(MediaParser, QuotesAtMostAReadablePieceOfAHugeWord) {
    const std::string word(100000, 'x');
    try {
        ParseCommand(word + " video");
        FAIL() << "accepted";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.number(), mcierr::UnrecognizedCommand);
        EXPECT_LT(e.description().size(), 200u);
    }
}

}  // namespace
}  // namespace calmora::media
