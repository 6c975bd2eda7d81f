#include "Lesson.h"

#include <fstream>
#include <stdexcept>

namespace calmora::host {

std::vector<std::string> LessonNames(const HostOptions& options) {
    if (!options.asanas.empty()) return options.asanas;
    std::vector<std::string> names;
    std::ifstream in(options.resources + "/lesson.txt");
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') names.push_back(line);
    }
    return names;
}

Lesson::Lesson(const HostOptions& options, Forms& runtime, host::Trace& trace, Poster post)
    : options_(options), runtime_(runtime), trace_(trace), post_(std::move(post)), asanas_(LessonNames(options)) {}

Lesson::~Lesson() = default;

const char* Lesson::PlayMember() const {
    switch (options_.mode) {
    case Mode::Preview: return "Preview";
    case Mode::PhotoPreview: return "Ppreview";
    case Mode::Play: break;
    }
    return "fileOpen";
}

void Lesson::Begin(const std::vector<ScriptAction>& script) {
    void* factory = nullptr;
    if (DllGetClassObject(&CLSID_VideoCntl, &IID_IClassFactory, &factory) != kS_OK || !factory)
        throw std::runtime_error("sync.ocx does not hand out the VideoCntl class");
    control_ = static_cast<IClassFactory*>(factory)->CreateInstance(*this);
    control_->InitNew();
    const std::int64_t t0 = runtime_.clock().nowMs();
    Call("Resourcedir", options_.resources);
    for (const auto& a : script)
        post_(t0 + a.atMs, [this, a] { Call(a.member, a.argument); });
    if (asanas_.empty()) {
        done_ = true;
        return;
    }
    PlayAt(0);
}

void Lesson::PlayAt(std::size_t index) {
    index_ = index;
    Call("AsanaNaME", asanas_.at(index));
    Call(PlayMember());
}

void Lesson::Call(const std::string& member, const std::optional<std::string>& argument) {
    IVideoCntl& c = *control_;
    try {
        if (member == "Resourcedir") {
            trace_.Call(member, argument.value_or(""), true);
            c.put_Resourcedir(argument.value_or(""));
        } else if (member == "AsanaNaME") {
            trace_.Call(member, argument.value_or(""), true);
            c.put_AsanaNaME(argument.value_or(""));
        } else if (member == "fileOpen" || member == "Preview" || member == "Ppreview") {
            if (argument) {  // a script may name the asana with the call
                trace_.Call("AsanaNaME", *argument, true);
                c.put_AsanaNaME(*argument);
            }
            trace_.Call(member, c.get_AsanaNaME(), true);
            if (member == "fileOpen")
                c.fileOpen();
            else if (member == "Preview")
                c.Preview();
            else
                c.Ppreview();
        } else {
            trace_.Call(member, {}, false);
            if (member == "Pause")
                c.Pause();
            else if (member == "Start")
                c.Start();
            else if (member == "StopPlay")
                c.StopPlay();
            else
                throw std::runtime_error("no member " + member);
        }
    } catch (const RuntimeError& e) {
        trace_.CallFailed(member, e.number(), e.description());
    }
}

void Lesson::RaiseEvent(int dispid, std::string_view eventName) {
    trace_.Event(eventName);
    if (dispid != dispid::VideoEnd) return;
    if (autoAdvance && index_ + 1 < asanas_.size()) {
        PlayAt(index_ + 1);
    } else if (index_ + 1 >= asanas_.size()) {
        done_ = true;
    }
    if (onVideoEnd) onVideoEnd();
}

}  // namespace calmora::host
