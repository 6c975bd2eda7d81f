// A display for programs that need one: the one in $DISPLAY, or a private Xvfb server started on a
// free display number and stopped again at the end (CI has no display).
#pragma once

#include <sys/types.h>

#include <string>

namespace calmora::testing {

class XvfbDisplay {
public:
    // Uses $DISPLAY when it is set; otherwise starts Xvfb and points $DISPLAY at it.
    XvfbDisplay();
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool available() const { return !display_.empty(); }
    const std::string& display() const { return display_; }
    // Why no display is available (Xvfb missing, failed to start).
    const std::string& problem() const { return problem_; }

private:
    void Start();

    std::string display_;
    std::string problem_;
    pid_t pid_ = -1;
};

}  // namespace calmora::testing
