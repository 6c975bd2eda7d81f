// The built CLMUpdate, copied onto a temporary update medium and run as a user would run it.
#include "TestSupport.h"
#include "UpdateRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace calmora::update {
namespace {

namespace fs = std::filesystem;
using test::EnvChanges;
using test::Pattern;
using test::ReadFile;
using test::RunProcess;
using test::WriteFile;

const std::string kSound = Pattern(5'000, 11);
const std::string kNewLibrary = Pattern(200'000, 12);
const std::string kOldLibrary = Pattern(150'000, 13);

class ProgramTest : public testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(install);
        fs::create_directories(medium);
        fs::copy_file(test::UpdaterBinary(), program);
        WriteFile(medium + "/mt.mp2", kSound);
        WriteFile(medium + "/sync.ocx", kNewLibrary);
        WriteFile(install + "/clm.exe", "host program");
        WriteFile(install + "/sync.ocx", kOldLibrary);
        WriteFile(profile, "[VURIRUV]\nDestPath=" + install + "\n");
        // Decoys in the working directory: the update folder is the program's, never the current one.
        WriteFile(root.path() + "/mt.mp2", "wrong sound");
        WriteFile(root.path() + "/sync.ocx", "wrong library");
    }

    test::ProcessResult Run(const std::vector<std::string>& args, EnvChanges env = {})
    {
        const EnvChanges base = {{"CALMORA_PROFILE", profile},
                                 {"DISPLAY", std::nullopt},
                                 {"WAYLAND_DISPLAY", std::nullopt},
                                 {"QT_QPA_PLATFORM", std::nullopt},
                                 {"CALMORA_UPDATE_FAIL_AFTER", std::nullopt},
                                 {"CALMORA_UPDATE_STRICT_PERMISSIONS", std::nullopt}};
        env.insert(base.begin(), base.end());  // entries given by the test win
        return RunProcess(program, args, env, root.path());
    }

    test::TempDir root;
    std::string install = root.path() + "/Calmora";
    std::string medium = root.path() + "/medium";
    std::string program = medium + "/CLMUpdate";
    std::string profile = root.path() + "/win.ini";
};

TEST_F(ProgramTest, UpdatesFromItsOwnFolder)
{
    const auto result = Run({"--console"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, std::string(kUpdated) + "\n");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/mt.mp2"), kSound));
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/sync.ocx"), kNewLibrary));
    EXPECT_EQ(ReadFile(install + "/st5unst.log"), LogRecord(install));
}

TEST_F(ProgramTest, WithoutAUsableDisplayMessagesGoToTheConsole)
{
    struct Case {
        const char* what;
        EnvChanges env;
    };
    const Case cases[] = {
        {"no display", {}},
        {"unreachable X display", {{"DISPLAY", ":4242"}}},
        {"unreachable Wayland display", {{"WAYLAND_DISPLAY", "calmora-test-none"}}},
    };
    for (const auto& c : cases) {
        WriteFile(profile, "[VURIRUV]\n");
        auto result = Run({}, c.env);
        EXPECT_EQ(result.exitStatus, 1) << c.what;
        EXPECT_EQ(result.out, std::string(kNotInstalledInSystem) + "\n") << c.what;

        WriteFile(profile, "[VURIRUV]\nDestPath=" + root.path() + "/elsewhere\n");
        result = Run({}, c.env);
        EXPECT_EQ(result.exitStatus, 1) << c.what;
        EXPECT_EQ(result.out, std::string(kNotInstalledOnComputer) + "\n") << c.what;
    }
    EXPECT_FALSE(fs::exists(install + "/mt.mp2"));
}

TEST_F(ProgramTest, FailedStepIsReportedOnBothStreams)
{
    struct Case {
        const char* what;
        EnvChanges env;
        bool readOnly;
        std::string report;
    };
    const Case cases[] = {
        {"disk full in sync.ocx",
         {{"CALMORA_UPDATE_FAIL_AFTER", std::to_string(kSound.size() + kNewLibrary.size() / 2)}},
         false,
         "Run-time error '61':\n\nDisk full\n\n" + install + "/sync.ocx: No space left on device\n"},
        {"read-only installation",
         {{"CALMORA_UPDATE_STRICT_PERMISSIONS", "1"}},
         true,
         "Run-time error '70':\n\nPermission denied\n\n" + install + "/mt.mp2: Permission denied\n"},
    };
    for (const auto& c : cases) {
        fs::remove(install + "/mt.mp2");
        const auto mode = c.readOnly ? fs::perms(0555) : fs::perms(0755);
        fs::permissions(install + "/sync.ocx", mode);
        fs::permissions(install, mode);
        const auto result = Run({"--console"}, c.env);
        fs::permissions(install, fs::perms(0755));
        EXPECT_EQ(result.exitStatus, 2) << c.what;
        EXPECT_EQ(result.out, c.report) << c.what;
        EXPECT_EQ(result.err, c.report) << c.what;
        EXPECT_TRUE(test::SameBytes(ReadFile(install + "/sync.ocx"), kOldLibrary)) << c.what;
        EXPECT_FALSE(fs::exists(install + "/st5unst.log")) << c.what;
    }
}

TEST_F(ProgramTest, OptionsVersionAndUnknown)
{
    auto result = Run({"--version"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "CLMUpdate 1.00\n");
    result = Run({"--consol"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.err.find("unknown option --consol"), std::string::npos);
    EXPECT_FALSE(fs::exists(install + "/mt.mp2"));
}

std::string FindProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

// A process of this test, ended and reaped when the test ends.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child()
    {
        if (pid_ > 0 && !Exited()) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool Exited()
    {
        if (!exited_) {
            exited_ = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
        }
        return exited_;
    }

private:
    pid_t pid_;
    bool exited_ = false;
};

TEST_F(ProgramTest, ShowsAMessageBoxOnADisplay)
{
    const std::string xvfb = FindProgram("Xvfb");
    const std::string xwininfo = FindProgram("xwininfo");
    if (xvfb.empty() || xwininfo.empty()) {
        GTEST_SKIP() << "needs Xvfb and xwininfo";
    }
    int displayPipe[2];
    ASSERT_EQ(::pipe(displayPipe), 0);
    Child server(test::StartProcess(xvfb, {"-displayfd", std::to_string(displayPipe[1]), "-nolisten", "tcp"}, {},
                                    root.path() + "/xvfb.out", root.path() + "/xvfb.err", displayPipe[1]));
    ::close(displayPipe[1]);
    std::string number;
    pollfd ready{displayPipe[0], POLLIN, 0};
    char c = 0;
    while (::poll(&ready, 1, 20'000) == 1 && ::read(displayPipe[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    ::close(displayPipe[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start: " << ReadFile(root.path() + "/xvfb.err");
    const std::string display = ":" + number;

    WriteFile(profile, "[VURIRUV]\n");
    Child updater(test::StartProcess(program, {}, {{"CALMORA_PROFILE", profile}, {"DISPLAY", display}, {"QT_QPA_PLATFORM", std::nullopt}},
                                     root.path() + "/updater.out", root.path() + "/updater.err"));
    // The box waits for its OK: it is found among the display's windows while the program still runs.
    std::string windows;
    for (int attempt = 0; attempt < 200 && windows.find("\"Calmora\"") == std::string::npos; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        windows = RunProcess(xwininfo, {"-display", display, "-root", "-tree"}, {}, "").out;
    }
    EXPECT_NE(windows.find("\"Calmora\""), std::string::npos)
        << windows << "\nCLMUpdate said: " << ReadFile(root.path() + "/updater.err");
    EXPECT_EQ(windows.find("\"Form1\""), std::string::npos) << "the form is never shown";
    EXPECT_FALSE(updater.Exited());
    EXPECT_EQ(ReadFile(root.path() + "/updater.out"), "");  // not on the console as well
}

}  // namespace
}  // namespace calmora::update
