// The run of CLMUpdate: read where Calmora is installed, check for its main program, copy the sound
// file and the control library from the update medium, record the sound file in the uninstall log and
// report the outcome.
#pragma once

#include <string>
#include <string_view>

namespace calmora::update {

class FileSystem;
class Messenger;

inline constexpr std::string_view kNotInstalledInSystem = "Calmora is Not Installed in Your System";
inline constexpr std::string_view kNotInstalledOnComputer = "Calmora is not installed on your Computer";
inline constexpr std::string_view kUpdated = "Calmora, Updated Successfully";

// Also the program's exit status.
enum class Outcome { Updated = 0, NotInstalled = 1, Failed = 2 };

struct RunSetup {
    std::string profileFile;   // the INI file holding [VURIRUV] DestPath
    std::string updateFolder;  // local path of the folder holding mt.mp2 and sync.ocx
    FileSystem& files;
    Messenger& messages;
};

Outcome UpdateRun(const RunSetup& setup);

// The two lines appended to the uninstall log, CR LF ended, with the folder exactly as stored.
std::string LogRecord(std::string_view installFolder);

}  // namespace calmora::update
