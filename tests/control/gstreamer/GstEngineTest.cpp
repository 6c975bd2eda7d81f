// The GStreamer engine on real media made by ffmpeg at test time: modes, positions, the end of a
// stream, two devices at once, and the failures an open reports. MP2 sounds play through a short
// pipeline of their own, everything else through playbin; both are checked here. Audio always goes to
// a synced fake sink; the video too, except in the one test that draws into a window of an X server.
#include "media/gstreamer/GstElements.h"
#include "XvfbDisplay.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>


// GLib and GStreamer keep one-time allocations (type system, plug-in registry) until the process
// ends; they are not leaks of the engine.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgstreamer-1.0.so\nleak:/gstreamer-1.0/\n";
}

namespace calmora::media {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr int kVideoFrames = 75;  // 3 s at 25 frames a second
constexpr int kSoundMs = 601;     // 23 MP2 frames of 1152 samples at 44.1 kHz
constexpr int kShortSoundMs = 313;  // 12 MP2 frames

// Generated media in a temporary folder, removed when the tests end.
struct Media {
    fs::path dir;
    std::string video;     // 3 s MPEG-1 video, frame number drawn
    std::string withSound; // 1 s MPEG-1 video with an MP2 sound track
    std::string sound;     // 0.6 s MP2
    std::string shortSound;  // 0.3 s MP2
    std::string cutSound;  // the first 2/5 of the 0.6 s sound's bytes, cut inside a frame
    std::string text;      // not media
    std::string textMp2;   // not media, named as a sound
    std::string noiseMp2;  // random bytes named as a sound
    std::string frameThenNoise;  // one real MP2 frame, then random bytes
    std::string empty;     // no bytes at all
    std::string bad;       // program stream whose video track is PNG pictures: nothing decodes it
    std::string missing;   // does not exist

