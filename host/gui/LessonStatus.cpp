#include "LessonStatus.h"

#include <cctype>
#include <utility>

namespace calmora::host {
namespace {

constexpr std::string_view kNotFound = "Asana not found - ";

// The text between the first double quote and the last one ("" when there are none). Texts are
// quoted raw, so a quote inside stays part of the text.
std::string_view Quoted(std::string_view s) {
    auto first = s.find('"');
    auto last = s.rfind('"');
    if (first == std::string_view::npos || last <= first) return {};
    return s.substr(first + 1, last - first - 1);
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The file name in a path the control built ("\" or "/" separators).
std::string_view BaseName(std::string_view path) {
    auto slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

void LessonStatus::Started(std::string member, std::string asana) {
    member_ = std::move(member);
    asana_ = std::move(asana);
    activity_ = member_ == "fileOpen" ? Activity::Playing : Activity::Previewing;
    const AsanaInfo* known = info_ ? info_->Find(asana_) : nullptr;
    kind_ = known ? known->kind : AsanaKind::Unknown;
    cue_ = 0;
    sound_.clear();
    photo_ = 0;
    problem_.clear();
}

bool LessonStatus::OnTraceLine(std::string_view line) {
    // "<ms> <kind> <rest>", the time right-aligned.
    std::size_t i = 0;
    while (i < line.size() && line[i] == ' ') ++i;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
    if (i < line.size() && line[i] == ' ') ++i;
    std::string_view rest = line.substr(i);
    auto blank = rest.find(' ');
    std::string_view kind = rest.substr(0, blank);
    std::string_view text = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);

    if (kind == "call") {
        std::string_view member = text.substr(0, text.find(' '));
        if (member == "fileOpen" || member == "Preview" || member == "Ppreview") {
            Started(std::string(member), std::string(Quoted(text)));
        } else if (member == "Pause") {
            if (!Running()) return false;
            beforePause_ = activity_;
            activity_ = Activity::Paused;
        } else if (member == "Start") {
            if (activity_ != Activity::Paused) return false;
            activity_ = beforePause_;
        } else if (member == "StopPlay") {
            if (activity_ == Activity::Idle) return false;
            activity_ = Activity::Stopped;
        } else {
            return false;
        }
        return true;
    }
    if (kind == "mci") {
        std::string_view command = Quoted(text);
        if (!StartsWith(command, "open ")) return false;
        if (command.find(" alias video ") != std::string_view::npos) {
            kind_ = AsanaKind::Video;
            return true;
        }
        auto alias = command.find(" alias Sound ");
        if (alias == std::string_view::npos || kind_ == AsanaKind::Photo) return false;
        // In a video asana each sound opened is the next cue's.
        ++cue_;
        std::string_view file = BaseName(command.substr(5, alias - 5));
        if (file.size() > 4 && file.substr(file.size() - 4) == ".mp2") file.remove_suffix(4);
        sound_ = std::string(file);
        return true;
    }
    if (kind == "picture") {
        if (Quoted(text).empty()) return false;  // Picture1 cleared
        kind_ = AsanaKind::Photo;
        ++photo_;
        return true;
    }
    if (kind == "msgbox") {
        std::string_view prompt = Quoted(text);
        if (StartsWith(prompt, kNotFound))
            activity_ = Activity::NotFound;
        else
            problem_ = std::string(prompt);
        return true;
    }
    if (kind == "event") {
        if (text != "VideoEnd") return false;
        activity_ = Activity::Ended;
        return true;
    }
    if (kind == "fail") {
        if (StartsWith(text, "\"") || StartsWith(text, "picture \"")) {
            // A media command or a picture that failed: "<what>": <reason>.
            auto colon = text.rfind("\": ");
            problem_ = colon == std::string_view::npos ? std::string(text) : std::string(text.substr(colon + 3));
            return true;
        }
        // A member's error: "<member>: <number> <description>".
        auto colon = text.find(": ");
        std::string_view member = text.substr(0, colon);
        problem_ = colon == std::string_view::npos ? std::string(text) : std::string(text.substr(colon + 2));
        if (member == "fileOpen" || member == "Preview" || member == "Ppreview") activity_ = Activity::Failed;
        return true;
    }
    return false;
}

std::string LessonStatus::Text() const {
    if (activity_ == Activity::Idle) return "Ready";
    std::string s = asana_.empty() ? std::string("(no name)") : asana_;
    s += " \u2014 ";
    switch (activity_) {
    case Activity::Idle: break;
    case Activity::Playing: s += "playing"; break;
    case Activity::Previewing: s += member_ == "Ppreview" || kind_ == AsanaKind::Photo ? "photo preview" : "preview"; break;
    case Activity::Paused: s += "paused"; break;
    case Activity::Stopped: s += "stopped"; break;
    case Activity::Ended: s += "ended"; break;
    case Activity::NotFound: return s + "not in the catalogue";
    case Activity::Failed: return s + "could not start: " + problem_;
    }
    if (activity_ == Activity::Playing || activity_ == Activity::Previewing || activity_ == Activity::Paused) {
        const AsanaInfo* known = info_ ? info_->Find(asana_) : nullptr;
        if (kind_ == AsanaKind::Video && cue_ > 0) {
            s += " \u00b7 cue " + std::to_string(cue_);
            const bool listed = known && known->kind == AsanaKind::Video && !known->cues.empty();
            if (listed) s += " of " + std::to_string(known->cues.size());
            if (listed && cue_ <= static_cast<int>(known->cues.size()))
                s += ": " + known->cues[static_cast<std::size_t>(cue_ - 1)];
            else if (!sound_.empty())
                s += ": " + sound_;
        } else if (kind_ == AsanaKind::Photo && photo_ > 0) {
            s += " \u00b7 photo " + std::to_string(photo_);
            if (known && known->kind == AsanaKind::Photo && known->photos > 0)
                s += " of " + std::to_string(known->photos);
        }
    }
    if (!problem_.empty()) s += " \u00b7 " + problem_;
    return s;
}

}  // namespace calmora::host
