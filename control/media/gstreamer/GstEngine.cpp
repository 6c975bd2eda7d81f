// GStreamer playback behind the media engine interface: one pipeline per open device. A bare MP2
// sound goes through a short pipeline of its own (file, parser, decoder, converters, sink) that is
// kept between devices, so that the next photo's sound only names its file and prerolls, in about a
// millisecond; videos and everything else go through playbin, which finds out what a file holds.
//
// The device keeps the mode the commands set (stopped after open, playing from "play" on, paused
// after "pause") instead of reading the pipeline's state, which is in transition for a while after
// each change and still says PLAYING at the end of the stream. The end is read from the bus,
// polled on the caller's thread whenever the device is asked anything: no GLib main loop needed.
#include "media/gstreamer/GstElements.h"

#include <gst/base/gsttypefindhelper.h>
#include <gst/video/videooverlay.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace calmora::media {
namespace {

// playbin flags: video and audio only. The default flags add soft volume, whose volume element and
// pads are never freed (about 2.6 kB per open and close); subtitles are of no use here.
constexpr guint kVideoAndAudio = 0x3;
// A local file prerolls in tens of milliseconds; a pipeline that takes longer is stuck.
constexpr GstClockTime kPrerollLimit = 10 * GST_SECOND;
// Frame timestamps are 90 kHz ticks rounded down to nanoseconds: without a little slack a frame
// that starts exactly at a position would count as the one before.
constexpr GstClockTime kFrameSlack = GST_USECOND;
// MPEG-1 video always carries its rate; this only guards against a stream that does not.
constexpr gint kFallbackFps = 25;
// Enough of a file's head for typefinding to be sure of an MP2 stream: dozens of frames at any bit
// rate.
constexpr std::streamsize kTypefindHead = 64 * 1024;

struct ObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
// An element must be back in NULL before its last reference goes, also when an open fails halfway.
struct ElementRelease {
    void operator()(GstElement* element) const {
        gst_element_set_state(element, GST_STATE_NULL);
        gst_object_unref(element);
    }
};
using ElementPtr = std::unique_ptr<GstElement, ElementRelease>;
using BusPtr = std::unique_ptr<GstBus, ObjectUnref>;
using PadPtr = std::unique_ptr<GstPad, ObjectUnref>;

struct MessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;

struct CapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
using CapsPtr = std::unique_ptr<GstCaps, CapsUnref>;

struct SampleUnref {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};
using SamplePtr = std::unique_ptr<GstSample, SampleUnref>;

struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

std::string_view KlassOf(GstElement* element) {
    GstElementFactory* factory = element ? gst_element_get_factory(element) : nullptr;
    const gchar* klass = factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : nullptr;
    return klass ? klass : "";
}

// A parser or decoder of the video stream: when one of these fails, the video cannot be decoded.
bool IsVideoCodecElement(GstElement* element) {
    std::string_view klass = KlassOf(element);
    return klass.find("Video") != std::string_view::npos &&
           (klass.find("Decoder") != std::string_view::npos || klass.find("Parser") != std::string_view::npos);
}

// An error or warning taken out of a bus message.
struct BusError {
    GQuark domain = 0;
    int code = 0;
    std::string text;
    bool fromVideoCodec = false;  // posted by the video stream's parser or decoder
};

BusError ParseError(GstMessage* message) {
    GError* error = nullptr;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
        gst_message_parse_error(message, &error, nullptr);
    else
        gst_message_parse_warning(message, &error, nullptr);
    BusError result;
    if (error) {
        result.domain = error->domain;
        result.code = error->code;
        result.text = error->message ? error->message : "";
        g_error_free(error);
    }
    if (GST_IS_ELEMENT(GST_MESSAGE_SRC(message)))
        result.fromVideoCodec = IsVideoCodecElement(GST_ELEMENT(GST_MESSAGE_SRC(message)));
    return result;
}

std::string Quoted(std::string_view path) {
    std::string text = "\"";
    text += path;
    text += '"';
    return text;
}

void InitialiseOnce() {
    // Costs tens of milliseconds (seconds with a cold plug-in registry): paid at the first open,
    // never at load.
    static const std::string failure = [] {
        GError* error = nullptr;
        if (gst_init_check(nullptr, nullptr, &error))
            return std::string();
        std::string text = error && error->message ? error->message : "unknown reason";
        g_clear_error(&error);
        return text;
    }();
    if (!failure.empty())
        throw MediaError(mcierr::DeviceFailure, "cannot start GStreamer: " + failure);
}

ElementPtr MakeElement(const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (!element)
        return nullptr;
    return ElementPtr(GST_ELEMENT(gst_object_ref_sink(element)));
}

ElementPtr MakeSyncedFakeSink() {
    // sync on: a headless device still takes real time, so modes and positions stay true.
    ElementPtr sink = MakeElement("fakesink");
    if (!sink)
        throw MediaError(mcierr::DeviceFailure, "GStreamer has no fakesink element");
    g_object_set(sink.get(), "sync", TRUE, nullptr);
    return sink;
}

bool Usable(const char* factory) {
    ElementPtr sink = MakeElement(factory);
    if (!sink)
        return false;
    bool ok = gst_element_set_state(sink.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    gst_element_set_state(sink.get(), GST_STATE_NULL);
    return ok;
}

// The audio output, chosen once: autoaudiosink would find the same after several failures, each
// with a warning; without a sound card a synced fake sink keeps the timing of sounds. Nothing is
// reported to the user about the choice. CALMORA_AUDIO_SINK names a sink to use instead.
const std::string& AudioSinkFactory() {
    static const std::string factory = []() -> std::string {
        if (const char* forced = std::getenv("CALMORA_AUDIO_SINK"); forced && *forced) {
            if (GstElementFactory* found = gst_element_factory_find(forced)) {
                gst_object_unref(found);
                return forced;
            }
        }
        for (const char* candidate : {"pulsesink", "alsasink"})
            if (Usable(candidate))
                return candidate;
        return "fakesink";
    }();
    return factory;
}

ElementPtr MakeAudioSink() {
    const std::string& factory = AudioSinkFactory();
    if (factory == "fakesink")
        return MakeSyncedFakeSink();
    if (ElementPtr sink = MakeElement(factory.c_str()))
        return sink;
    return MakeSyncedFakeSink();
}

// Whether the file is a bare MPEG audio Layer II stream (the lessons' .mp2 sounds): it starts with a
// Layer II frame header, and GStreamer's typefinding, run on its head with its extension as playbin
// runs it, names it so. Tags before the first frame, other media and files that are no media at all
// are left to playbin, which opens them, or refuses them, as it always has.
bool IsBareMp2(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string head(static_cast<std::size_t>(kTypefindHead), '\0');
    file.read(head.data(), kTypefindHead);
    head.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    // Frame sync (11 bits set), then the layer bits: 10 is Layer II.
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    if (head.size() < 4 || byte(0) != 0xFF || (byte(1) & 0xE0) != 0xE0 || (byte(1) & 0x06) != 0x04)
        return false;
    std::string extension = std::filesystem::path(path).extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    CapsPtr caps(gst_type_find_helper_for_data_with_extension(
        nullptr, reinterpret_cast<const guint8*>(head.data()), head.size(), extension.empty() ? nullptr : extension.c_str(),
        nullptr));
    if (!caps || gst_caps_is_empty(caps.get()))
        return false;
    const GstStructure* format = gst_caps_get_structure(caps.get(), 0);
    gint version = 0, layer = 0;
    return gst_structure_has_name(format, "audio/mpeg") && gst_structure_get_int(format, "mpegversion", &version) &&
           version == 1 && gst_structure_get_int(format, "layer", &layer) && layer == 2;
}

// The decoder playbin plugs after the parser for MP2: of those taking parsed Layer II at marginal rank
// or above, the highest ranked, ties going by name, as decodebin orders them (avdec_mp2float here).
// nullptr when there is none.
ElementPtr MakeMp2Decoder() {
    GList* decoders = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
    CapsPtr parsed(gst_caps_from_string("audio/mpeg, mpegversion=(int)1, layer=(int)2, parsed=(boolean)true"));
    GList* able = g_list_sort(gst_element_factory_list_filter(decoders, parsed.get(), GST_PAD_SINK, FALSE),
                              gst_plugin_feature_rank_compare_func);
    ElementPtr decoder;
    for (GList* item = able; item && !decoder; item = item->next) {
        if (GstElement* made = gst_element_factory_create(GST_ELEMENT_FACTORY(item->data), nullptr))
            decoder.reset(GST_ELEMENT(gst_object_ref_sink(made)));
    }
    gst_plugin_feature_list_free(able);
    gst_plugin_feature_list_free(decoders);
    return decoder;
}

// The video's own window: a child of the window the open command names, covering it from its
// top-left corner. The sink draws here rather than into the parent, whose owner paints it (photos,
// background): X keeps that painting off a child window, so a frame held at a cue survives the parent's
// repaints, and destroying the child on close uncovers the parent, which then repaints itself instead
// of staying black. The window belongs to its own connection and goes with it.
class VideoWindow {
public:
    // nullptr when there is no display. Throws MediaError when the parent does not exist (a request on
    // a missing window would end the whole process from Xlib's default error handler; xcb reports it).
    static std::unique_ptr<VideoWindow> Create(std::int64_t parent) {
        if (parent <= 0 || parent > std::numeric_limits<std::uint32_t>::max())
            throw MediaError(mcierr::DeviceFailure, "there is no window " + std::to_string(parent) + " to show the video in");
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection)) {
            xcb_disconnect(connection);
            return nullptr;
        }
        auto window = std::make_unique<VideoWindow>(connection);
        xcb_generic_error_t* error = nullptr;
        auto* geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, static_cast<xcb_window_t>(parent)), &error);
        std::free(error);
        if (!geometry)
            throw MediaError(mcierr::DeviceFailure, "there is no window " + std::to_string(parent) + " to show the video in");
        const std::uint16_t width = geometry->width;
        const std::uint16_t height = geometry->height;
        std::free(geometry);
        window->id_ = xcb_generate_id(connection);
        // No background: nothing is painted over the video's last frame.
        const std::uint32_t values[] = {XCB_BACK_PIXMAP_NONE};
        auto cookie = xcb_create_window_checked(connection, XCB_COPY_FROM_PARENT, window->id_,
                                                static_cast<xcb_window_t>(parent), 0, 0, width, height, 0,
                                                XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                                                XCB_CW_BACK_PIXMAP, values);
        if (xcb_generic_error_t* failed = xcb_request_check(connection, cookie)) {
            std::free(failed);
            throw MediaError(mcierr::DeviceFailure, "cannot make a video window in window " + std::to_string(parent));
        }
        xcb_map_window(connection, window->id_);
        xcb_flush(connection);
        return window;
    }

    explicit VideoWindow(xcb_connection_t* connection) : connection_(connection) {}
    ~VideoWindow() {
        if (id_) xcb_destroy_window(connection_, id_);
        xcb_flush(connection_);
        xcb_disconnect(connection_);
    }
    VideoWindow(const VideoWindow&) = delete;
    VideoWindow& operator=(const VideoWindow&) = delete;

    std::uint32_t id() const { return id_; }

