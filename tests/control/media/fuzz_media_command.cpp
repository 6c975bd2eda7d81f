// The command parser and interpreter on untrusted text (commands carry catalogue text). Each input is
// split at line ends into commands run in order on a fresh interpreter, over an engine that opens
// anything without touching the disk, so that sequences of opens, closes and queries are explored.
#include "media/Interpreter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace calmora::media;

class AnyDevice : public Device {
public:
    void Play() override { mode_ = Mode::Playing; }
    void Pause() override {
        if (mode_ == Mode::Playing) mode_ = Mode::Paused;
    }
    Mode GetMode() override { return mode_; }
    std::int64_t PositionMs() override { return -9223372036854775807 - 1; }  // the longest reply
    std::int64_t PositionFrames() override { throw MediaError(mcierr::Unsupported, "no frames"); }

private:
    Mode mode_ = Mode::Stopped;
};

class AnyEngine : public Engine {
public:
    std::unique_ptr<Device> Open(const OpenParams& p) override {
        if (p.path.empty()) __builtin_trap();
        if (p.path.back() == 'x') throw MediaError(mcierr::FileNotFound, "missing");
        return std::make_unique<AnyDevice>();
    }
};

bool Within(std::string_view part, std::string_view whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    AnyEngine engine;
    Interpreter interpreter(engine, [](std::string_view element) { return std::string(element); });
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        const std::string_view text = input.substr(start, end - start);
        try {
            const Command c = ParseCommand(text);
            // What a parse hands on must lie inside the text and be a word or a path.
            if (c.verb != Verb::CloseAll && (c.alias.empty() || !Within(c.alias, text))) __builtin_trap();
            if (c.verb == Verb::Open && (c.element.empty() || !Within(c.element, text))) __builtin_trap();
        } catch (const MediaError& e) {
            if (e.description().empty()) __builtin_trap();
        }
        Reply reply;
        std::string reason;
        const int error = interpreter.TryRun(text, reply, nullptr, &reason);
        if ((error != 0) == reason.empty() || reply.view().size() > 20) __builtin_trap();
        start = end + 1;
    }
    return 0;
}
