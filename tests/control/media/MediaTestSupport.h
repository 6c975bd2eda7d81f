// Test doubles and builders shared by the media tests: a manual clock, a forms runtime that only
// records message boxes, a temporary folder, and tiny MPEG files built byte by byte.
#pragma once

#include <calmora/Runtime.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace calmora::media::testing {

using Bytes = std::vector<std::uint8_t>;

class ManualClock : public Clock {
public:
    std::int64_t nowMs() const override { return now; }
    void Advance(std::int64_t ms) { now += ms; }
    std::int64_t now = 0;
};

// Records message boxes; onMsgBox runs inside each box, as the pending events a modal box processes.
class FakeForms : public Forms {
public:
    struct Box {
        std::string prompt;
        std::string title;
    };

    std::unique_ptr<Timer> CreateTimer(std::string_view, int, bool, std::function<void()>) override {
        throw std::logic_error("no timers in the media tests");
    }
    std::unique_ptr<PictureBox> CreatePictureBox(std::string_view, Rect) override {
        throw std::logic_error("no picture boxes in the media tests");
    }
    void MsgBox(std::string_view prompt, std::string_view title) override {
        boxes.push_back({std::string(prompt), std::string(title)});
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        if (onMsgBox) onMsgBox();
        --depth;
    }
    void DoEvents() override {
        if (onMsgBox) onMsgBox();
    }
    std::string AppPath() const override { return "/nonexistent"; }
    const Clock& clock() const override { return clockSource; }
    void SetTickErrorHandler(std::function<void(std::string_view, std::string_view)>) override {}

    ManualClock clockSource;
    std::vector<Box> boxes;
    std::function<void()> onMsgBox;
    int depth = 0;
    int maxDepth = 0;
};

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "calmora-media-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    // Writes a file at a path relative to the folder, making the folders on the way.
    std::string Write(const std::string& relative, const Bytes& bytes) const {
        const auto p = path_ / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    std::string Write(const std::string& relative, const std::string& text) const {
        return Write(relative, Bytes(text.begin(), text.end()));
    }

private:
    std::filesystem::path path_;
};

inline void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// MPEG audio frames, all of one header, each filled to its full length.
// 0xFD 0x84: MPEG-1 layer II, no CRC, 128 kbit/s, 48 kHz -> 384 bytes and 24 ms a frame.
// 0xF5 0x44: MPEG-2 layer II, 32 kbit/s, 24 kHz -> 192 bytes and 48 ms a frame.
// 0xFD 0x80: MPEG-1 layer II, 128 kbit/s, 44.1 kHz, no padding -> 417 bytes, 1152 samples a frame.
inline Bytes AudioFrames(int count, std::uint8_t b1 = 0xFD, std::uint8_t b2 = 0x84, std::size_t frameBytes = 384) {
    Bytes out;
    for (int i = 0; i < count; ++i) {
        Bytes frame(frameBytes, 0x55);
        frame[0] = 0xFF;
        frame[1] = b1;
        frame[2] = b2;
        frame[3] = 0x00;
        Append(out, frame);
    }
    return out;
}

inline Bytes Id3v2Tag(std::uint8_t bodySize) {
    Bytes tag = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, bodySize};
    tag.resize(10 + bodySize, 0);
    return tag;
}

// A video elementary stream: a sequence header with the given frame_rate_code, then `pictures`
// pictures of a few bytes each.
inline Bytes VideoStream(int pictures, std::uint8_t rateCode = 3) {
    Bytes out = {0x00, 0x00, 0x01, 0xB3, 0x16, 0x01, 0x20, static_cast<std::uint8_t>(0x10 | rateCode),
                 0xFF, 0xFF, 0xE0, 0x18};
    Append(out, {0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x40});  // group of pictures
    for (int i = 0; i < pictures; ++i) {
        Append(out, {0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8});  // picture
        Append(out, {0x00, 0x00, 0x01, 0x01, 0x12, 0x34, 0x56});      // a slice
    }
    Append(out, {0x00, 0x00, 0x01, 0xB7});  // sequence end
    return out;
}

// A program stream carrying `video` in packets of at most `chunk` bytes (so start codes are split
// across packets), with an audio packet between them whose payload looks like a picture start code.
inline Bytes ProgramStream(const Bytes& video, std::size_t chunk, bool mpeg2) {
    Bytes out;
    auto pack = [&] {
        if (mpeg2) {
            Append(out, {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8});
        } else {
            Append(out, {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91});
        }
    };
    auto packet = [&](std::uint8_t id, const Bytes& payload) {
        const Bytes header = mpeg2 ? Bytes{0x80, 0x00, 0x00} : Bytes{0xFF, 0xFF, 0x0F};  // no time stamps
        const std::size_t length = header.size() + payload.size();
        Append(out, {0x00, 0x00, 0x01, id, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
        Append(out, header);
        Append(out, payload);
    };
    pack();
    Append(out, {0x00, 0x00, 0x01, 0xBB, 0x00, 0x06, 0x80, 0x00, 0x01, 0x04, 0xE1, 0xFF});  // system header
    for (std::size_t at = 0; at < video.size(); at += chunk) {
        pack();
        packet(0xE0, Bytes(video.begin() + static_cast<std::ptrdiff_t>(at),
                           video.begin() + static_cast<std::ptrdiff_t>(std::min(video.size(), at + chunk))));
        packet(0xC0, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00});
    }
    Append(out, {0x00, 0x00, 0x01, 0xB9});
    return out;
}

}  // namespace calmora::media::testing