private:
    xcb_connection_t* connection_;
    std::uint32_t id_ = 0;
};

// ximagesink drawing into the given native window, or nullptr when there is no display. The handle
// must reach the sink before preroll; xvimagesink is not used because it fails under Xvfb.
ElementPtr MakeWindowSink(std::uint32_t window) {
    ElementPtr sink = MakeElement("ximagesink");
    if (!sink || gst_element_set_state(sink.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE)
        return nullptr;
    // When paused, the sink would show the next frame as its preroll; the picture must stay on the
    // frame where the video was halted.
    g_object_set(sink.get(), "show-preroll-frame", FALSE, nullptr);
    gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(sink.get()), static_cast<guintptr>(window));
    return sink;
}

// Keeps only what devices read from the bus; the rest (state changes, tags, QoS, stream status)
// would pile up between two polls. A dropped message is the handler's to free.
GstBusSyncReply KeepWhatDevicesRead(GstBus*, GstMessage* message, gpointer) {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_WARNING:
    case GST_MESSAGE_ASYNC_DONE:
        return GST_BUS_PASS;
    case GST_MESSAGE_ELEMENT:
        if (gst_message_has_name(message, "missing-plugin"))
            return GST_BUS_PASS;
        break;
    default:
        break;
    }
    gst_message_unref(message);
    return GST_BUS_DROP;
}