    Media() {
        dir = fs::temp_directory_path() / ("calmora-gst-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        auto file = [&](const char* name) { return (dir / name).string(); };
        video = file("video.mpg");
        withSound = file("with sound.mpg");
        sound = file("sound.mp2");
        shortSound = file("short.mp2");
        cutSound = file("cut.mp2");
        text = file("notes.mpg");
        textMp2 = file("notes.mp2");
        noiseMp2 = file("noise.mp2");
        frameThenNoise = file("frame then noise.mp2");
        empty = file("empty.mpg");
        bad = file("bad.mpg");
        missing = file("missing.mpg");

        const std::string frames =
            "-f lavfi -i testsrc=size=160x120:rate=25:duration=3 "
            "-vf \"drawtext=fontfile=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf:text='%{frame_num}':"
            "fontsize=60:x=20:y=30:fontcolor=white:box=1:boxcolor=black\" ";
        Ffmpeg(frames + "-c:v mpeg1video -q:v 4 -f mpeg '" + video + "'");
        Ffmpeg("-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -f lavfi -i sine=frequency=440:duration=1 "
               "-c:v mpeg1video -c:a mp2 -f mpeg '" + withSound + "'");
        Ffmpeg("-f lavfi -i sine=frequency=660:duration=0.6 -c:a mp2 '" + sound + "'");
        Ffmpeg("-f lavfi -i sine=frequency=880:duration=0.3 -c:a mp2 '" + shortSound + "'");
        Ffmpeg("-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -f lavfi -i sine=duration=1 "
               "-c:v png -c:a mp2 -f mpeg '" + bad + "'");
        std::ofstream(text) << "Breathe in, lift the arms, breathe out.\n";
        std::ofstream(textMp2) << "Breathe in, lift the arms, breathe out.\n";
        std::ofstream(empty).flush();

        std::ifstream in(sound, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        Write(cutSound, bytes.substr(0, bytes.size() * 2 / 5));
        Write(noiseMp2, Noise(8000));
        // 0.6 s in 23 frames: one frame is the 23rd part, give or take a padding byte.
        Write(frameThenNoise, bytes.substr(0, bytes.size() / 23) + Noise(8000));
    }
    ~Media() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    static std::string Noise(std::size_t size) {
        std::minstd_rand random(7);  // the same bytes on every run
        std::string bytes(size, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(random());
        return bytes;
    }
    static void Write(const std::string& path, std::string_view bytes) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    static void Ffmpeg(const std::string& arguments) {
        std::string command = "ffmpeg -nostdin -v error -y " + arguments;
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("cannot make test media: " + command);
    }
};

const Media& TestMedia() {
    static const Media media;
    return media;
}

class GstEngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::setenv("CALMORA_AUDIO_SINK", "fakesink", 1); }

    std::unique_ptr<Device> Open(const std::string& path, std::int64_t window = 0) {
        return engine_->Open(OpenParams{path, window, window != 0});
    }

    // Polls every millisecond, as the cue timer does, until the condition holds (false after 10 s).
    static bool WaitFor(const std::function<bool()>& condition) {
        auto deadline = SteadyClock::now() + 10s;
        while (!condition()) {
            if (SteadyClock::now() > deadline)
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    const Media& media_ = TestMedia();
    std::unique_ptr<Engine> engine_ = MakeGStreamerEngine();
};

// The timestamp of the last buffer a fake video sink rendered: what a window would show. Made
// before the device, so that the device is closed before the watch goes.
class RenderedFrames {
public:
    RenderedFrames() = default;
    RenderedFrames(const RenderedFrames&) = delete;
    RenderedFrames& operator=(const RenderedFrames&) = delete;
    ~RenderedFrames() {
        if (sink_) {
            g_signal_handler_disconnect(sink_, handler_);
            g_object_set(sink_, "signal-handoffs", FALSE, nullptr);
            gst_object_unref(sink_);
        }
    }

    void Watch(Device& device) {
        device_ = &device;
        sink_ = GST_ELEMENT(gst_object_ref(gstreamer::ElementsOf(device).videoSink));
        g_object_set(sink_, "signal-handoffs", TRUE, nullptr);
        handler_ = g_signal_connect(sink_, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer* buffer, GstPad*, gpointer self) {
                                        static_cast<RenderedFrames*>(self)->last_ = GST_BUFFER_PTS(buffer);
                                    }),
                                    this);
    }
    std::int64_t Last() const {
        GstClockTime last = last_;
        return last == GST_CLOCK_TIME_NONE ? -1 : gstreamer::FrameAt(*device_, last);
    }

private:
    Device* device_ = nullptr;
    GstElement* sink_ = nullptr;
    gulong handler_ = 0;
    std::atomic<GstClockTime> last_{GST_CLOCK_TIME_NONE};
};

// "playbin", or "pipeline" for a sound's own pipeline.
std::string PipelineKind(Device& device) {
    GstElementFactory* factory = gst_element_get_factory(gstreamer::ElementsOf(device).pipeline);
    return factory ? GST_OBJECT_NAME(factory) : "";
}

bool FileIsOpen(const std::string& path) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", error))
        if (fs::read_symlink(entry.path(), error) == path)
            return true;
    return false;
}

TEST(GstEngineDeathTest, MakingTheEngineLeavesGStreamerUninitialisedUntilTheFirstOpen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto engine = MakeGStreamerEngine();
            std::exit(gst_is_initialized() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(GstEngineTest, VideoIsStoppedAfterOpenPlaysHaltsOnTheShownFrameAndStopsAtItsEnd) {
    RenderedFrames rendered;
    auto video = Open(media_.video);
    rendered.Watch(*video);
    EXPECT_EQ(PipelineKind(*video), "playbin");
    EXPECT_EQ(video->GetMode(), Mode::Stopped);
    EXPECT_EQ(video->PositionFrames(), 0);
    EXPECT_EQ(video->PositionMs(), 0);
    video->Pause();
    EXPECT_EQ(video->GetMode(), Mode::Stopped) << "pause before play changes nothing";

    video->Play();
    EXPECT_EQ(video->GetMode(), Mode::Playing) << "playing from the command on, while the state change is pending";
    ASSERT_TRUE(WaitFor([&] { return video->PositionFrames() >= 10; }));
    video->Pause();
    EXPECT_EQ(video->GetMode(), Mode::Paused);
    std::int64_t halted = video->PositionFrames();
    EXPECT_GE(halted, 10);
    std::this_thread::sleep_for(120ms);
    EXPECT_EQ(video->PositionFrames(), halted) << "a paused video stays put";
    EXPECT_EQ(rendered.Last(), halted) << "the frame shown is the frame the position names";
    EXPECT_NEAR(video->PositionMs(), halted * 40, 40);

    video->Play();
    EXPECT_EQ(video->GetMode(), Mode::Playing);
    ASSERT_TRUE(WaitFor([&] { return video->GetMode() == Mode::Stopped; }));
    EXPECT_EQ(video->PositionFrames(), kVideoFrames) << "the position stays at the length";
    EXPECT_NEAR(video->PositionMs(), kVideoFrames * 40, 40);
    EXPECT_EQ(rendered.Last(), kVideoFrames - 1);

    video->Play();
    EXPECT_EQ(video->GetMode(), Mode::Stopped) << "play at the end stays stopped";
    video->Pause();
    EXPECT_EQ(video->GetMode(), Mode::Stopped);
    EXPECT_EQ(video->PositionFrames(), kVideoFrames);
}

TEST_F(GstEngineTest, SoundPlaysForItsLengthThenReadsStopped) {
    auto sound = Open(media_.sound);
    EXPECT_EQ(PipelineKind(*sound), "pipeline") << "an MP2 sound has a pipeline of its own";
    EXPECT_EQ(sound->GetMode(), Mode::Stopped);
    EXPECT_EQ(sound->PositionMs(), 0);
    try {
        sound->PositionFrames();
        ADD_FAILURE() << "a sound has no frames";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.number(), mcierr::Unsupported);
    }

    auto started = SteadyClock::now();
    sound->Play();
    // A sound that read stopped just after play would make the slide show skip a photo.
    EXPECT_EQ(sound->GetMode(), Mode::Playing);
    ASSERT_TRUE(WaitFor([&] { return sound->GetMode() == Mode::Stopped; }));
    auto played = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started);
    EXPECT_GE(played.count(), kSoundMs - 30) << "stopped before its end";
    EXPECT_NEAR(sound->PositionMs(), kSoundMs, 30);
    sound->Play();
    EXPECT_EQ(sound->GetMode(), Mode::Stopped);
}

TEST_F(GstEngineTest, PausedSoundHoldsItsPositionAndResumesFromIt) {
    auto sound = Open(media_.sound);
    sound->Play();
    ASSERT_TRUE(WaitFor([&] { return sound->PositionMs() >= kSoundMs / 2; }));
    sound->Pause();
    EXPECT_EQ(sound->GetMode(), Mode::Paused);
    std::int64_t held = sound->PositionMs();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sound->GetMode(), Mode::Paused);
    EXPECT_EQ(sound->PositionMs(), held) << "a paused sound stays put";

