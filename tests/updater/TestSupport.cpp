#include "TestSupport.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace calmora::update::test {

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "clmupdate-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        throw std::runtime_error("cannot stat " + path);
    }
    return st.st_mode & 07777;
}

std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).string();
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        std::string description = "mode " + std::to_string(st.st_mode) + " owner " + std::to_string(st.st_uid);
        if (entry.is_symlink()) {
            description += " link " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            const std::string content = ReadFile(entry.path());
            description += " file of " + std::to_string(content.size()) + " bytes, hash " +
                           std::to_string(std::hash<std::string>{}(content));
        }
        entries[name] = description;
    }
    return entries;
}

std::vector<std::string> TempFilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".clmupdate-") != std::string::npos) {
            names.push_back(name);
        }
    }
    return names;
}

testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected) {
        return testing::AssertionSuccess();
    }
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    return testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                       << " were expected, first difference at " << at;
}

std::string Pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return bytes;
}

namespace {

std::vector<std::string> Environment(const EnvChanges& changes)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        if (changes.find(name) == changes.end()) {
            env.push_back(entry);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            env.push_back(name + "=" + *value);
        }
    }
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (auto& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const EnvChanges& changes,
            const std::string& workingDir, const std::string& outFile, const std::string& errFile, int keepFd)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = Environment(changes);
    std::vector<char*> argvPointers = Pointers(argv);
    std::vector<char*> envPointers = Pointers(env);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 || ::dup2(in, 0) < 0 ||
            (!workingDir.empty() && ::chdir(workingDir.c_str()) != 0)) {
            ::_exit(127);
        }
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != keepFd) {
                ::close(fd);
            }
        }
        ::execve(program.c_str(), argvPointers.data(), envPointers.data());
        ::_exit(127);
    }
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    return pid;
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const EnvChanges& env,
                         const std::string& workingDir)
{
    TempDir output;
    const std::string outFile = output.path() + "/out";
    const std::string errFile = output.path() + "/err";
    const pid_t pid = Spawn(program, args, env, workingDir, outFile, errFile, -1);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProcessResult result;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(outFile);
    result.err = ReadFile(errFile);
    return result;
}

pid_t StartProcess(const std::string& program, const std::vector<std::string>& args, const EnvChanges& env,
                   const std::string& outFile, const std::string& errFile, int keepFd)
{
    return Spawn(program, args, env, "", outFile, errFile, keepFd);
}

std::string UpdaterBinary()
{
    if (const char* bin = std::getenv("CALMORA_BIN"); bin && *bin) {
        return std::string(bin) + "/CLMUpdate";
    }
    return CLMUPDATE_BINARY;
}

}  // namespace calmora::update::test
