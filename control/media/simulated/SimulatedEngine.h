// The simulated media engine: devices that play nothing but keep time by the runtime's clock
// (virtual or real), so that a whole lesson runs in virtual time in milliseconds.
//
// Lengths come from a scenario file, or else from the files' own headers (MpegMeasure.h):
//
//   {"files": {"sound/mp2/a1.mp2": {"duration_ms": 4000},
//              "video/lesson1.mpg": {"frames": 750, "fps": 25},
//              "/opt/calmora/mt.mp2": {"duration_ms": 1500}}}
//
// - A key with a leading "/" is absolute and matches the opened path exactly. Any other key is
//   relative to the resource folder and matches the end of the opened path on a "/" boundary
//   ("sound/mp2/a1.mp2" matches "/r/sound/mp2/a1.mp2", not "/r/sound/mp2/xa1.mp2"). "\" in keys
//   counts as "/". Keys match without regard to letter case, as the content's own file system did;
//   when several keys match, the longest wins, and among equals the one spelt exactly like the path.
// - An entry gives either "duration_ms" (a sound; with "fps" as well, a video of that rate) or
//   "frames" and "fps" (a video; its length is frames / fps, rounded up to whole ms).
// - A listed file plays with those numbers whether or not it exists on disk. A file not listed is
//   measured from its headers; a missing file fails with FileNotFound, any other with NotMediaFile.
//
// A device: "stopped" after open with position 0; time accrues only while it plays; its position is
// the accrued time (frames: accrued ms * fps / 1000, rounded down); once the accrued time reaches the
// length it reads "stopped" with the position held at the length. Play while playing, Pause while
// paused or stopped, and Play at the end change nothing. A sound has no frames (Unsupported).
#pragma once

#include "media/Engine.h"
#include "media/simulated/MpegMeasure.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace calmora::media {

class Scenario {
public:
    // Throws MediaError(DeviceFailure) naming the file and the fault (unreadable, bad JSON, bad entry).
    static Scenario Load(const std::string& path);
    // origin names the text in messages.
    static Scenario Parse(std::string_view json, std::string_view origin = "The media scenario");

    void Add(std::string_view key, const MediaLength& length);
    // The entry for an opened path ("/" separators), or nullptr.
    const MediaLength* Find(std::string_view path) const;
    bool empty() const { return entries_.empty(); }

private:
    struct Entry {
        std::string key;  // "/" separators
        bool absolute = false;
        MediaLength length;
    };
    std::vector<Entry> entries_;
};

class SimulatedEngine : public Engine {
public:
    SimulatedEngine(const Clock& clock, Scenario scenario);
    std::unique_ptr<Device> Open(const OpenParams& params) override;

private:
    struct Measured {
        std::int64_t size = 0;
        std::int64_t mtimeNs = 0;
        MediaLength length;
    };
    const Clock& clock_;
    Scenario scenario_;
    std::map<std::string, Measured, std::less<>> measured_;  // a sound reopened is not read again
};

}  // namespace calmora::media
