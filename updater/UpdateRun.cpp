#include "UpdateRun.h"

#include "Error.h"
#include "FileSystem.h"
#include "Messages.h"
#include "Paths.h"
#include "Profile.h"

namespace calmora::update {

std::string LogRecord(std::string_view installFolder)
{
    std::string record = "ACTION: PrivateFile: ";
    record += installFolder;
    record += "\\mt.mp2\r\n";
    record += "(File was not found or was an older version -- new file copied)\r\n";
    return record;
}

Outcome UpdateRun(const RunSetup& setup)
{
    constexpr std::size_t kBufferSize = 255;
    const ProfileString destPath = ReadProfileString(setup.profileFile, "VURIRUV", "DestPath", "", kBufferSize);
    const std::int16_t n = destPath.count;
    if (n == 0) {
        setup.messages.Show(kNotInstalledInSystem);
        return Outcome::NotInstalled;
    }
    // Used exactly as stored: a trailing "\" gives doubled separators, which name the same files.
    const std::string installFolder = destPath.text.substr(0, static_cast<std::size_t>(n));

    if (!setup.files.Exists(LocalPath(installFolder + "\\clm.exe"))) {
        setup.messages.Show(kNotInstalledOnComputer);
        return Outcome::NotInstalled;
    }

    setup.messages.ProcessPendingEvents();

    try {
        // Sound file first, then the control library; a failure ends the run and keeps what was copied.
        setup.files.ReplaceFile(InFolder(setup.updateFolder, "mt.mp2"), LocalPath(installFolder + "\\mt.mp2"));
        setup.files.ReplaceFile(InFolder(setup.updateFolder, "sync.ocx"), LocalPath(installFolder + "\\sync.ocx"));
        setup.files.AppendText(LocalPath(installFolder + "\\st5unst.log"), LogRecord(installFolder));
    } catch (const RuntimeError& error) {
        setup.messages.ShowError(RuntimeErrorReport(error));
        return Outcome::Failed;
    }
    setup.messages.Show(kUpdated);
    return Outcome::Updated;
}

}  // namespace calmora::update
