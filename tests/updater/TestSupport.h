// Temporary folders, file helpers and a child-process runner for the updater's tests.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace calmora::update::test {

// A fresh folder under the system's temporary folder, removed with everything in it (read-only parts
// included) when the object goes.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
mode_t ModeOf(const std::string& path);  // permission bits, link followed

// Every entry below `folder` (names relative to it) with its kind, mode and content, to show that a run
// touched nothing.
std::map<std::string, std::string> Snapshot(const std::string& folder);

// Names in `folder` that look like the updater's temporary files.
std::vector<std::string> TempFilesIn(const std::string& folder);

// Equal bytes; on a difference tells sizes and the first differing position instead of printing binary.
testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected);

// Bytes that differ from position to position, so that a cut or shifted copy never compares equal.
std::string Pattern(std::size_t size, unsigned seed);

struct ProcessResult {
    int exitStatus = -1;  // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

using EnvChanges = std::map<std::string, std::optional<std::string>>;  // nullopt removes the variable

// Runs `program` with `args` in `workingDir` and waits for it.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const EnvChanges& env, const std::string& workingDir);

// Starts `program` without waiting; stdout and stderr go to the given files.
pid_t StartProcess(const std::string& program, const std::vector<std::string>& args, const EnvChanges& env,
                   const std::string& outFile, const std::string& errFile, int keepFd = -1);

// The CLMUpdate built with the tests.
std::string UpdaterBinary();

}  // namespace calmora::update::test

