// The media command language the control speaks, and no more:
//
//   open <element> alias <a> type mpegVideo [style child parent <integer>]
//   set <a> time format frames|milliseconds
//   play <a>     pause <a>     close <a>     close all
//   status <a> mode|position
//
// Words are separated by one or more blanks (space or tab); leading and trailing blanks of the whole
// text are ignored. Command words, keywords and aliases are matched without regard to ASCII letter
// case ("Sound" opened, "sound" addressed). The element is a path that may hold blanks: it runs from
// after "open " to the LAST " alias " (any case), with surrounding blanks removed. "all" is not an
// alias: it may only follow "close".
//
// Replies: "playing", "paused", "stopped" for a mode; the position in decimal, in milliseconds until
// "set <a> time format frames" (frames from then on). Other commands reply with the empty text.
//
// Everything outside the language fails with a MediaError whose number says what was wrong and whose
// text, in a full sentence, says it to a person:
//   unsupported command word            mcierr::UnrecognizedCommand
//   bad or extra word, bad integer      mcierr::UnrecognizedKeyword
//   missing element, alias or word      mcierr::MissingParameter
//   a device type other than mpegVideo  mcierr::Unsupported ("all" outside "close all" likewise)
//   no device under the alias           mcierr::UnknownAlias
//   alias already open                  mcierr::AliasInUse
// and the engine's own failures (file not found, not a media file, ...) pass through unchanged.
#pragma once

#include "media/Engine.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace calmora::media {

enum class Verb : unsigned char { Open, Set, Play, Pause, Close, CloseAll, Status };
enum class TimeFormat : unsigned char { Milliseconds, Frames };
enum class StatusItem : unsigned char { Mode, Position };

// One parsed command. The views point into the command text.
struct Command {
    Verb verb = Verb::CloseAll;
    std::string_view alias;    // every verb but CloseAll; as written
    std::string_view element;  // Open: the path as written, surrounding blanks removed
    bool child = false;        // Open: "style child parent <integer>" was given
    std::int64_t parent = 0;   // Open: that integer (a native window handle)
    TimeFormat format = TimeFormat::Milliseconds;  // Set
    StatusItem item = StatusItem::Mode;            // Status
};

// Parses one command text. Input is untrusted (it carries catalogue text): any byte sequence either
// parses or throws MediaError.
Command ParseCommand(std::string_view text);

// A reply without allocation: the longest one is a 64-bit number in decimal.
class Reply {
public:
    std::string_view view() const { return {text_, size_}; }
    void Clear() { size_ = 0; }
    void Set(std::string_view word);
    void SetNumber(std::int64_t n);

private:
    char text_[24] = {};
    std::size_t size_ = 0;
};

// Turns command texts into calls on an engine's devices. Keeps one device per alias.
class Interpreter {
public:
    // Maps an element as the control wrote it to a file-system path (default: ResolvePath).
    using PathMapper = std::function<std::string(std::string_view)>;

    explicit Interpreter(Engine& engine, PathMapper mapPath = {});
    ~Interpreter();  // closes every device
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    // Runs one command and returns its verb; reply holds the reply text (empty for commands that
    // have none). Throws MediaError; on failure the devices are as they were (a failed open adds
    // nothing).
    Verb Run(std::string_view text, Reply& reply);
    // The same without throwing MediaError: returns 0 or the error number, sets *verb when the text
    // parsed and *reason on failure. Without a reason to fill, the commonest failure (no device under
    // the alias: a timer querying a sound that could not be opened, every tick) builds no message.
    int TryRun(std::string_view text, Reply& reply, Verb* verb = nullptr, std::string* reason = nullptr);

    std::size_t OpenCount() const { return devices_.size(); }

    // Inside a catch block: the error number of the exception being handled, and its reason when asked
    // for. An exception that is not a RuntimeError is an engine failure, its text after whatFailed;
    // memory exhaustion is passed on.
    static int CaughtError(std::string* reason, std::string_view whatFailed);
    bool IsOpen(std::string_view alias) const;

private:
    struct Slot {
        std::string key;    // the alias in lower case, for lookups without allocation
        std::unique_ptr<Device> device;
        TimeFormat format = TimeFormat::Milliseconds;
    };
    Slot* Find(std::string_view alias);
    void Open(const Command& c);

    Engine& engine_;
    PathMapper mapPath_;
    std::vector<Slot> devices_;  // few (two in practice): a linear search beats hashing
};

}  // namespace calmora::media
