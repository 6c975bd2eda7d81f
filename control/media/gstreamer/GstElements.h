// A look behind a device made by MakeGStreamerEngine, for benches and tests that need what the
// command interface does not show: the sinks (to watch what is rendered) and the frame a buffer
// timestamp stands for.
#pragma once

#include "media/Engine.h"

#include <gst/gst.h>

#include <cstdint>

namespace calmora::media::gstreamer {

struct DeviceElements {
    GstElement* pipeline = nullptr;   // the playbin, or an MP2 sound's own pipeline
    GstElement* videoSink = nullptr;  // nullptr on a device without video
    GstElement* audioSink = nullptr;
};

// Borrowed pointers, valid while the device lives. Throws MediaError(DeviceFailure) for a device of
// another engine.
DeviceElements ElementsOf(Device& device);

// The frame number a video timestamp stands for, counted as PositionFrames counts
// (MediaError(Unsupported) on a device without video).
std::int64_t FrameAt(Device& device, GstClockTime timestamp);

// The frame the video sink holds as its last sample, or -1 while it holds none.
std::int64_t ShownFrame(Device& device);

}  // namespace calmora::media::gstreamer
