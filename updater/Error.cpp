#include "Error.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace calmora::update {

namespace {

std::string FolderOf(std::string_view file)
{
    const auto slash = file.find_last_of('/');
    if (slash == std::string_view::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : std::string(file.substr(0, slash));
}

int NumberFor(int errnoValue, std::string_view file)
{
    switch (errnoValue) {
    case ENOENT: {
        struct stat st {};
        return ::stat(FolderOf(file).c_str(), &st) == 0 ? err::FileNotFound : err::PathNotFound;
    }
    case ENOTDIR:
        return err::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
        return err::PermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return err::DiskFull;
    case EIO:
        return err::DeviceIoError;
    default:
        return err::PathFileAccessError;
    }
}

}  // namespace

RuntimeError::RuntimeError(int number, std::string description, std::string file, std::string reason)
    : std::runtime_error(description + ": " + file + " (" + reason + ")"),
      number_(number),
      description_(std::move(description)),
      file_(std::move(file)),
      reason_(std::move(reason))
{
}

std::string Description(int number)
{
    switch (number) {
    case err::FileNotFound: return "File not found";
    case err::DeviceIoError: return "Device I/O error";
    case err::DiskFull: return "Disk full";
    case err::PermissionDenied: return "Permission denied";
    case err::PathFileAccessError: return "Path/File access error";
    case err::PathNotFound: return "Path not found";
    default: return "Application-defined or object-defined error";
    }
}

void RaiseSystemError(int errnoValue, std::string_view file)
{
    const int number = NumberFor(errnoValue, file);
    throw RuntimeError(number, Description(number), std::string(file), std::strerror(errnoValue));
}

std::string RuntimeErrorReport(const RuntimeError& error)
{
    return "Run-time error '" + std::to_string(error.number()) + "':\n\n" + error.description() + "\n\n" +
           error.file() + ": " + error.reason();
}

}  // namespace calmora::update
