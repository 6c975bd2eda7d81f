// Lengths of MPEG files read from their own headers, for the simulated engine: no decoding, only
// the numbers a player would show.
//
// - MPEG audio (MP2, also layers I and III): walks the frame headers from the start of the file (after
//   an ID3v2 tag, if any) while they follow one another with the same version, layer and sample rate;
//   the length is the sum of the frames' samples over the sample rate, rounded up to whole ms. A frame
//   cut short by the end of the file does not count.
// - MPEG-1/2 video, as an elementary stream (starts with a sequence header) or a program stream
//   (starts with a pack header; only the first video stream's packets are read): the frame rate from
//   the first sequence header, the frame count from the number of picture start codes (0x00000100).
//   Field-coded MPEG-2 pictures count one per field, which the content this plays does not use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace calmora::media {

struct MediaLength {
    std::int64_t lengthMs = 0;
    std::int64_t frames = 0;  // video only
    std::int64_t fpsNum = 0;  // frame rate fpsNum / fpsDen frames per second; 0 for a sound
    std::int64_t fpsDen = 1;
    bool HasVideo() const { return fpsNum > 0; }
    friend bool operator==(const MediaLength&, const MediaLength&) = default;
};

// A video's length in ms from its frame count and rate: rounded up, so that the last frame is reached.
std::int64_t VideoLengthMs(std::int64_t frames, std::int64_t fpsNum, std::int64_t fpsDen);

// nullopt when the bytes are not of that kind (or hold no whole frame / no picture).
std::optional<MediaLength> MeasureMpegAudio(std::span<const std::uint8_t> bytes);
std::optional<MediaLength> MeasureMpegVideo(std::span<const std::uint8_t> bytes);

// Measures a file on disk. Throws MediaError: FileNotFound when there is no such file,
// NotMediaFile when it is not a regular file of either kind, DeviceFailure when it cannot be read.
MediaLength MeasureMediaFile(const std::string& path);

}  // namespace calmora::media