    auto resumed = SteadyClock::now();
    sound->Play();
    EXPECT_EQ(sound->GetMode(), Mode::Playing);
    EXPECT_GE(sound->PositionMs(), held);
    ASSERT_TRUE(WaitFor([&] { return sound->GetMode() == Mode::Stopped; }));
    auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - resumed);
    EXPECT_GE(rest.count(), kSoundMs - held - 30) << "stopped before its end";
    EXPECT_LE(rest.count(), kSoundMs - held + 150) << "played on from where it was held, not from the start";
    EXPECT_NEAR(sound->PositionMs(), kSoundMs, 30);
}

TEST_F(GstEngineTest, TwoSoundsPlayAtOnceEachForItsOwnLength) {
    auto longer = Open(media_.sound);
    auto shorter = Open(media_.shortSound);
    EXPECT_NE(gstreamer::ElementsOf(*longer).pipeline, gstreamer::ElementsOf(*shorter).pipeline);
    longer->Play();
    shorter->Play();
    ASSERT_TRUE(WaitFor([&] { return shorter->GetMode() == Mode::Stopped; }));
    EXPECT_EQ(longer->GetMode(), Mode::Playing) << "the longer sound goes on";
    EXPECT_NEAR(shorter->PositionMs(), kShortSoundMs, 30);
    ASSERT_TRUE(WaitFor([&] { return longer->GetMode() == Mode::Stopped; }));
    EXPECT_NEAR(longer->PositionMs(), kSoundMs, 30);
    EXPECT_NEAR(shorter->PositionMs(), kShortSoundMs, 30) << "the end of the other changes nothing";
}

// Each photo of a slide show closes its sound and opens the next one.
TEST_F(GstEngineTest, SoundOpenedAfterAnotherClosedPlaysForItsOwnLength) {
    auto first = Open(media_.sound);
    GWeakRef pipeline;
    g_weak_ref_init(&pipeline, gstreamer::ElementsOf(*first).pipeline);
    first->Play();
    ASSERT_TRUE(WaitFor([&] { return first->GetMode() == Mode::Stopped; }));
    first.reset();
    EXPECT_FALSE(FileIsOpen(media_.sound));

    auto second = Open(media_.shortSound);
    gpointer before = g_weak_ref_get(&pipeline);
    EXPECT_EQ(before, gstreamer::ElementsOf(*second).pipeline) << "the closed sound's pipeline serves the next one";
    if (before)
        g_object_unref(before);
    g_weak_ref_clear(&pipeline);
    EXPECT_EQ(second->GetMode(), Mode::Stopped);
    EXPECT_EQ(second->PositionMs(), 0);
    second->Play();
    EXPECT_EQ(second->GetMode(), Mode::Playing);
    ASSERT_TRUE(WaitFor([&] { return second->GetMode() == Mode::Stopped; }));
    EXPECT_NEAR(second->PositionMs(), kShortSoundMs, 30);
}