// What a pipeline is built for: any file through playbin, or a bare MP2 sound.
enum class Route { Playbin, Sound };

// A pipeline with its sinks. Members go in reverse order: the bus, then the pipeline (to NULL), then
// the sinks, and last the window the video sink drew in.
struct Pipeline {
    Route route = Route::Playbin;
    std::unique_ptr<VideoWindow> window;
    ElementPtr videoSink;  // playbin only
    ElementPtr audioSink;
    ElementPtr element;    // the playbin, or the sound's own pipeline
    GstElement* source = nullptr;  // the sound's filesrc, held by its pipeline
    BusPtr bus;
    bool headless = false;
};

// Idle headless pipelines for the next opens. playbin builds its lists of decoders and sinks the
// first time it plugs a stream, which is most of what an open costs (a new pipeline prerolls two
// to three times slower than one used before); a sound pipeline is built once and then only told
// its next file. A sound opened just after the previous one was closed (each photo of a slide show)
// takes that one's pipeline. Only pipelines back in NULL wait here: no file, thread, decoder or
// buffer is held. A device with a window always gets a pipeline of its own, freed on close.
class PipelinePool {
public:
    // A pipeline for the route; for Route::Sound an empty one when this system cannot build it (no
    // parser or decoder for MP2), and the sound then goes through playbin.
    Pipeline Take(Route route, std::int64_t window) {
        if (window == 0) {
            auto idle = std::find_if(idle_.begin(), idle_.end(), [route](const Pipeline& p) { return p.route == route; });
            if (idle != idle_.end()) {
                Pipeline pipeline = std::move(*idle);
                idle_.erase(idle);
                return pipeline;
            }
        }
        return route == Route::Sound ? MakeSound() : MakePlaybin(window);
    }

