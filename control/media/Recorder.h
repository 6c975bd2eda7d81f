// An Observer that keeps every media command, failure, query and reply, for tests and for a host's
// trace. Entries are kept in memory and, when an echo is set, also passed on as text lines as they come:
//
//   exec <command>
//   fail <command> -- <reason>
//   query <command> -> <reply>          query <command> -> failed
//
// With a clock, each entry carries the time it was recorded and each echoed line starts with
// "[<ms>] ".
#pragma once

#include "media/MediaCommands.h"

#include <calmora/Runtime.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace calmora::media {

class Recorder : public Observer {
public:
    enum class Kind { Command, Failure, Query };
    struct Entry {
        Kind kind = Kind::Command;
        std::int64_t atMs = 0;  // 0 without a clock
        std::string command;
        std::string detail;     // Failure: the reason; Query: the reply
        bool ok = true;         // Query: false when it failed
    };

    explicit Recorder(const Clock* clock = nullptr) : clock_(clock) {}

    void Command(std::string_view command) override;
    void Failure(std::string_view command, std::string_view reason) override;
    void Query(std::string_view command, std::string_view reply, bool ok) override;

    // Receives each entry as a line (see above) as it is recorded.
    void SetEcho(std::function<void(std::string_view line)> echo) { echo_ = std::move(echo); }
    // Off: queries are neither kept nor echoed (a cue timer asks twice a millisecond).
    void SetRecordQueries(bool on) { recordQueries_ = on; }

    const std::vector<Entry>& entries() const { return entries_; }
    // The entries as lines, without times.
    std::vector<std::string> Lines() const;
    std::vector<std::string> Lines(Kind kind) const;
    void Clear() { entries_.clear(); }

    static std::string Format(const Entry& e);

private:
    void Add(Entry e);

    const Clock* clock_;
    std::function<void(std::string_view)> echo_;
    bool recordQueries_ = true;
    std::vector<Entry> entries_;
};

}  // namespace calmora::media
