#include "XvfbDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace calmora::testing {
namespace {

std::string FindProgram(std::string_view name) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        auto colon = dirs.find(':');
        std::string candidate(dirs.substr(0, colon));
        candidate += '/';
        candidate += name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    return {};
}

}  // namespace

XvfbDisplay::XvfbDisplay() {
    const char* existing = std::getenv("DISPLAY");
    if (existing && *existing) {
        display_ = existing;
        return;
    }
    Start();
}

void XvfbDisplay::Start() {
    const std::string xvfb = FindProgram("Xvfb");
    if (xvfb.empty()) {
        problem_ = "Xvfb is not installed";
        return;
    }
    // -displayfd lets the server pick a free display number itself and report it once it accepts
    // connections, so parallel test runs never race for the same number.
    int fds[2];
    if (::pipe(fds) != 0) {
        problem_ = "pipe failed";
        return;
    }
    const std::string fdText = std::to_string(fds[1]);
    std::vector<std::string> args = {xvfb, "-displayfd", fdText, "-screen", "0", "1024x768x24", "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int rc = ::posix_spawn(&pid_, xvfb.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        pid_ = -1;
        problem_ = "could not start Xvfb";
        return;
    }

    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char c;
        if (::read(fds[0], &c, 1) != 1) break;  // the server exited
        if (c == '\n') break;
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        problem_ = "Xvfb did not start";
        return;
    }
    // The number is written once the server listens; the socket is there by then, but check.
    const std::string socket = "/tmp/.X11-unix/X" + number;
    struct stat st;
    for (int i = 0; i < 200 && ::stat(socket.c_str(), &st) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    display_ = ":" + number;
    ::setenv("DISPLAY", display_.c_str(), 1);
}

XvfbDisplay::~XvfbDisplay() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ::unsetenv("DISPLAY");
}

}  // namespace calmora::testing
