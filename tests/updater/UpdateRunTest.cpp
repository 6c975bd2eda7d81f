// The run on a temporary installation, update medium and profile, one outcome per test.
#include "FileSystem.h"
#include "Messages.h"
#include "TestSupport.h"
#include "UpdateRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace calmora::update {
namespace {

namespace fs = std::filesystem;
using test::ModeOf;
using test::Pattern;
using test::ReadFile;
using test::Snapshot;
using test::TempFilesIn;
using test::WriteFile;

const std::string kSound = Pattern(70'000, 1);
const std::string kNewLibrary = Pattern(300'000, 2);  // several copy buffers long
const std::string kOldLibrary = Pattern(250'000, 3);
const std::string kOldSound = Pattern(1'000, 4);
const std::string kOldLog = "ACTION: PrivateFile: /opt/calmora\\clm.exe\r\n(File was not found)\r\n";

std::string Line(std::string_view message) { return std::string(message) + "\n"; }

class UpdateRunTest : public testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(install);
        fs::create_directories(medium);
        WriteFile(install + "/clm.exe", "host program");
        WriteFile(install + "/sync.ocx", kOldLibrary);
        WriteFile(install + "/st5unst.log", kOldLog);
        WriteFile(medium + "/mt.mp2", kSound);
        WriteFile(medium + "/sync.ocx", kNewLibrary);
        SetDestPath(install);
    }

    void SetDestPath(const std::string& value) { WriteFile(profile, "[VURIRUV]\r\nDestPath=" + value + "\r\n"); }

    Outcome Run()
    {
        out.str("");
        err.str("");
        notes.str("");
        FileSystem files(notes, faults);
        ConsoleMessenger messages(out, err);
        return UpdateRun({profile, medium, files, messages});
    }

    // A failed step: the report on both streams, naming the file and the reason.
    void ExpectFailure(Outcome outcome, const std::string& description, const std::string& file)
    {
        EXPECT_EQ(outcome, Outcome::Failed);
        EXPECT_NE(out.str().find(description), std::string::npos) << out.str();
        EXPECT_NE(out.str().find(file + ": "), std::string::npos) << out.str();
        EXPECT_EQ(err.str(), out.str());
        EXPECT_EQ(out.str().find(std::string(kUpdated)), std::string::npos);
    }

    test::TempDir root;
    std::string install = root.path() + "/Calmora";
    std::string medium = root.path() + "/medium";
    std::string profile = root.path() + "/win.ini";
    Faults faults;
    std::ostringstream out, err, notes;
};

TEST_F(UpdateRunTest, UpdatesBothFilesAndAppendsTheRecord)
{
    ASSERT_EQ(Run(), Outcome::Updated);
    EXPECT_EQ(out.str(), Line(kUpdated));
    EXPECT_EQ(err.str(), "");
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/mt.mp2"), kSound));
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/sync.ocx"), kNewLibrary));
    EXPECT_EQ(ReadFile(install + "/st5unst.log"),
              kOldLog + "ACTION: PrivateFile: " + install +
                  "\\mt.mp2\r\n(File was not found or was an older version -- new file copied)\r\n");
    EXPECT_EQ(ReadFile(install + "/clm.exe"), "host program");
    EXPECT_TRUE(TempFilesIn(install).empty());
    EXPECT_EQ(notes.str(), "");
}

TEST_F(UpdateRunTest, TwoRunsInARowSucceedTwice)
{
    ASSERT_EQ(Run(), Outcome::Updated);
    WriteFile(install + "/mt.mp2", kOldSound);
    WriteFile(install + "/sync.ocx", kOldLibrary);
    ASSERT_EQ(Run(), Outcome::Updated);
    EXPECT_EQ(out.str(), Line(kUpdated));
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/mt.mp2"), kSound));
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/sync.ocx"), kNewLibrary));
    EXPECT_EQ(ReadFile(install + "/st5unst.log"), kOldLog + LogRecord(install) + LogRecord(install));
}

TEST_F(UpdateRunTest, MissingOrEmptyProfileValueTouchesNothing)
{
    const std::pair<const char*, std::string> profiles[] = {
        {"no profile file", ""},
        {"no section", "[Calmora]\nDestPath=" + install + "\n"},
        {"no key", "[VURIRUV]\nInstallPath=" + install + "\n"},
        {"empty value", "[VURIRUV]\nDestPath=\n"},
        {"blank value", "[VURIRUV]\nDestPath=   \n"},
        {"quoted empty value", "[VURIRUV]\nDestPath=''\n"},
    };
    for (const auto& [what, content] : profiles) {
        fs::remove(profile);
        if (!content.empty()) {
            WriteFile(profile, content);
        }
        const auto before = Snapshot(root.path());
        EXPECT_EQ(Run(), Outcome::NotInstalled) << what;
        EXPECT_EQ(out.str(), Line(kNotInstalledInSystem)) << what;
        EXPECT_EQ(Snapshot(root.path()), before) << what;
    }
}

TEST_F(UpdateRunTest, NoMainProgramTouchesNothing)
{
    fs::remove(install + "/clm.exe");
    const auto before = Snapshot(root.path());
    EXPECT_EQ(Run(), Outcome::NotInstalled);
    EXPECT_EQ(out.str(), Line(kNotInstalledOnComputer));
    EXPECT_EQ(Snapshot(root.path()), before);
}

TEST_F(UpdateRunTest, FolderNamedClmExeCountsAsAnInstallation)
{
    fs::remove(install + "/clm.exe");
    fs::create_directory(install + "/clm.exe");
    EXPECT_EQ(Run(), Outcome::Updated);
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/sync.ocx"), kNewLibrary));
}

TEST_F(UpdateRunTest, StoredFolderIsUsedAsStoredAndRecordedByteForByte)
{
    std::string backslashed = install;
    for (char& c : backslashed) {
        c = c == '/' ? '\\' : c;
    }
    for (const std::string& stored : {install + "/", install + "\\", backslashed, "\"" + install + "\""}) {
        fs::remove(install + "/st5unst.log");
        fs::remove(install + "/mt.mp2");
        const std::string asRead = stored.front() == '"' ? install : stored;
        SetDestPath(stored);
        ASSERT_EQ(Run(), Outcome::Updated) << stored << out.str();
        EXPECT_TRUE(test::SameBytes(ReadFile(install + "/mt.mp2"), kSound)) << stored;
        EXPECT_EQ(ReadFile(install + "/st5unst.log"), LogRecord(asRead)) << stored;
    }
    // The record names the folder exactly as read, trailing separator and all.
    EXPECT_EQ(LogRecord("C:\\Calmora\\"),
              "ACTION: PrivateFile: C:\\Calmora\\\\mt.mp2\r\n"
              "(File was not found or was an older version -- new file copied)\r\n");
}

TEST_F(UpdateRunTest, LongProfileValueIsCutTo254Characters)
{
    // A real installation folder whose path is exactly 254 characters, stored with 46 more after it.
    const std::string folder = root.path() + "/" + std::string(254 - root.path().size() - 1, 'c');
    ASSERT_EQ(folder.size(), 254u);
    fs::create_directory(folder);
    WriteFile(folder + "/clm.exe", "host program");
    SetDestPath(folder + std::string(46, 'x'));
    ASSERT_EQ(Run(), Outcome::Updated) << out.str();
    EXPECT_TRUE(test::SameBytes(ReadFile(folder + "/sync.ocx"), kNewLibrary));
    EXPECT_EQ(ReadFile(folder + "/st5unst.log"), LogRecord(folder));
}

TEST_F(UpdateRunTest, MissingLogIsCreatedWithJustTheRecord)
{
    fs::remove(install + "/st5unst.log");
    ASSERT_EQ(Run(), Outcome::Updated);
    EXPECT_EQ(ReadFile(install + "/st5unst.log"), LogRecord(install));
}

TEST_F(UpdateRunTest, RecordStartsOnALineOfItsOwn)
{
    const std::pair<std::string, std::string> logs[] = {
        {"", ""},
        {"last line\r\n", "last line\r\n"},
        {"last line without end", "last line without end\r\n"},
        {"line ended the Unix way\n", "line ended the Unix way\n\r\n"},
    };
    for (const auto& [before, after] : logs) {
        WriteFile(install + "/st5unst.log", before);
        ASSERT_EQ(Run(), Outcome::Updated);
        EXPECT_EQ(ReadFile(install + "/st5unst.log"), after + LogRecord(install)) << before;
    }
}

TEST_F(UpdateRunTest, MissingSourceFileLeavesNoPartialTargetAndNoRecord)
{
    fs::remove(medium + "/sync.ocx");
    ExpectFailure(Run(), "File not found", medium + "/sync.ocx");
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/mt.mp2"), kSound));  // copied before the failure, stays copied
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/sync.ocx"), kOldLibrary));
    EXPECT_EQ(ReadFile(install + "/st5unst.log"), kOldLog);
    EXPECT_TRUE(TempFilesIn(install).empty());

    fs::remove(medium + "/mt.mp2");
    fs::remove(install + "/mt.mp2");
    ExpectFailure(Run(), "File not found", medium + "/mt.mp2");
    EXPECT_FALSE(fs::exists(install + "/mt.mp2"));
    EXPECT_EQ(ReadFile(install + "/st5unst.log"), kOldLog);
    EXPECT_TRUE(TempFilesIn(install).empty());
}

TEST_F(UpdateRunTest, WriteFailureKeepsTheInstalledFileIntact)
{
    const std::string record = LogRecord(install);
    struct Case {
        const char* what;
        std::uint64_t limit;
        std::string sound;    // mt.mp2 afterwards ("" = absent)
        std::string library;  // sync.ocx afterwards
        const char* failing;
    };
    const Case cases[] = {
        {"in mt.mp2", kSound.size() / 2, "", kOldLibrary, "/mt.mp2"},
        {"in the middle of sync.ocx", kSound.size() + kNewLibrary.size() / 2, kSound, kOldLibrary, "/sync.ocx"},
        {"at the last byte of sync.ocx", kSound.size() + kNewLibrary.size() - 1, kSound, kOldLibrary, "/sync.ocx"},
        {"in the log record", kSound.size() + kNewLibrary.size() + record.size() / 2, kSound, kNewLibrary,
         "/st5unst.log"},
    };
    for (const auto& c : cases) {
        SetUp();
        fs::remove(install + "/mt.mp2");
        faults.writeLimit = c.limit;
        ExpectFailure(Run(), "Disk full", install + c.failing);
        EXPECT_NE(out.str().find("No space left on device"), std::string::npos) << c.what;
        EXPECT_TRUE(test::SameBytes(fs::exists(install + "/mt.mp2") ? ReadFile(install + "/mt.mp2") : "", c.sound)) << c.what;
        EXPECT_TRUE(test::SameBytes(ReadFile(install + "/sync.ocx"), c.library)) << c.what;
        EXPECT_EQ(ReadFile(install + "/st5unst.log"), kOldLog) << c.what;
        EXPECT_TRUE(TempFilesIn(install).empty()) << c.what;
    }
}

TEST_F(UpdateRunTest, LeftoversOfAnInterruptedRunAreRemoved)
{
    WriteFile(install + "/.sync.ocx.clmupdate-Ab12Cd", kNewLibrary.substr(0, 1000));
    WriteFile(install + "/.mt.mp2.clmupdate-zzzzzz", "half");
    WriteFile(install + "/notes.clmupdate-keep", "not ours");
    ASSERT_EQ(Run(), Outcome::Updated);
    EXPECT_EQ(TempFilesIn(install), std::vector<std::string>{"notes.clmupdate-keep"});
}

TEST_F(UpdateRunTest, ReplacedFileKeepsModeAndOwner)
{
    fs::remove(install + "/mt.mp2");
    ASSERT_EQ(::chmod((install + "/sync.ocx").c_str(), 0751), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((install + "/sync.ocx").c_str(), 4321, 4322), 0);
    }
    ASSERT_EQ(Run(), Outcome::Updated);
    EXPECT_EQ(ModeOf(install + "/sync.ocx"), 0751u);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(ModeOf(install + "/mt.mp2"), 0666u & ~mask);  // a new file gets the usual mode
    if (root) {
        struct stat st {};
        ASSERT_EQ(::stat((install + "/sync.ocx").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }
}

TEST_F(UpdateRunTest, SymbolicLinkIsFollowed)
{
    const std::string lib = root.path() + "/lib";
    fs::create_directory(lib);
    fs::rename(install + "/sync.ocx", lib + "/sync-1.02.ocx");
    fs::create_symlink("../lib/sync-1.02.ocx", install + "/sync.ocx");
    ASSERT_EQ(Run(), Outcome::Updated);
    EXPECT_TRUE(fs::is_symlink(install + "/sync.ocx"));
    EXPECT_EQ(fs::read_symlink(install + "/sync.ocx"), "../lib/sync-1.02.ocx");
    EXPECT_TRUE(test::SameBytes(ReadFile(lib + "/sync-1.02.ocx"), kNewLibrary));
    EXPECT_TRUE(TempFilesIn(lib).empty());
}

TEST_F(UpdateRunTest, RunFromTheInstallationFolderItselfKeepsTheFiles)
{
    WriteFile(install + "/mt.mp2", kSound);
    medium = install;
    ASSERT_EQ(Run(), Outcome::Updated);
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/mt.mp2"), kSound));
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/sync.ocx"), kOldLibrary));
    EXPECT_EQ(ReadFile(install + "/st5unst.log"), kOldLog + LogRecord(install));
}

// Strict permissions make a read-only folder refuse writes even to the superuser, as it would to anyone.
class ReadOnlyInstallationTest : public UpdateRunTest {
protected:
    void SetUp() override
    {
        UpdateRunTest::SetUp();
        faults.strictPermissions = true;
    }
    void TearDown() override { fs::permissions(install, fs::perms::owner_all, fs::perm_options::add); }
    void ReadOnly(const std::string& path) { ASSERT_EQ(::chmod(path.c_str(), 0555), 0); }
};

TEST_F(ReadOnlyInstallationTest, ReadOnlyFolderAndFilesFailWithNothingChanged)
{
    WriteFile(install + "/mt.mp2", kOldSound);
    for (const char* name : {"/mt.mp2", "/sync.ocx", "/st5unst.log", ""}) {
        ReadOnly(install + name);
    }
    const auto before = Snapshot(install);
    ExpectFailure(Run(), "Permission denied", install + "/mt.mp2");
    EXPECT_EQ(Snapshot(install), before);
}

TEST_F(ReadOnlyInstallationTest, WritableFilesInAReadOnlyFolderAreWrittenInPlace)
{
    WriteFile(install + "/mt.mp2", kOldSound);
    ReadOnly(install);
    ASSERT_EQ(Run(), Outcome::Updated) << out.str();
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/mt.mp2"), kSound));
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/sync.ocx"), kNewLibrary));
    EXPECT_EQ(ReadFile(install + "/st5unst.log"), kOldLog + LogRecord(install));
    EXPECT_NE(notes.str().find("writing " + install + "/mt.mp2 in place"), std::string::npos) << notes.str();
    EXPECT_NE(notes.str().find("writing " + install + "/sync.ocx in place"), std::string::npos) << notes.str();
}

TEST_F(ReadOnlyInstallationTest, NewFileInAReadOnlyFolderFails)
{
    ReadOnly(install);  // mt.mp2 is not installed yet and cannot be created
    ExpectFailure(Run(), "Permission denied", install + "/mt.mp2");
    EXPECT_FALSE(fs::exists(install + "/mt.mp2"));
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/sync.ocx"), kOldLibrary));
}

TEST_F(ReadOnlyInstallationTest, ReadOnlyLogGetsNoRecordAndNoSuccessMessage)
{
    ReadOnly(install + "/st5unst.log");
    ExpectFailure(Run(), "Permission denied", install + "/st5unst.log");
    EXPECT_TRUE(test::SameBytes(ReadFile(install + "/sync.ocx"), kNewLibrary));  // the copies stay done
    EXPECT_EQ(ReadFile(install + "/st5unst.log"), kOldLog);
}

}  // namespace
}  // namespace calmora::update