    void Give(Pipeline pipeline) {
        if (!pipeline.element)
            return;
        bool idle = gst_element_set_state(pipeline.element.get(), GST_STATE_NULL) == GST_STATE_CHANGE_SUCCESS;
        while (MessagePtr stale{gst_bus_pop(pipeline.bus.get())}) {
        }
        if (idle && pipeline.headless && Idle(pipeline.route) < kIdleLimit)
            idle_.push_back(std::move(pipeline));
    }

private:
    // Of each route: enough for the devices a lesson has open at once (a video and a sound), or a
    // test (two sounds).
    static constexpr std::ptrdiff_t kIdleLimit = 2;

    std::ptrdiff_t Idle(Route route) const {
        return std::count_if(idle_.begin(), idle_.end(), [route](const Pipeline& p) { return p.route == route; });
    }

    static void WatchBus(Pipeline& pipeline) {
        pipeline.bus.reset(gst_element_get_bus(pipeline.element.get()));
        gst_bus_set_sync_handler(pipeline.bus.get(), KeepWhatDevicesRead, nullptr, nullptr);
    }

    static Pipeline MakePlaybin(std::int64_t window) {
        Pipeline pipeline;
        pipeline.element = MakeElement("playbin");
        if (!pipeline.element)
            throw MediaError(mcierr::DeviceFailure, "GStreamer has no playbin element");
        WatchBus(pipeline);
        if (window != 0) {
            pipeline.window = VideoWindow::Create(window);
            if (pipeline.window) pipeline.videoSink = MakeWindowSink(pipeline.window->id());
            if (!pipeline.videoSink) pipeline.window.reset();
        }
        pipeline.headless = !pipeline.videoSink;
        if (!pipeline.videoSink)
            pipeline.videoSink = MakeSyncedFakeSink();
        pipeline.audioSink = MakeAudioSink();
        g_object_set(pipeline.element.get(), "flags", kVideoAndAudio, "video-sink", pipeline.videoSink.get(),
                     "audio-sink", pipeline.audioSink.get(), nullptr);
        return pipeline;
    }