TEST_F(GstEngineTest, SoundCutInsideAFramePlaysWhatItHas) {
    auto cut = Open(media_.cutSound);
    cut->Play();
    ASSERT_TRUE(WaitFor([&] { return cut->GetMode() == Mode::Stopped; }));
    EXPECT_NEAR(cut->PositionMs(), kSoundMs * 2 / 5, 30);
}

TEST_F(GstEngineTest, VideoAndSoundPlayTogetherAndClosingReleasesThem) {
    auto video = Open(media_.video);
    auto sound = Open(media_.sound);
    GWeakRef pipelines[2];
    g_weak_ref_init(&pipelines[0], gstreamer::ElementsOf(*video).pipeline);
    g_weak_ref_init(&pipelines[1], gstreamer::ElementsOf(*sound).pipeline);

    sound->Play();
    video->Play();
    EXPECT_EQ(sound->GetMode(), Mode::Playing);
    EXPECT_EQ(video->GetMode(), Mode::Playing);
    ASSERT_TRUE(WaitFor([&] { return sound->GetMode() == Mode::Stopped; }));
    EXPECT_EQ(video->GetMode(), Mode::Playing) << "the video goes on after the sound";
    EXPECT_GE(video->PositionFrames(), 12);
    EXPECT_TRUE(FileIsOpen(media_.video));

    sound.reset();  // "close all"
    video.reset();
    EXPECT_FALSE(FileIsOpen(media_.video));
    EXPECT_FALSE(FileIsOpen(media_.sound));
    for (GWeakRef& pipeline : pipelines) {
        // Gone, or idle in NULL (no thread, file or decoder) for the next open.
        if (gpointer alive = g_weak_ref_get(&pipeline)) {
            EXPECT_EQ(GST_STATE(alive), GST_STATE_NULL);
            g_object_unref(alive);
        }
        g_weak_ref_clear(&pipeline);
    }

    // Opened again, each takes the idle pipeline its file needs: the sound has no frames, the video
    // counts them from 0.
    sound = Open(media_.sound);
    video = Open(media_.video);
    EXPECT_THROW(sound->PositionFrames(), MediaError);
    EXPECT_EQ(video->PositionFrames(), 0);
    sound->Play();
    video->Play();
    ASSERT_TRUE(WaitFor([&] { return sound->PositionMs() >= 100 && video->PositionFrames() >= 3; }));
}

TEST_F(GstEngineTest, FailedOpensSayWhatIsWrongWithTheFile) {
    struct Case {
        const char* what;
        std::string path;
        int number;
    } cases[] = {
        {"missing file", media_.missing, mcierr::FileNotFound},
        {"text file", media_.text, mcierr::NotMediaFile},
        {"text file named as a sound", media_.textMp2, mcierr::NotMediaFile},
        {"random bytes named as a sound", media_.noiseMp2, mcierr::NotMediaFile},
        {"one sound frame, then random bytes", media_.frameThenNoise, mcierr::NotMediaFile},
        {"empty file", media_.empty, mcierr::NotMediaFile},
        {"folder", media_.dir.string(), mcierr::NotMediaFile},
        {"video that nothing decodes", media_.bad, mcierr::NoDecoder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            Open(c.path);
            ADD_FAILURE() << "opened";
        } catch (const MediaError& e) {
            EXPECT_EQ(e.number(), c.number) << e.what();
            EXPECT_NE(e.description().find(c.path), std::string::npos) << "names the file: " << e.what();
        }
    }
}

// Takes the decoders of a stream out of autoplugging for its lifetime, as on a system without them.
class WithoutDecoders {
public:
    explicit WithoutDecoders(const char* stream) {
        gst_init(nullptr, nullptr);
        GList* decoders = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_NONE);
        GstCaps* mpeg = gst_caps_from_string(stream);
        GList* able = gst_element_factory_list_filter(decoders, mpeg, GST_PAD_SINK, FALSE);
        for (GList* item = able; item; item = item->next) {
            auto* feature = GST_PLUGIN_FEATURE(item->data);
            saved_.emplace_back(GST_PLUGIN_FEATURE(gst_object_ref(feature)), gst_plugin_feature_get_rank(feature));
            gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
        }
        gst_plugin_feature_list_free(able);
        gst_plugin_feature_list_free(decoders);
        gst_caps_unref(mpeg);
    }
    ~WithoutDecoders() {
        for (auto& [feature, rank] : saved_) {
            gst_plugin_feature_set_rank(feature, rank);
            gst_object_unref(feature);
        }
    }
    WithoutDecoders(const WithoutDecoders&) = delete;
    WithoutDecoders& operator=(const WithoutDecoders&) = delete;
    std::size_t Count() const { return saved_.size(); }

