// The headless forms runtime: timers on a scheduler driven by the host's loop, with a virtual clock
// (tests, dry runs) or the real monotonic clock; picture boxes that decode but show nothing; message
// boxes recorded and dismissed at once.
#pragma once

#include <calmora/Runtime.h>

#include <string>
#include <vector>

namespace calmora::runtime {

class HeadlessForms;

struct MessageBoxRecord {
    std::string prompt;
    std::string title;
};

// Test access to what the headless runtime saw.
const std::vector<MessageBoxRecord>& MessageBoxes(HeadlessRuntime& runtime);

}  // namespace calmora::runtime
