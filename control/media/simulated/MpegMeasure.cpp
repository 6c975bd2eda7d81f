#include "media/simulated/MpegMeasure.h"

#include "media/Engine.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace calmora::media {
namespace {

// ---- MPEG audio ----------------------------------------------------------------------------------

struct AudioHeader {
    int version = 0;     // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    int layer = 0;       // 1, 2 or 3
    int sampleRate = 0;  // Hz
    int frameBytes = 0;
    int samples = 0;     // per frame
};

std::optional<AudioHeader> ParseAudioHeader(const std::uint8_t* p) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return std::nullopt;
    AudioHeader h;
    h.version = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    const int padding = (p[2] >> 1) & 1;
    // Free-format bit rates (index 0) give no frame length from the header alone: not measured.
    if (h.version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;
    h.layer = 4 - layerBits;

    static constexpr int kBitrates[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2/2.5 layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG-2/2.5 layers II, III
    };
    static constexpr int kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = h.version == 3;
    const int table = mpeg1 ? h.layer - 1 : (h.layer == 1 ? 3 : 4);
    const int kbps = kBitrates[table][bitrateIndex];
    h.sampleRate = kRates[rateIndex] >> (mpeg1 ? 0 : h.version == 2 ? 1 : 2);
    const int bps = kbps * 1000;
    if (h.layer == 1) {
        h.samples = 384;
        h.frameBytes = (12 * bps / h.sampleRate + padding) * 4;
    } else if (h.layer == 2 || mpeg1) {
        h.samples = 1152;
        h.frameBytes = 144 * bps / h.sampleRate + padding;
    } else {
        h.samples = 576;
        h.frameBytes = 72 * bps / h.sampleRate + padding;
    }
    return h;
}

std::size_t Id3v2Size(std::span<const std::uint8_t> b) {
    if (b.size() < 10 || b[0] != 'I' || b[1] != 'D' || b[2] != '3') return 0;
    for (int i = 6; i < 10; ++i)
        if (b[i] & 0x80) return 0;  // not a sync-safe size: no tag after all
    const std::size_t body = (std::size_t{b[6]} << 21) | (std::size_t{b[7]} << 14) | (std::size_t{b[8]} << 7) | b[9];
    const std::size_t footer = (b[5] & 0x10) ? 10 : 0;
    return 10 + body + footer;
}

// ---- MPEG video ----------------------------------------------------------------------------------

// Frame rates by frame_rate_code, as num/den.
constexpr std::int64_t kRateNum[9] = {0, 24000, 24, 25, 30000, 30, 50, 60000, 60};
constexpr std::int64_t kRateDen[9] = {1, 1001, 1, 1, 1001, 1, 1, 1001, 1};

// Finds start codes in a video elementary stream fed in pieces (packet payloads of a program stream
// split the stream anywhere, start codes included).
class VideoScanner {
public:
    void Feed(const std::uint8_t* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t b = p[i];
            if (wantRateByte_ > 0) {
                if (--wantRateByte_ == 0) rateCode_ = b & 0x0F;
            }
            if ((window_ & 0xFFFFFF) == 0x000001) {
                if (b == 0x00) {
                    ++pictures_;
                } else if (b == 0xB3 && rateCode_ < 0 && wantRateByte_ == 0) {
                    wantRateByte_ = 4;  // 12 bits width, 12 bits height, 4 bits aspect, 4 bits rate
                }
            }
            window_ = (window_ << 8) | b;
        }
    }
    std::optional<MediaLength> Result() const {
        if (rateCode_ < 1 || rateCode_ > 8 || pictures_ == 0) return std::nullopt;
        MediaLength m;
        m.frames = pictures_;
        m.fpsNum = kRateNum[rateCode_];
        m.fpsDen = kRateDen[rateCode_];
        m.lengthMs = VideoLengthMs(m.frames, m.fpsNum, m.fpsDen);
        return m;
    }

private:
    std::uint32_t window_ = 0xFFFFFFFF;
    int wantRateByte_ = 0;
    int rateCode_ = -1;
    std::int64_t pictures_ = 0;
};

bool StartCodeAt(std::span<const std::uint8_t> b, std::size_t i) {
    return i + 4 <= b.size() && b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1;
}

