#include "FileSystem.h"

#include "Error.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <random>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace calmora::update {

namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and tells how it went: a failed close can mean lost data on some file systems.
    int Close()
    {
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// The temporary file of one copy; removed unless it was renamed over the target.
class TempFile {
public:
    TempFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile()
    {
        if (!committed_) {
            if (fd_.valid()) {
                fd_.Close();
            }
            ::unlink(path_.c_str());
        }
    }
    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }
    int Close() { return fd_.Close(); }
    void Commit() { committed_ = true; }

private:
    std::string path_;
    UniqueFd fd_;
    bool committed_ = false;
};

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TempPrefix(const std::string& name) { return "." + name + ".clmupdate-"; }
constexpr std::size_t kTempSuffixLength = 6;

// The file a chain of symbolic links at `path` ends in (which need not exist yet).
std::string FollowLinks(const std::string& path)
{
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n < 0) {
            RaiseSystemError(errno, path);
        }
        link.resize(static_cast<std::size_t>(n));
        current = link.starts_with('/') ? link : FolderOf(current) + "/" + link;
    }
    RaiseSystemError(ELOOP, path);
}

void RemoveLeftovers(const std::string& folder, const std::string& name)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        return;
    }
    const std::string prefix = TempPrefix(name);
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view entryName(entry->d_name);
        struct stat st {};
        if (entryName.size() == prefix.size() + kTempSuffixLength && entryName.starts_with(prefix) &&
            ::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
            ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
        }
    }
}

// Creates a new temporary file for `name` in `folder`; its path goes to `path`. `mode` is passed to
// open, so the umask applies as it would to any new file. Returns -1 and the errno value in `error`
// on failure.
int CreateTemp(const std::string& folder, const std::string& name, mode_t mode, std::string& path, int& error)
{
    static constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device entropy;
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = folder + "/" + TempPrefix(name);
        for (std::size_t i = 0; i < kTempSuffixLength; ++i) {
            path += alphabet[pick(entropy)];
        }
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        error = fd < 0 ? errno : 0;
        if (fd >= 0 || error != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Makes the rename itself durable.
void SyncFolder(const std::string& folder)
{
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid() && ::fsync(fd.get()) != 0 && errno == EIO) {
        RaiseSystemError(EIO, folder);
    }
}

}  // namespace

Faults Faults::FromEnvironment(std::ostream& diagnostics)
{
    Faults faults;
    if (const char* limit = std::getenv("CALMORA_UPDATE_FAIL_AFTER"); limit && *limit) {
        std::uint64_t bytes = 0;
        const char* end = limit + std::strlen(limit);
        const auto [ptr, ec] = std::from_chars(limit, end, bytes);
        if (ec == std::errc() && ptr == end) {
            faults.writeLimit = bytes;
        } else {
            diagnostics << "CLMUpdate: ignoring CALMORA_UPDATE_FAIL_AFTER=" << limit << ": not a number of bytes\n";
        }
    }
    if (const char* strict = std::getenv("CALMORA_UPDATE_STRICT_PERMISSIONS"); strict && *strict) {
        faults.strictPermissions = std::strcmp(strict, "0") != 0;
    }
    return faults;
}

FileSystem::FileSystem(std::ostream& diagnostics, Faults faults) : diagnostics_(diagnostics), faults_(faults) {}

