#include "media/Interpreter.h"

#include "common/PathResolver.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <new>

namespace calmora::media {
namespace {

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }
constexpr char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// word equals keyword (given in lower case) without regard to ASCII case.
bool Is(std::string_view word, std::string_view keyword) {
    if (word.size() != keyword.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (Lower(word[i]) != keyword[i]) return false;
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The blank-separated words of a text, up to a fixed number; `more` tells that further words follow.
struct Words {
    static constexpr std::size_t kMax = 8;
    std::array<std::string_view, kMax> w;
    std::size_t n = 0;
    bool more = false;

    explicit Words(std::string_view s) {
        std::size_t i = 0;
        while (true) {
            while (i < s.size() && IsBlank(s[i])) ++i;
            if (i == s.size()) return;
            std::size_t j = i;
            while (j < s.size() && !IsBlank(s[j])) ++j;
            if (n == kMax) {
                more = true;
                return;
            }
            w[n++] = s.substr(i, j - i);
            i = j;
        }
    }
    std::size_t count() const { return more ? kMax + 1 : n; }
};

// A word of untrusted text for a message: quoted and cut to a readable length (on a UTF-8 boundary).
std::string Quote(std::string_view s) {
    constexpr std::size_t kMaxShown = 80;
    std::string out = "\"";
    if (s.size() <= kMaxShown) {
        out += s;
    } else {
        std::size_t cut = kMaxShown;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
        out += s.substr(0, cut);
        out += "...";
    }
    out += '"';
    return out;
}

[[noreturn]] void Fail(int number, std::string text) { throw MediaError(number, std::move(text)); }

void ExpectCount(const Words& words, std::size_t wanted, std::string_view verb, std::string_view form) {
    if (words.count() < wanted)
        Fail(mcierr::MissingParameter,
             "The " + std::string(verb) + " command is incomplete; it takes the form \"" + std::string(form) + "\".");
    if (words.count() > wanted)
        Fail(mcierr::UnrecognizedKeyword, "The word " + Quote(words.w[wanted]) + " does not belong in the " +
                                              std::string(verb) + " command; it takes the form \"" +
                                              std::string(form) + "\".");
}

void ExpectWord(std::string_view word, std::string_view keyword, std::string_view after) {
    if (!Is(word, keyword))
        Fail(mcierr::UnrecognizedKeyword, "Expected \"" + std::string(keyword) + "\" after " + std::string(after) +
                                              " but found " + Quote(word) + ".");
}

std::string_view Alias(std::string_view word, std::string_view verb) {
    if (Is(word, "all"))
        Fail(mcierr::Unsupported,
             "\"all\" names no single device; only \"close all\" may use it, not \"" + std::string(verb) + "\".");
    return word;
}

std::int64_t Integer(std::string_view word) {
    std::int64_t value = 0;
    const char* first = word.data();
    const char* last = word.data() + word.size();
    // from_chars takes a leading minus but no plus; that is the form the control writes.
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last) Fail(mcierr::UnrecognizedKeyword, Quote(word) + " is not a whole number.");
    return value;
}

// The position of the last "alias" with a blank on each side, or npos.
std::size_t LastAliasWord(std::string_view s) {
    constexpr std::string_view kAlias = "alias";
    if (s.size() < kAlias.size() + 2) return std::string_view::npos;
    for (std::size_t i = s.size() - kAlias.size() - 1; i >= 1; --i) {
        if (IsBlank(s[i - 1]) && IsBlank(s[i + kAlias.size()]) && Is(s.substr(i, kAlias.size()), kAlias)) return i;
    }
    return std::string_view::npos;
}

Command ParseOpen(std::string_view rest) {
    constexpr std::string_view kForm = "open <file> alias <name> type mpegVideo [style child parent <window>]";
    Command c;
    c.verb = Verb::Open;
    const std::size_t at = LastAliasWord(rest);
    if (at == std::string_view::npos) {
        const Words first(rest);
        if (first.n == 0 || Is(first.w[0], "alias"))
            Fail(mcierr::MissingParameter, "The open command names no file; it takes the form \"" +
                                               std::string(kForm) + "\".");
        Fail(mcierr::MissingParameter, "The open command gives no alias; it takes the form \"" +
                                           std::string(kForm) + "\".");
    }
    c.element = Trim(rest.substr(0, at));
    if (c.element.empty())
        Fail(mcierr::MissingParameter, "The open command names no file; it takes the form \"" + std::string(kForm) + "\".");

    const Words tail(rest.substr(at + 5));
    // The rest was trimmed and "alias" has a blank after it: at least the alias itself follows.
    c.alias = Alias(tail.w[0], "open");
    if (tail.count() < 3)
        Fail(mcierr::MissingParameter, "The open command gives no device type; it takes the form \"" +
                                           std::string(kForm) + "\".");
    ExpectWord(tail.w[1], "type", "the alias");
    if (!Is(tail.w[2], "mpegvideo"))
        Fail(mcierr::Unsupported, "The device type " + Quote(tail.w[2]) + " is not supported; only mpegVideo is.");
    if (tail.count() == 3) return c;
    ExpectWord(tail.w[3], "style", "the device type");
    if (tail.count() < 7)
        Fail(mcierr::MissingParameter, "The open command's style is incomplete; it takes the form \"style child parent <window>\".");
    ExpectWord(tail.w[4], "child", "\"style\"");
    ExpectWord(tail.w[5], "parent", "\"style child\"");
    c.child = true;
    c.parent = Integer(tail.w[6]);
    if (tail.count() > 7)
        Fail(mcierr::UnrecognizedKeyword, "The word " + Quote(tail.w[7]) + " does not belong in the open command; it takes the form \"" +
                                              std::string(kForm) + "\".");
    return c;
}

std::string UnknownAliasText(std::string_view alias) {
    return "No media device is open under the alias " + Quote(alias) + ".";
}

const char* ModeWord(Mode m) {
    switch (m) {
        case Mode::Playing: return "playing";
        case Mode::Paused: return "paused";
        case Mode::Stopped: break;
    }
    return "stopped";
}

}  // namespace

Command ParseCommand(std::string_view text) {
    const std::string_view s = Trim(text);
    if (s.empty()) Fail(mcierr::MissingParameter, "The media command is empty.");
    std::size_t end = 0;
    while (end < s.size() && !IsBlank(s[end])) ++end;
    const std::string_view verb = s.substr(0, end);
    const std::string_view rest = Trim(s.substr(end));

    if (Is(verb, "open")) return ParseOpen(rest);

    const Words words(rest);
    Command c;
    if (Is(verb, "play") || Is(verb, "pause")) {
        c.verb = Is(verb, "play") ? Verb::Play : Verb::Pause;
        ExpectCount(words, 1, c.verb == Verb::Play ? "play" : "pause", c.verb == Verb::Play ? "play <name>" : "pause <name>");
        c.alias = Alias(words.w[0], c.verb == Verb::Play ? "play" : "pause");
    } else if (Is(verb, "close")) {
        ExpectCount(words, 1, "close", "close <name>\" or \"close all");
        c.verb = Is(words.w[0], "all") ? Verb::CloseAll : Verb::Close;
        if (c.verb == Verb::Close) c.alias = words.w[0];
    } else if (Is(verb, "status")) {
        ExpectCount(words, 2, "status", "status <name> mode|position");
        c.verb = Verb::Status;
        c.alias = Alias(words.w[0], "status");
        if (Is(words.w[1], "mode")) {
            c.item = StatusItem::Mode;
        } else if (Is(words.w[1], "position")) {
            c.item = StatusItem::Position;
        } else {
            Fail(mcierr::UnrecognizedKeyword, "The status item " + Quote(words.w[1]) + " is not supported; only mode and position are.");
        }
    } else if (Is(verb, "set")) {
        ExpectCount(words, 4, "set", "set <name> time format frames|milliseconds");
        c.verb = Verb::Set;
        c.alias = Alias(words.w[0], "set");
        ExpectWord(words.w[1], "time", "the alias");
        ExpectWord(words.w[2], "format", "\"time\"");
        if (Is(words.w[3], "frames")) {
            c.format = TimeFormat::Frames;
        } else if (Is(words.w[3], "milliseconds")) {
            c.format = TimeFormat::Milliseconds;
        } else {
            Fail(mcierr::UnrecognizedKeyword, "The time format " + Quote(words.w[3]) + " is not supported; only frames and milliseconds are.");
        }
    } else {
        Fail(mcierr::UnrecognizedCommand, Quote(verb) + " is not a supported media command.");
    }
    return c;
}

void Reply::Set(std::string_view word) {
    size_ = std::min(word.size(), sizeof text_);
    std::copy_n(word.data(), size_, text_);
}

void Reply::SetNumber(std::int64_t n) {
    auto [end, ec] = std::to_chars(text_, text_ + sizeof text_, n);
    size_ = ec == std::errc() ? static_cast<std::size_t>(end - text_) : 0;
}

Interpreter::Interpreter(Engine& engine, PathMapper mapPath) : engine_(engine), mapPath_(std::move(mapPath)) {}

Interpreter::~Interpreter() = default;

Interpreter::Slot* Interpreter::Find(std::string_view alias) {
    for (Slot& s : devices_)
        if (Is(alias, s.key)) return &s;
    return nullptr;
}

bool Interpreter::IsOpen(std::string_view alias) const {
    return std::any_of(devices_.begin(), devices_.end(), [&](const Slot& s) { return Is(alias, s.key); });
}

void Interpreter::Open(const Command& c) {
    auto inUse = [&] {
        Fail(mcierr::AliasInUse, "The alias " + Quote(c.alias) + " is already in use by an open media device.");
    };
    if (Find(c.alias)) inUse();
    OpenParams params;
    params.path = mapPath_ ? mapPath_(c.element) : ResolvePath(c.element);
    params.child = c.child;
    params.parentWindow = c.parent;
    std::unique_ptr<Device> device = engine_.Open(params);
    if (!device) Fail(mcierr::DeviceFailure, "The media engine could not open " + Quote(params.path) + ".");
    if (Find(c.alias)) inUse();  // opened meanwhile by a command the engine let in
    Slot slot;
    slot.key.resize(c.alias.size());
    std::transform(c.alias.begin(), c.alias.end(), slot.key.begin(), Lower);
    slot.device = std::move(device);
    devices_.push_back(std::move(slot));
}

Verb Interpreter::Run(std::string_view text, Reply& reply) {
    Verb verb = Verb::CloseAll;
    std::string reason;
    if (const int error = TryRun(text, reply, &verb, &reason); error != 0) throw MediaError(error, std::move(reason));
    return verb;
}

int Interpreter::TryRun(std::string_view text, Reply& reply, Verb* verb, std::string* reason) {
    reply.Clear();
    try {
        const Command c = ParseCommand(text);
        if (verb) *verb = c.verb;
        if (c.verb == Verb::Open) {
            Open(c);
            return 0;
        }
        if (c.verb == Verb::CloseAll) {
            std::vector<Slot> closing;
            closing.swap(devices_);
            return 0;  // the devices close here, after the table no longer names them
        }
        Slot* s = Find(c.alias);
        if (!s) {
            if (reason) *reason = UnknownAliasText(c.alias);
            return mcierr::UnknownAlias;
        }
        switch (c.verb) {
            case Verb::Set:
                s->format = c.format;
                break;
            case Verb::Play:
                s->device->Play();
                break;
            case Verb::Pause:
                s->device->Pause();
                break;
            case Verb::Close: {
                std::unique_ptr<Device> closing = std::move(s->device);
                devices_.erase(devices_.begin() + (s - devices_.data()));
                break;  // the device closes here, after the table no longer names it
            }
            case Verb::Status:
                if (c.item == StatusItem::Mode) {
                    reply.Set(ModeWord(s->device->GetMode()));
                } else {
                    reply.SetNumber(s->format == TimeFormat::Frames ? s->device->PositionFrames() : s->device->PositionMs());
                }
                break;
            case Verb::Open:
            case Verb::CloseAll:
                break;
        }
        return 0;
    } catch (const std::exception&) {
        return CaughtError(reason, "The media engine failed: ");
    }
}

int Interpreter::CaughtError(std::string* reason, std::string_view whatFailed) {
    try {
        throw;
    } catch (const RuntimeError& e) {
        if (reason) *reason = e.description();
        return e.number() != 0 ? e.number() : mcierr::DeviceFailure;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        if (reason) *reason = std::string(whatFailed) + e.what();
        return mcierr::DeviceFailure;
    }
}

}  // namespace calmora::media