    // What playbin would build for an MP2 file, without the typefinding and autoplugging: the same
    // parser and decoder, the converters its audio sink bin puts in front of the sink, the same sink.
    static Pipeline MakeSound() {
        ElementPtr source = MakeElement("filesrc");
        ElementPtr parser = MakeElement("mpegaudioparse");
        ElementPtr decoder = MakeMp2Decoder();
        ElementPtr convert = MakeElement("audioconvert");
        ElementPtr resample = MakeElement("audioresample");
        Pipeline pipeline;
        pipeline.element = MakeElement("pipeline");
        if (!source || !parser || !decoder || !convert || !resample || !pipeline.element)
            return {};
        pipeline.route = Route::Sound;
        pipeline.headless = true;
        pipeline.audioSink = MakeAudioSink();
        GstElement* chain[] = {source.get(), parser.get(), decoder.get(), convert.get(), resample.get(), pipeline.audioSink.get()};
        for (GstElement* part : chain)
            gst_bin_add(GST_BIN(pipeline.element.get()), part);
        for (std::size_t i = 1; i < std::size(chain); ++i)
            if (!gst_element_link(chain[i - 1], chain[i]))
                return {};
        pipeline.source = source.get();
        WatchBus(pipeline);
        return pipeline;
    }

    std::vector<Pipeline> idle_;
};

class GstDevice final : public Device {
public:
    GstDevice(const OpenParams& params, const std::shared_ptr<PipelinePool>& pool) : path_(params.path), pool_(pool) {
        CheckFile();
        GError* uriError = nullptr;
        GCharPtr uri(gst_filename_to_uri(path_.c_str(), &uriError));
        if (!uri) {
            std::string text = uriError && uriError->message ? uriError->message : "bad path";
            g_clear_error(&uriError);
            throw MediaError(mcierr::DeviceFailure, "cannot open " + Quoted(path_) + ": " + text);
        }
        // A sound with a window to draw in is left to playbin, which gives every device with a window
        // its own child window.
        if (params.parentWindow == 0 && IsBareMp2(path_) && OpenSound(*pool))
            return;
        p_ = pool->Take(Route::Playbin, params.parentWindow);
        g_object_set(p_.element.get(), "uri", uri.get(), nullptr);
        Preroll();
    }

    // Closing: the pipeline goes to NULL, which ends its threads and frees the file, decoders and
    // buffers; a headless one then waits in the pool for the next open.
    ~GstDevice() override {
        if (auto pool = pool_.lock())
            pool->Give(std::move(p_));
    }

    GstDevice(const GstDevice&) = delete;
    GstDevice& operator=(const GstDevice&) = delete;

