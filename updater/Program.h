// The program CLMUpdate around the run: options, where the profile and the update folder are, console
// or message boxes, the form, the exit status.
#pragma once

namespace calmora::update {

// Options: --console (messages on the console even with a display), --version.
// Returns the exit status: 0 updated, 1 not installed, 2 a failed step or a bad option.
int RunProgram(int argc, char** argv);

}  // namespace calmora::update