private:
    std::vector<std::pair<GstPluginFeature*, guint>> saved_;
};

TEST_F(GstEngineTest, VideoWithoutADecoderFailsToOpenThoughItsSoundWouldPlay) {
    {
        WithoutDecoders hidden("video/mpeg, mpegversion=(int)1, systemstream=(boolean)false");
        ASSERT_GT(hidden.Count(), 0u);
        try {
            Open(media_.withSound);
            ADD_FAILURE() << "opened a video that cannot be shown";
        } catch (const MediaError& e) {
            EXPECT_EQ(e.number(), mcierr::NoDecoder) << e.what();
        }
    }
    auto video = Open(media_.withSound);  // with its decoders back
    video->Play();
    ASSERT_TRUE(WaitFor([&] { return video->PositionFrames() >= 3; }));
}

TEST_F(GstEngineTest, SoundWithoutADecoderFailsToOpen) {
    {
        WithoutDecoders hidden("audio/mpeg, mpegversion=(int)1, layer=(int)2, parsed=(boolean)true");
        ASSERT_GT(hidden.Count(), 0u);
        try {
            Open(media_.sound);
            ADD_FAILURE() << "opened a sound that cannot be decoded";
        } catch (const MediaError& e) {
            EXPECT_EQ(e.number(), mcierr::NoDecoder) << e.what();
        }
    }
    auto sound = Open(media_.sound);  // with its decoders back
    EXPECT_EQ(PipelineKind(*sound), "pipeline");
    sound->Play();
    ASSERT_TRUE(WaitFor([&] { return sound->PositionMs() >= 100; }));
}

TEST_F(GstEngineTest, VideoDrawsIntoTheGivenWindow) {
    calmora::testing::XvfbDisplay server;
    if (!server.available())
        GTEST_SKIP() << server.problem();
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(x));
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> closeX(x, &xcb_disconnect);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    xcb_window_t window = xcb_generate_id(x);
    uint32_t black = screen->black_pixel;
    xcb_create_window(x, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 160, 120, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, &black);
    xcb_map_window(x, window);
    xcb_flush(x);

    auto video = Open(media_.video, window);
    GstElement* sink = gstreamer::ElementsOf(*video).videoSink;
    EXPECT_STREQ(GST_OBJECT_NAME(gst_element_get_factory(sink)), "ximagesink");
    video->Play();
    ASSERT_TRUE(WaitFor([&] { return video->PositionFrames() >= 5; }));
    video->Pause();
    std::this_thread::sleep_for(50ms);

    auto cookie = xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, 160, 120, ~0u);
    std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(xcb_get_image_reply(x, cookie, nullptr), &std::free);
    ASSERT_TRUE(image);
    const uint8_t* pixels = xcb_get_image_data(image.get());
    int length = xcb_get_image_data_length(image.get());
    int lit = 0;
    for (int i = 0; i < length; ++i)
        lit += pixels[i] != 0;
    EXPECT_GT(lit, length / 4) << "the test picture is in the window";

    try {
        Open(media_.video, window + 1000);
        ADD_FAILURE() << "opened into a window that does not exist";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.number(), mcierr::DeviceFailure) << e.what();
    }
}

TEST_F(GstEngineTest, WindowWithoutADisplayPlaysHeadless) {
    const char* before = std::getenv("DISPLAY");
    std::string saved = before ? before : "";
    ::setenv("DISPLAY", ":4093", 1);  // no server there
    auto video = Open(media_.video, 12345);
    if (saved.empty())
        ::unsetenv("DISPLAY");
    else
        ::setenv("DISPLAY", saved.c_str(), 1);
    GstElement* sink = gstreamer::ElementsOf(*video).videoSink;
    EXPECT_STREQ(GST_OBJECT_NAME(gst_element_get_factory(sink)), "fakesink");
    EXPECT_EQ(video->PositionFrames(), 0);
}

}  // namespace
}  // namespace calmora::media
