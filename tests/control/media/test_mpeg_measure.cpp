// Lengths measured from MPEG headers: hand-built bytes for every rule, and one pair of real files
// made by ffmpeg when it is installed.
#include "MediaTestSupport.h"

#include "media/Engine.h"
#include "media/simulated/MpegMeasure.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace calmora::media {
namespace {

using namespace testing;

TEST(MpegMeasure, SumsAudioFramesFromTheirHeaders) {
    Bytes tagged = Id3v2Tag(20);
    Append(tagged, AudioFrames(10));
    Bytes cutShort = AudioFrames(10);
    cutShort.resize(cutShort.size() - 1);
    Bytes trailing = AudioFrames(10);
    Append(trailing, {'T', 'A', 'G', 0xFF, 0xFB, 0x00});
    Bytes mixed = AudioFrames(10);
    Append(mixed, AudioFrames(5, 0xF5, 0x44, 192));  // another stream's header: not this file's

    struct Case {
        std::string name;
        Bytes bytes;
        std::optional<std::int64_t> lengthMs;
    };
    const Case cases[] = {
        {"MPEG-1 layer II 48 kHz", AudioFrames(10), 240},
        {"after an ID3v2 tag", tagged, 240},
        {"last frame cut short", cutShort, 216},
        {"with a trailing tag", trailing, 240},
        {"another stream after it", mixed, 240},
        {"MPEG-2 layer II 24 kHz", AudioFrames(3, 0xF5, 0x44, 192), 144},
        {"44.1 kHz rounds up", AudioFrames(10, 0xFD, 0x80, 417), 262},  // 11520 / 44100 s = 261.2 ms
        {"MPEG-1 layer III 48 kHz", AudioFrames(5, 0xFB, 0x94, 384), 120},
        {"free format", AudioFrames(3, 0xFD, 0x04, 384), std::nullopt},
        {"reserved sample rate", AudioFrames(3, 0xFD, 0x8C, 384), std::nullopt},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o'}, std::nullopt},
        {"empty", Bytes{}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto m = MeasureMpegAudio(c.bytes);
        ASSERT_EQ(m.has_value(), c.lengthMs.has_value());
        if (m) {
            EXPECT_EQ(m->lengthMs, *c.lengthMs);
            EXPECT_FALSE(m->HasVideo());
        }
    }
}

TEST(MpegMeasure, CountsPicturesAndReadsTheFrameRate) {
    Bytes noSequence = VideoStream(5);
    noSequence.erase(noSequence.begin(), noSequence.begin() + 12);  // starts at the group of pictures

    struct Case {
        std::string name;
        Bytes bytes;
        std::optional<MediaLength> expected;
    };
    const Case cases[] = {
        {"elementary, 25 fps", VideoStream(50, 3), MediaLength{2000, 50, 25, 1}},
        {"elementary, 29.97 fps", VideoStream(30, 4), MediaLength{1001, 30, 30000, 1001}},
        {"elementary, 23.976 fps", VideoStream(24, 1), MediaLength{1001, 24, 24000, 1001}},
        {"MPEG-1 program stream, start codes split", ProgramStream(VideoStream(40, 3), 5, false),
         MediaLength{1600, 40, 25, 1}},
        {"MPEG-2 program stream", ProgramStream(VideoStream(40, 5), 7, true), MediaLength{1334, 40, 30, 1}},
        {"no pictures", VideoStream(0), std::nullopt},
        {"no sequence header", noSequence, std::nullopt},
        {"bad frame rate code", VideoStream(5, 0), std::nullopt},
        {"rate code 9", VideoStream(5, 9), std::nullopt},
        {"an audio file", AudioFrames(3), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto m = MeasureMpegVideo(c.bytes);
        ASSERT_EQ(m.has_value(), c.expected.has_value());
        if (m) { EXPECT_EQ(*m, *c.expected); }
    }
}

TEST(MpegMeasure, TellsAMissingFileFromAForeignOne) {
    TempDir dir;
    const std::string sound = dir.Write("a.mp2", AudioFrames(4));
    const std::string video = dir.Write("v.mpg", ProgramStream(VideoStream(10), 100, false));
    EXPECT_EQ(MeasureMediaFile(sound).lengthMs, 96);
    EXPECT_EQ(MeasureMediaFile(video).frames, 10);

    const std::pair<std::string, int> failures[] = {
        {dir.str() + "/none.mp2", mcierr::FileNotFound},
        {dir.str() + "/none/a.mp2", mcierr::FileNotFound},
        {dir.str(), mcierr::NotMediaFile},
        {dir.Write("empty.mp2", Bytes{}), mcierr::NotMediaFile},
        {dir.Write("text.mp2", std::string("ID3 but not really")), mcierr::NotMediaFile},
    };
    for (const auto& [path, number] : failures) {
        SCOPED_TRACE(path);
        try {
            MeasureMediaFile(path);
            ADD_FAILURE() << "measured";
        } catch (const MediaError& e) {
            EXPECT_EQ(e.number(), number) << e.description();
        }
    }
}

// Real encoder output, if an encoder is at hand: the hand-built cases above are the rule book, this
// checks the reading of actual files (padding bits, time stamps in packet headers, B-frames).
TEST(MpegMeasure, ReadsFilesMadeByFfmpeg) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    const std::string sound = dir.str() + "/tone.mp2";
    const std::string video = dir.str() + "/clip.mpg";
    const std::string quiet = " -hide_banner -loglevel error -y ";
    ASSERT_EQ(std::system(("ffmpeg" + quiet + "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 -c:a mp2 -b:a 128k '" +
                           sound + "'").c_str()), 0);
    ASSERT_EQ(std::system(("ffmpeg" + quiet + "-f lavfi -i testsrc=size=176x144:rate=25:duration=2 -c:v mpeg1video -bf 2 -f mpeg '" +
                           video + "'").c_str()), 0);
    const MediaLength s = MeasureMediaFile(sound);
    EXPECT_GE(s.lengthMs, 1000);
    EXPECT_LE(s.lengthMs, 1030);  // whole frames of 1152 samples
    const MediaLength v = MeasureMediaFile(video);
    EXPECT_EQ(v.frames, 50);
    EXPECT_EQ(v.fpsNum, 25);
    EXPECT_EQ(v.lengthMs, 2000);
}

}  // namespace
}  // namespace calmora::media
