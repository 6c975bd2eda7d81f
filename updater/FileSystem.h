// The updater's file layer: the mark test, the replacing copy and the log append, on local paths.
//
// Copies never write over an installed file: the new content goes to a temporary file beside the target
// (".<name>.clmupdate-XXXXXX"), which is checked, flushed, given the old file's mode and owner and then
// renamed over the target, so a failure at any point leaves the installed file as it was. Temporary files
// left by an interrupted run are removed by the next copy to the same target.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace calmora::update {

// Failures on demand, so that tests can make a full disk or a read-only folder real even when they run
// as root. Read from the environment by the program (see FromEnvironment); never set otherwise.
struct Faults {
    // Bytes the layer may write in total; the write that goes beyond fails with ENOSPC after writing
    // what still fits, as a disk that fills up would.
    std::optional<std::uint64_t> writeLimit;
    // Refuse writes and file creation that the mode bits forbid, even for the superuser.
    bool strictPermissions = false;

    // CALMORA_UPDATE_FAIL_AFTER=<bytes> and CALMORA_UPDATE_STRICT_PERMISSIONS=1. A value that cannot be
    // read is reported on `diagnostics` and ignored.
    static Faults FromEnvironment(std::ostream& diagnostics);
};

class FileSystem {
public:
    // `diagnostics` receives notes that are no failure, such as the in-place fallback.
    explicit FileSystem(std::ostream& diagnostics, Faults faults = {});

    // True when an entry of that name exists, be it a file or a folder.
    bool Exists(const std::string& path) const;

    // Copies `source` over `target` (created when absent). A symbolic link at `target` is followed and
    // the file it points to is replaced. Where the folder refuses new files but the target itself is
    // writable, the target is written in place instead, with a note on the diagnostics stream.
    // Throws RuntimeError naming the file and the system's reason.
    void ReplaceFile(const std::string& source, const std::string& target);

    // Appends `lines` to the text file `path`, created when absent. When the file is not empty and does
    // not end with CR LF, a CR LF goes first, so the text never runs on from a last unfinished line.
    // On a failed write the file is cut back to its old length. Throws RuntimeError.
    void AppendText(const std::string& path, std::string_view lines);

private:
    void WriteAll(int fd, std::string_view data, const std::string& nameForErrors);
    void CopyContent(int from, const std::string& sourceName, int to, const std::string& targetName);
    void CheckModeAllowsWrite(const std::string& path, const std::string& nameForErrors) const;
    bool ModeAllowsWrite(const std::string& path) const;
    void WriteInPlace(int from, const std::string& source, const std::string& target);

    std::ostream& diagnostics_;
    Faults faults_;
    std::uint64_t written_ = 0;
};

}  // namespace calmora::update
