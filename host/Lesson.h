// The host side of a lesson: places one control, gives it the resource folder and the first asana,
// and on each VideoEnd sets the next name and calls again from inside the handler. Shared by the
// headless and the GUI host.
#pragma once

#include "HostOptions.h"
#include "Script.h"
#include "Trace.h"

#include <calmora/sync.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace calmora::host {

class Lesson final : public ContainerSite {
public:
    // Queues a host event at a time of the runtime's clock.
    using Poster = std::function<void(std::int64_t atMs, std::function<void()>)>;

    Lesson(const HostOptions& options, Forms& runtime, host::Trace& trace, Poster post);
    ~Lesson() override;

    // Loads the control, sets Resourcedir, starts the first asana, schedules the script.
    void Begin(const std::vector<ScriptAction>& script);
    // A host call by member name, traced; an error the member returns is traced, not thrown.
    void Call(const std::string& member, const std::optional<std::string>& argument = std::nullopt);
    // Plays the asana at index (sets AsanaNaME, then the mode's member).
    void PlayAt(std::size_t index);

    bool Done() const { return done_; }
    std::size_t CurrentIndex() const { return index_; }
    const std::vector<std::string>& Asanas() const { return asanas_; }
    IVideoCntl& Control() { return *control_; }
    // Called after each VideoEnd (GUI status line).
    std::function<void()> onVideoEnd;
    // Whether a VideoEnd plays the next asana of the list (the GUI can turn this off).
    bool autoAdvance = true;

    // ContainerSite
    void PropertyChanged(std::string_view) override {}
    void RaiseEvent(int dispid, std::string_view eventName) override;
    Forms& Runtime() override { return runtime_; }
    std::string MediaEngine() override { return options_.media; }
    TraceSink* Trace() override { return &trace_; }

private:
    const char* PlayMember() const;

    HostOptions options_;
    Forms& runtime_;
    host::Trace& trace_;
    Poster post_;
    std::vector<std::string> asanas_;
    std::unique_ptr<IVideoCntl> control_;
    std::size_t index_ = 0;
    bool done_ = false;
};

// The asana names to play: the ones given, else the lines of <resources>/lesson.txt.
std::vector<std::string> LessonNames(const HostOptions& options);

}  // namespace calmora::host
