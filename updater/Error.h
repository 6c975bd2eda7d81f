// The updater's one error type: a failed step of the run, carrying the forms-runtime error number the
// user sees in the run-time error report, the file the step worked on and the system's reason.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace calmora::update {

namespace err {
inline constexpr int FileNotFound = 53;
inline constexpr int DeviceIoError = 57;
inline constexpr int DiskFull = 61;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccessError = 75;
inline constexpr int PathNotFound = 76;
}  // namespace err

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, std::string description, std::string file, std::string reason);

    int number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }
    const std::string& file() const noexcept { return file_; }
    const std::string& reason() const noexcept { return reason_; }

private:
    int number_;
    std::string description_;
    std::string file_;
    std::string reason_;
};

std::string Description(int number);

// The error for a failed system call on `file` with the given errno value. ENOENT becomes "Path not
// found" when the folder of `file` is missing too, "File not found" otherwise.
[[noreturn]] void RaiseSystemError(int errnoValue, std::string_view file);

// The text shown for a failed step: number, description, file and reason, several lines.
std::string RuntimeErrorReport(const RuntimeError& error);

}  // namespace calmora::update
