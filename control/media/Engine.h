// The engine behind the media command interface: one Device per open alias. The interpreter
// (Interpreter.h) turns command texts into calls on these; engines know nothing of command texts.
// All calls come on the UI thread.
#pragma once

#include <calmora/Error.h>
#include <calmora/Runtime.h>

#include <cstdint>
#include <memory>
#include <string>

namespace calmora::media {

enum class Mode { Stopped, Playing, Paused };

// A failing command or query: a number (below) and a message in our own words, naming the file or
// alias where there is one.
class MediaError : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

namespace mcierr {
inline constexpr int UnrecognizedKeyword = 259;
inline constexpr int UnrecognizedCommand = 261;
inline constexpr int DeviceFailure = 262;       // the engine failed while playing or opening
inline constexpr int UnknownAlias = 263;        // no device open under that alias
inline constexpr int Unsupported = 274;         // the device cannot do that (frames on a sound)
inline constexpr int FileNotFound = 275;
inline constexpr int NoDecoder = 266;           // a media file whose stream has no decoder here
inline constexpr int AliasInUse = 289;
inline constexpr int NotMediaFile = 296;
inline constexpr int MissingParameter = 417;
}  // namespace mcierr

struct OpenParams {
    std::string path;              // file-system path, already resolved ("/" separators)
    std::int64_t parentWindow = 0; // "style child parent <h>": native window to draw the video in
    bool child = false;            // "style child" was given
};

class Device {
public:
    virtual ~Device() = default;  // closes the device and frees what it holds
    // Starts or resumes; while playing: no change; at the end: stays stopped.
    virtual void Play() = 0;
    // Pauses; while paused or stopped: no change.
    virtual void Pause() = 0;
    // Stopped after open and once the end is reached; Playing from Play on; Paused after Pause.
    virtual Mode GetMode() = 0;
    // Milliseconds from the start of the media; stays at the length at the end.
    virtual std::int64_t PositionMs() = 0;
    // Frames from the first frame; throws MediaError(Unsupported) on a device without video.
    virtual std::int64_t PositionFrames() = 0;
};

class Engine {
public:
    virtual ~Engine() = default;
    // Throws MediaError: FileNotFound, NotMediaFile, NoDecoder, DeviceFailure.
    virtual std::unique_ptr<Device> Open(const OpenParams& params) = 0;
};

// Devices driven by the runtime's clock; lengths from the scenario file (may be empty) or from the
// files' own headers. See SimulatedEngine.h.
std::unique_ptr<Engine> MakeSimulatedEngine(const Clock& clock, const std::string& scenarioPath);
// GStreamer playback; initialises GStreamer at its first Open.
std::unique_ptr<Engine> MakeGStreamerEngine();

}  // namespace calmora::media
