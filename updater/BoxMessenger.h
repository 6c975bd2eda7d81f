// Messages as Qt message boxes, for a run with a display.
#pragma once

#include "Messages.h"

#include <iosfwd>

namespace calmora::update {

// True when DISPLAY or WAYLAND_DISPLAY is set and a Qt application can really be started on it. A Qt
// application that cannot reach its display ends the process, so the attempt is made in a child
// process first.
bool DisplayAvailable(int argc, char** argv);

// Needs a QApplication. Error reports also go to `err`, before the box appears.
class BoxMessenger : public Messenger {
public:
    explicit BoxMessenger(std::ostream& err) : err_(err) {}
    void Show(std::string_view text) override;
    void ShowError(std::string_view report) override;
    void ProcessPendingEvents() override;

private:
    std::ostream& err_;
};

}  // namespace calmora::update
