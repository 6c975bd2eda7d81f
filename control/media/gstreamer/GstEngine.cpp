#include "media/Engine.h"

namespace calmora::media {

std::unique_ptr<Engine> MakeGStreamerEngine() {
    throw MediaError(mcierr::DeviceFailure, "the GStreamer engine is not built yet");
}

}  // namespace calmora::media
