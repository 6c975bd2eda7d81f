// What the control is doing, as the window's status line tells it. The control keeps its state to
// itself, so this follows the host's trace (the same lines --trace prints): the calls made on the
// control, the media it opens, the pictures it shows, its message boxes and VideoEnd.
#pragma once

#include "CatalogueInfo.h"

#include <string>
#include <string_view>

namespace calmora::host {

enum class Activity {
    Idle,        // nothing started yet
    Playing,     // fileOpen
    Previewing,  // Preview or Ppreview
    Paused,
    Stopped,
    Ended,       // VideoEnd came
    NotFound,    // "Asana not found - "
    Failed,      // the start call returned an error
};

class LessonStatus {
public:
    // info may be null (nothing known about the catalogue); it must outlive this object.
    explicit LessonStatus(const CatalogueInfo* info) : info_(info) {}

    // One line of the trace, as Trace writes it (the time first). Returns true when the status changed.
    bool OnTraceLine(std::string_view line);

    Activity activity() const { return activity_; }
    const std::string& asana() const { return asana_; }
    // The member that started the asana: "fileOpen", "Preview" or "Ppreview" ("" before any).
    const std::string& member() const { return member_; }
    AsanaKind kind() const { return kind_; }
    int cue() const { return cue_; }      // video: 1-based number of the cue whose sound plays, 0 before
    int photo() const { return photo_; }  // photos: 1-based number of the photo shown, 0 before
    const std::string& problem() const { return problem_; }  // the last failure reported, "" if none

    bool Running() const { return activity_ == Activity::Playing || activity_ == Activity::Previewing; }
    // The status line: "Trikonasana — playing · cue 2 of 4: Hold the pose".
    std::string Text() const;

private:
    void Started(std::string member, std::string asana);

    const CatalogueInfo* info_;
    Activity activity_ = Activity::Idle;
    Activity beforePause_ = Activity::Idle;
    std::string asana_;
    std::string member_;
    AsanaKind kind_ = AsanaKind::Unknown;
    int cue_ = 0;
    std::string sound_;
    int photo_ = 0;
    std::string problem_;
};

}  // namespace calmora::host