// Feeds the payloads of the first video stream's packets of a program stream to the scanner.
void DemuxProgramStream(std::span<const std::uint8_t> b, VideoScanner& scanner) {
    int videoId = -1;
    std::size_t pos = 0;
    const std::size_t n = b.size();
    while (pos + 4 <= n) {
        if (!StartCodeAt(b, pos)) {  // lost sync: find the next start code
            ++pos;
            continue;
        }
        const std::uint8_t code = b[pos + 3];
        if (code == 0xBA) {  // pack header
            if (pos + 5 > n) break;
            if ((b[pos + 4] & 0xC0) == 0x40) {  // MPEG-2
                if (pos + 14 > n) break;
                pos += 14 + (b[pos + 13] & 0x07);
            } else {  // MPEG-1
                pos += 12;
            }
            continue;
        }
        if (code < 0xBB) {  // not a packet; skip the code and look on
            pos += 4;
            continue;
        }
        // System header, program stream map, padding, audio, video, private streams: all length-prefixed.
        if (pos + 6 > n) break;
        const std::size_t length = (std::size_t{b[pos + 4]} << 8) | b[pos + 5];
        const std::size_t start = pos + 6;
        const std::size_t end = std::min(n, start + length);
        pos = start + length;
        if (code < 0xE0 || code > 0xEF) continue;
        if (videoId < 0) videoId = code;
        if (code != videoId) continue;

        std::size_t p = start;
        if (p < end && (b[p] & 0xC0) == 0x80) {  // MPEG-2 packet header
            if (p + 3 > end) continue;
            p += 3 + b[p + 2];
        } else {  // MPEG-1 packet header: stuffing, buffer size, time stamps
            while (p < end && b[p] == 0xFF) ++p;
            if (p < end && (b[p] & 0xC0) == 0x40) p += 2;
            if (p < end && (b[p] & 0xF0) == 0x20) {
                p += 5;
            } else if (p < end && (b[p] & 0xF0) == 0x30) {
                p += 10;
            } else if (p < end && b[p] == 0x0F) {
                p += 1;
            }
        }
        if (p < end) scanner.Feed(b.data() + p, end - p);
    }
}

// ---- Files ---------------------------------------------------------------------------------------

class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        // Non-blocking: a FIFO under a media name must not hang the UI thread.
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            const int e = errno;
            if (e == ENOENT || e == ENOTDIR || e == ENAMETOOLONG)
                throw MediaError(mcierr::FileNotFound, "The media file \"" + path + "\" does not exist.");
            throw MediaError(mcierr::DeviceFailure, "The media file \"" + path + "\" cannot be read: " + std::strerror(e) + ".");
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
            ::close(fd_);
            throw MediaError(mcierr::NotMediaFile, "\"" + path + "\" is not a media file.");
        }
        size_ = static_cast<std::size_t>(st.st_size);
        void* m = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
        if (m == MAP_FAILED) {
            const int e = errno;
            ::close(fd_);
            throw MediaError(mcierr::DeviceFailure, "The media file \"" + path + "\" cannot be read: " + std::strerror(e) + ".");
        }
        data_ = static_cast<const std::uint8_t*>(m);
        ::madvise(m, size_, MADV_SEQUENTIAL);
    }
    ~MappedFile() {
        ::munmap(const_cast<std::uint8_t*>(data_), size_);
        ::close(fd_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    int fd_ = -1;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace

std::int64_t VideoLengthMs(std::int64_t frames, std::int64_t fpsNum, std::int64_t fpsDen) {
    if (fpsNum <= 0 || frames <= 0) return 0;
    const std::int64_t scaled = frames * 1000 * fpsDen;
    return (scaled + fpsNum - 1) / fpsNum;
}

std::optional<MediaLength> MeasureMpegAudio(std::span<const std::uint8_t> bytes) {
    std::size_t pos = Id3v2Size(bytes);
    std::optional<AudioHeader> first;
    std::int64_t samples = 0;
    while (pos + 4 <= bytes.size()) {
        const auto h = ParseAudioHeader(bytes.data() + pos);
        if (!h || h->frameBytes < 4 || pos + static_cast<std::size_t>(h->frameBytes) > bytes.size()) break;
        if (first && (h->version != first->version || h->layer != first->layer || h->sampleRate != first->sampleRate))
            break;  // not the same stream: trailing data that only looks like a header
        if (!first) first = h;
        samples += h->samples;
        pos += static_cast<std::size_t>(h->frameBytes);
    }
    if (!first) return std::nullopt;
    MediaLength m;
    m.lengthMs = (samples * 1000 + first->sampleRate - 1) / first->sampleRate;
    return m;
}

std::optional<MediaLength> MeasureMpegVideo(std::span<const std::uint8_t> bytes) {
    if (!StartCodeAt(bytes, 0)) return std::nullopt;
    VideoScanner scanner;
    if (bytes[3] == 0xBA) {
        DemuxProgramStream(bytes, scanner);
    } else if (bytes[3] == 0xB3) {
        scanner.Feed(bytes.data(), bytes.size());
    } else {
        return std::nullopt;
    }
    return scanner.Result();
}

MediaLength MeasureMediaFile(const std::string& path) {
    const MappedFile file(path);
    if (auto m = MeasureMpegVideo(file.bytes())) return *m;
    if (auto m = MeasureMpegAudio(file.bytes())) return *m;
    throw MediaError(mcierr::NotMediaFile, "\"" + path + "\" is not an MPEG audio or video file.");
}

}  // namespace calmora::media