bool FileSystem::Exists(const std::string& path) const
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void FileSystem::ReplaceFile(const std::string& source, const std::string& target)
{
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid()) {
        RaiseSystemError(errno, source);
    }
    struct stat sourceStat {};
    if (::fstat(in.get(), &sourceStat) != 0) {
        RaiseSystemError(errno, source);
    }
    if (S_ISDIR(sourceStat.st_mode)) {
        RaiseSystemError(EISDIR, source);
    }

    const std::string real = FollowLinks(target);
    struct stat old {};
    const bool exists = ::stat(real.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        RaiseSystemError(errno, target);
    }
    if (exists && !S_ISREG(old.st_mode)) {
        RaiseSystemError(S_ISDIR(old.st_mode) ? EISDIR : EINVAL, target);
    }
    if (exists && old.st_dev == sourceStat.st_dev && old.st_ino == sourceStat.st_ino) {
        return;  // run from the installation folder itself: the file is already in place
    }

    const std::string folder = FolderOf(real);
    const std::string name = NameOf(real);
    const bool folderWritable = !faults_.strictPermissions || ModeAllowsWrite(folder);
    if (folderWritable) {
        RemoveLeftovers(folder, name);
    }

    // Private until complete; a new file gets the usual mode for new files.
    std::string tempPath;
    int createError = EACCES;
    const int fd = folderWritable ? CreateTemp(folder, name, exists ? 0600 : 0666, tempPath, createError) : -1;
    if (fd < 0) {
        const bool targetWritable = exists && ::access(real.c_str(), W_OK) == 0 &&
                                    (!faults_.strictPermissions || ModeAllowsWrite(real));
        if ((createError == EACCES || createError == EPERM) && targetWritable) {
            diagnostics_ << "CLMUpdate: cannot create a file in " << folder << " (" << std::strerror(createError)
                         << "); writing " << real << " in place\n";
            WriteInPlace(in.get(), source, real);
            return;
        }
        RaiseSystemError(createError, target);
    }

    TempFile temp(tempPath, fd);
    CopyContent(in.get(), source, temp.fd(), target);
    if (exists) {
        if (::fchown(temp.fd(), old.st_uid, old.st_gid) != 0) {
            // Only the superuser may give a file away; the copy then belongs to whoever runs the update.
        }
        // After the owner: a change of owner clears the set-user-ID and set-group-ID bits.
        if (::fchmod(temp.fd(), old.st_mode & 07777) != 0) {
            RaiseSystemError(errno, target);
        }
    }
    if (::fsync(temp.fd()) != 0) {
        RaiseSystemError(errno, target);
    }
    if (const int closeError = temp.Close(); closeError != 0) {
        RaiseSystemError(closeError, target);
    }
    if (::rename(temp.path().c_str(), real.c_str()) != 0) {
        RaiseSystemError(errno, target);
    }
    temp.Commit();
    SyncFolder(folder);
}

void FileSystem::WriteInPlace(int from, const std::string& source, const std::string& target)
{
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!out.valid()) {
        RaiseSystemError(errno, target);
    }
    CopyContent(from, source, out.get(), target);
    if (::fsync(out.get()) != 0) {
        RaiseSystemError(errno, target);
    }
    if (const int closeError = out.Close(); closeError != 0) {
        RaiseSystemError(closeError, target);
    }
}

void FileSystem::AppendText(const std::string& path, std::string_view lines)
{
    if (faults_.strictPermissions) {
        const std::string real = FollowLinks(path);
        CheckModeAllowsWrite(Exists(real) ? real : FolderOf(real), path);
    }
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (!fd.valid()) {
        RaiseSystemError(errno, path);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        RaiseSystemError(errno, path);
    }
    std::string data;
    if (st.st_size > 0) {
        char tail[2] = {};
        const auto want = static_cast<std::size_t>(std::min<off_t>(st.st_size, 2));
        if (::pread(fd.get(), tail, want, st.st_size - static_cast<off_t>(want)) != static_cast<ssize_t>(want)) {
            RaiseSystemError(errno != 0 ? errno : EIO, path);
        }
        if (std::string_view(tail, want) != "\r\n") {
            data = "\r\n";
        }
    }
    data += lines;
    try {
        WriteAll(fd.get(), data, path);
        if (::fsync(fd.get()) != 0) {
            RaiseSystemError(errno, path);
        }
    } catch (const RuntimeError&) {
        // No half record for the uninstaller to stumble over.
        if (::ftruncate(fd.get(), st.st_size) != 0) {
        }
        throw;
    }
    if (const int closeError = fd.Close(); closeError != 0) {
        RaiseSystemError(closeError, path);
    }
}

void FileSystem::WriteAll(int fd, std::string_view data, const std::string& nameForErrors)
{
    while (!data.empty()) {
        std::size_t chunk = data.size();
        if (faults_.writeLimit) {
            const std::uint64_t left = *faults_.writeLimit - std::min(written_, *faults_.writeLimit);
            if (left == 0) {
                RaiseSystemError(ENOSPC, nameForErrors);
            }
            chunk = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, left));
        }
        const ssize_t n = ::write(fd, data.data(), chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            RaiseSystemError(errno, nameForErrors);
        }
        written_ += static_cast<std::uint64_t>(n);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

void FileSystem::CopyContent(int from, const std::string& sourceName, int to, const std::string& targetName)
{
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            RaiseSystemError(errno, sourceName);
        }
        if (n == 0) {
            return;
        }
        WriteAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(n)), targetName);
    }
}

bool FileSystem::ModeAllowsWrite(const std::string& path) const
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return true;  // the real call will tell what is wrong
    }
    if (st.st_uid == ::geteuid()) {
        return (st.st_mode & S_IWUSR) != 0;
    }
    if (st.st_gid == ::getegid()) {
        return (st.st_mode & S_IWGRP) != 0;
    }
    return (st.st_mode & S_IWOTH) != 0;
}

void FileSystem::CheckModeAllowsWrite(const std::string& path, const std::string& nameForErrors) const
{
    if (!ModeAllowsWrite(path)) {
        RaiseSystemError(EACCES, nameForErrors);
    }
}

}  // namespace calmora::update
