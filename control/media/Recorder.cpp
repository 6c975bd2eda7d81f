#include "media/Recorder.h"

namespace calmora::media {

void Recorder::Command(std::string_view command) { Add({Kind::Command, 0, std::string(command), {}, true}); }

void Recorder::Failure(std::string_view command, std::string_view reason) {
    Add({Kind::Failure, 0, std::string(command), std::string(reason), false});
}

void Recorder::Query(std::string_view command, std::string_view reply, bool ok) {
    if (!recordQueries_) return;
    Add({Kind::Query, 0, std::string(command), std::string(reply), ok});
}

void Recorder::Add(Entry e) {
    if (clock_) e.atMs = clock_->nowMs();
    if (echo_) {
        std::string line = clock_ ? "[" + std::to_string(e.atMs) + "] " + Format(e) : Format(e);
        echo_(line);
    }
    entries_.push_back(std::move(e));
}

std::string Recorder::Format(const Entry& e) {
    switch (e.kind) {
        case Kind::Command: return "exec " + e.command;
        case Kind::Failure: return "fail " + e.command + " -- " + e.detail;
        case Kind::Query: return "query " + e.command + " -> " + (e.ok ? e.detail : std::string("failed"));
    }
    return {};
}

std::vector<std::string> Recorder::Lines() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const Entry& e : entries_) out.push_back(Format(e));
    return out;
}

std::vector<std::string> Recorder::Lines(Kind kind) const {
    std::vector<std::string> out;
    for (const Entry& e : entries_)
        if (e.kind == kind) out.push_back(Format(e));
    return out;
}

}  // namespace calmora::media