    void Play() override {
        Poll();
        if (!failure_.empty())
            throw MediaError(mcierr::DeviceFailure, failure_);
        if (ended_ || mode_ == Mode::Playing)
            return;
        if (gst_element_set_state(p_.element.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            throw MediaError(mcierr::DeviceFailure, "cannot play " + Quoted(path_) + TakeErrorText());
        mode_ = Mode::Playing;
    }

    void Pause() override {
        Poll();
        if (mode_ != Mode::Playing)
            return;
        if (gst_element_set_state(p_.element.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
            throw MediaError(mcierr::DeviceFailure, "cannot pause " + Quoted(path_) + TakeErrorText());
        mode_ = Mode::Paused;
    }

    Mode GetMode() override {
        Poll();
        return mode_;
    }

    std::int64_t PositionMs() override {
        Poll();
        return static_cast<std::int64_t>(Elapsed() / GST_MSECOND);
    }

    std::int64_t PositionFrames() override {
        Poll();
        std::int64_t frames = FramesIn(Elapsed());
        // The clock passes a frame's time a little before the sink has woken up and drawn it: while
        // playing, never count a frame the sink has not shown yet, so that a video halted at a
        // frame number shows that frame. The sink is asked only when the count moves past the
        // frame last seen drawn: once per frame, not on every poll.
        if (mode_ == Mode::Playing && !ended_ && frames > seenDrawn_) {
            std::int64_t shown = ShownFrame();
            if (shown >= 0) {
                seenDrawn_ = std::max(seenDrawn_, shown);
                frames = std::min(frames, shown);
            }
        }
        return frames;
    }

    gstreamer::DeviceElements Elements() const {
        return {p_.element.get(), hasVideo_ ? p_.videoSink.get() : nullptr, p_.audioSink.get()};
    }

    std::int64_t FrameAt(GstClockTime timestamp) const {
        return FramesIn(timestamp > start_ ? timestamp - start_ : 0);
    }

    std::int64_t ShownFrame() const {
        if (!hasVideo_)
            throw MediaError(mcierr::Unsupported, Quoted(path_) + " has no video");
        GstSample* raw = nullptr;
        g_object_get(p_.videoSink.get(), "last-sample", &raw, nullptr);
        SamplePtr sample(raw);
        GstBuffer* buffer = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
        if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer))
            return -1;
        return FrameAt(GST_BUFFER_PTS(buffer));
    }

private:
    void CheckFile() const {
        std::error_code error;
        auto status = std::filesystem::status(path_, error);
        if (!std::filesystem::exists(status))
            throw MediaError(mcierr::FileNotFound, "cannot find the media file " + Quoted(path_));
        if (!std::filesystem::is_regular_file(status))
            throw MediaError(mcierr::NotMediaFile, Quoted(path_) + " is not a media file");
    }

    // What bringing the pipeline to PAUSED came to.
    struct PrerollOutcome {
        GstStateChangeReturn change = GST_STATE_CHANGE_FAILURE;
        bool done = false;  // PAUSED with the first frame (or sound) ready
        std::optional<BusError> error;
        std::string missingVideo, missingAudio, missingOther;  // caps of streams without a decoder
    };

    // Brings the pipeline to PAUSED and waits for its first frame (or sound), a failure, or the limit.
    PrerollOutcome AwaitPreroll() {
        PrerollOutcome outcome;
        outcome.change = gst_element_set_state(p_.element.get(), GST_STATE_PAUSED);
        outcome.done = outcome.change == GST_STATE_CHANGE_SUCCESS || outcome.change == GST_STATE_CHANGE_NO_PREROLL;
        gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(kPrerollLimit / GST_USECOND);
        auto wanted = static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ELEMENT);
        while (!outcome.done && !outcome.error) {
            gint64 left = outcome.change == GST_STATE_CHANGE_FAILURE ? 0 : deadline - g_get_monotonic_time();
            if (left < 0)
                break;
            MessagePtr message(gst_bus_timed_pop_filtered(p_.bus.get(), static_cast<GstClockTime>(left) * GST_USECOND, wanted));
            if (!message)
                break;
            switch (GST_MESSAGE_TYPE(message.get())) {
            case GST_MESSAGE_ERROR:
                outcome.error = ParseError(message.get());
                break;
            case GST_MESSAGE_ASYNC_DONE:
                outcome.done = true;
                break;
            default:
                NoteMissingDecoder(message.get(), outcome.missingVideo, outcome.missingAudio, outcome.missingOther);
                break;
            }
        }
        return outcome;
    }

    // Opens a bare MP2 sound in a sound pipeline: false, with nothing held, when this system has none
    // or the file does not preroll there as sound (a broken stream, say); playbin then opens it or
    // says what is wrong with it, in the words it always has.
    bool OpenSound(PipelinePool& pool) {
        p_ = pool.Take(Route::Sound, 0);
        if (!p_.element)
            return false;
        g_object_set(p_.source, "location", path_.c_str(), nullptr);
        PrerollOutcome outcome = AwaitPreroll();
        // Caps on the sink: decoded sound reached it, rather than an end with nothing before it.
        PadPtr pad(gst_element_get_static_pad(p_.audioSink.get(), "sink"));
        CapsPtr caps(outcome.done && !outcome.error && pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
        if (!caps) {
            pool.Give(std::exchange(p_, Pipeline{}));
            return false;
        }
        StartCounting(p_.audioSink.get());
        return true;
    }

    // Brings a playbin to PAUSED with its first frame (or sound) ready, and turns whatever went
    // wrong into the open's failure.
    void Preroll() {
        const PrerollOutcome outcome = AwaitPreroll();
        if (!outcome.missingVideo.empty())
            throw MediaError(mcierr::NoDecoder, "no decoder here for the video of " + Quoted(path_) + " (" + outcome.missingVideo + ")");
        if (outcome.error)
            Fail(*outcome.error, outcome.missingAudio, outcome.missingOther);
        if (!outcome.done)
            throw MediaError(mcierr::DeviceFailure,
                             outcome.change == GST_STATE_CHANGE_FAILURE ? "cannot open " + Quoted(path_)
                                                                        : Quoted(path_) + " did not get ready to play in time");

        gint videoStreams = 0;
        g_object_get(p_.element.get(), "n-video", &videoStreams, nullptr);
        PadPtr pad(gst_element_get_static_pad(p_.videoSink.get(), "sink"));
        CapsPtr caps(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
        const GstStructure* format = caps && !gst_caps_is_empty(caps.get()) ? gst_caps_get_structure(caps.get(), 0) : nullptr;
        hasVideo_ = format && gst_structure_has_name(format, "video/x-raw");
        // A video stream that never reached the sink as pictures has no working decoder, even when the
        // sound of the file would play on.
        if (videoStreams > 0 && !hasVideo_)
            throw MediaError(mcierr::NoDecoder, "no decoder here for the video of " + Quoted(path_));
        if (hasVideo_ && (!gst_structure_get_fraction(format, "framerate", &fpsNum_, &fpsDen_) || fpsNum_ <= 0 || fpsDen_ <= 0)) {
            fpsNum_ = kFallbackFps;
            fpsDen_ = 1;
        }
        StartCounting(hasVideo_ ? p_.videoSink.get() : p_.audioSink.get());
    }

    // Positions do not start at 0 but at the stream's first timestamp: count from there, as read from
    // the sink that plays the device's own stream.
    void StartCounting(GstElement* clockSink) {
        clockSink_ = clockSink;
        start_ = QueryPosition().value_or(0);
        last_ = start_;
    }

    static void NoteMissingDecoder(GstMessage* message, std::string& video, std::string& audio, std::string& other) {
        const GstStructure* info = gst_message_get_structure(message);
        const gchar* type = gst_structure_get_string(info, "type");
        if (!type || std::string_view(type) != "decoder")
            return;
        GstCaps* detail = nullptr;
        if (!gst_structure_get(info, "detail", GST_TYPE_CAPS, &detail, nullptr) || !detail)
            return;
        CapsPtr caps(detail);
        if (gst_caps_is_empty(caps.get()))
            return;
        std::string_view name = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
        std::string& slot = name.starts_with("video/") ? video : name.starts_with("audio/") ? audio : other;
        if (slot.empty())
            slot = name;
    }

    [[noreturn]] void Fail(const BusError& error, const std::string& missingAudio, const std::string& missingOther) const {
        const std::string file = Quoted(path_);
        if (error.domain == GST_RESOURCE_ERROR && error.code == GST_RESOURCE_ERROR_NOT_FOUND)
            throw MediaError(mcierr::FileNotFound, "cannot find the media file " + file);
        if (error.fromVideoCodec)
            throw MediaError(mcierr::NoDecoder, "the video of " + file + " cannot be decoded here (" + error.text + ")");
        bool missingPlugin = (error.domain == GST_CORE_ERROR && error.code == GST_CORE_ERROR_MISSING_PLUGIN) ||
                             (error.domain == GST_STREAM_ERROR && error.code == GST_STREAM_ERROR_CODEC_NOT_FOUND);
        if (missingPlugin && !missingAudio.empty())
            throw MediaError(mcierr::NoDecoder, "no decoder here for the sound of " + file + " (" + missingAudio + ")");
        if (missingPlugin || !missingOther.empty() ||
            (error.domain == GST_STREAM_ERROR &&
             (error.code == GST_STREAM_ERROR_TYPE_NOT_FOUND || error.code == GST_STREAM_ERROR_WRONG_TYPE)))
            throw MediaError(mcierr::NotMediaFile, file + " is not a media file");
        throw MediaError(mcierr::DeviceFailure, "cannot play " + file + ": " + error.text);
    }

    // Reads the end or a failure of playback from the bus. Called before every answer.
    void Poll() {
        auto wanted = static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
        while (MessagePtr message{gst_bus_pop_filtered(p_.bus.get(), wanted)}) {
            if (ended_)
                continue;
            if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR)
                failure_ = "playback of " + Quoted(path_) + " failed: " + ParseError(message.get()).text;
            // The position stays where the stream ended.
            end_ = std::max(QueryPosition().value_or(last_), last_);
            ended_ = true;
            mode_ = Mode::Stopped;
        }
    }

    std::string TakeErrorText() {
        MessagePtr message(gst_bus_pop_filtered(p_.bus.get(), GST_MESSAGE_ERROR));
        return message ? ": " + ParseError(message.get()).text : std::string();
    }

    std::optional<GstClockTime> QueryPosition() const {
        // The sink answers in a fraction of a microsecond, the whole pipeline in a few; frame-format
        // queries run several frames ahead on this stack and are never used.
        gint64 position = -1;
        if (gst_element_query_position(clockSink_, GST_FORMAT_TIME, &position) && position >= 0)
            return static_cast<GstClockTime>(position);
        if (gst_element_query_position(p_.element.get(), GST_FORMAT_TIME, &position) && position >= 0)
            return static_cast<GstClockTime>(position);
        return std::nullopt;
    }

    // Time played since the first frame or sample.
    GstClockTime Elapsed() {
        if (!ended_) {
            if (auto position = QueryPosition())
                last_ = *position;
        }
        GstClockTime now = ended_ ? end_ : last_;
        return now > start_ ? now - start_ : 0;
    }

    std::int64_t FramesIn(GstClockTime elapsed) const {
        if (!hasVideo_)
            throw MediaError(mcierr::Unsupported, Quoted(path_) + " has no video: it has no frame positions");
        return static_cast<std::int64_t>(gst_util_uint64_scale(elapsed + kFrameSlack, static_cast<guint64>(fpsNum_),
                                                               static_cast<guint64>(fpsDen_) * GST_SECOND));
    }

    std::string path_;
    std::weak_ptr<PipelinePool> pool_;
    Pipeline p_;
    GstElement* clockSink_ = nullptr;  // the sink whose position is the device's position
    bool hasVideo_ = false;
    gint fpsNum_ = 0;
    gint fpsDen_ = 1;
    GstClockTime start_ = 0;  // position at preroll
    GstClockTime last_ = 0;   // last position read
    GstClockTime end_ = 0;    // position at the end of the stream
    std::int64_t seenDrawn_ = -1;  // highest frame seen in the sink while playing
    bool ended_ = false;
    std::string failure_;  // why playback stopped, when it failed
    Mode mode_ = Mode::Stopped;
};

class GstEngine final : public Engine {
public:
    std::unique_ptr<Device> Open(const OpenParams& params) override {
        InitialiseOnce();
        if (!pool_)
            pool_ = std::make_shared<PipelinePool>();
        return std::make_unique<GstDevice>(params, pool_);
    }

private:
    std::shared_ptr<PipelinePool> pool_;  // devices outliving the engine free their pipelines themselves
};

GstDevice& AsGstDevice(Device& device) {
    auto* gst = dynamic_cast<GstDevice*>(&device);
    if (!gst)
        throw MediaError(mcierr::DeviceFailure, "not a GStreamer device");
    return *gst;
}

}  // namespace

std::unique_ptr<Engine> MakeGStreamerEngine() {
    return std::make_unique<GstEngine>();
}

namespace gstreamer {

DeviceElements ElementsOf(Device& device) {
    return AsGstDevice(device).Elements();
}

std::int64_t FrameAt(Device& device, GstClockTime timestamp) {
    return AsGstDevice(device).FrameAt(timestamp);
}

std::int64_t ShownFrame(Device& device) {
    return AsGstDevice(device).ShownFrame();
}

}  // namespace gstreamer
}  // namespace calmora::media
