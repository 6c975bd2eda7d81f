// The data access objects over real catalogue files: opening (password, files, exclusive hold,
// read-only), recordset movement and its errors, and the query forms against stored rows.
#include "CatalogueFixture.h"
#include "common/Conversions.h"
#include "common/ErrorNumbers.h"

#include <sqlite3.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

namespace calmora::testing {
namespace {

using dao::Database;
using dao::Recordset;

const char* const Lesson = R"({
  "asanas": [
    {"name": "Tree", "AsanaID": 3, "Disp_Type": "Video", "VideoName": "tree.mpg",
     "cues": [{"Filename": "c1", "Action": "in", "StartPos": 30, "EndPos": 40, "Filelen": 1.5},
              {"Filename": "a1", "Action": "up", "StartPos": 10, "EndPos": 20, "Filelen": 2},
              {"Filename": "b1", "Action": null, "StartPos": 20, "EndPos": 25, "Filelen": 3.25}]},
    {"name": "x\" or name = \"Tree", "AsanaID": 4, "Disp_Type": "Photo", "photos": []},
    {"name": "Bäume Übung", "AsanaID": 5, "Disp_Type": "PHOTO",
     "photos": [{"Mp2name": "s1", "ImageName": "p1.jpg"}]},
    {"name": "Tree ", "AsanaID": 6, "Disp_Type": "Video"},
    {"name": "twin", "AsanaID": 7},
    {"name": "TWIN", "AsanaID": 8}
  ],
  "tables": {"Kinds": [{"flag": true, "n": 7}, {"flag": false, "n": null}]}
})";

class DaoTest : public CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        path_ = Build(Lesson);
    }
    std::string path_;
};

// ---- Opening ---------------------------------------------------------------------------------------

TEST_F(DaoTest, OpensOnlyWithTheCataloguePassword) {
    const std::vector<std::pair<std::string, int>> cases = {
        {";PWD=Mira6tocaPQ;", 0},
        {"PWD=Mira6tocaPQ", 0},
        {";pwd=Mira6tocaPQ;", 0},  // the key ignores case, the password does not
        {";PWD=mira6tocapq;", err::NotAValidPassword},
        {";PWD=Mira6tocaPQ ;", err::NotAValidPassword},
        {";PWD=wrong;", err::NotAValidPassword},
        {";PWD=;", err::NotAValidPassword},
        {"", err::NotAValidPassword},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(ErrorOf([&] { Open(path_, true, c.first); }), c.second);
    }
    // A catalogue made with another password does not open with this one, and the reverse.
    const std::string other = Build(Lesson, "other.mdb", "Another1");
    EXPECT_EQ(ErrorOf([&] { Open(other); }), err::NotAValidPassword);
    EXPECT_EQ(ErrorOf([&] { Open(other, true, ";PWD=Another1;"); }), 0);
}

TEST_F(DaoTest, OpenFailuresCarryTheEngineNumbers) {
    WriteFile(dir_ / "text.mdb", "Standard Jet DB, or so it says\n" + std::string(200, 'x'));
    WriteFile(dir_ / "empty.mdb", "");
    {
        sqlite3* db = nullptr;
        sqlite3_open((dir_ / "plain.mdb").c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE Asanas(name); INSERT INTO Asanas VALUES('Tree');", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    const std::string noVerifier = Build(Lesson, "noverifier.mdb");
    {
        sqlite3* db = nullptr;
        sqlite3_open(noVerifier.c_str(), &db);
        sqlite3_exec(db, "DELETE FROM calmora_meta WHERE key = 'verifier';", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    std::filesystem::create_directory(dir_ / "folder.mdb");

    const std::vector<std::pair<std::string, int>> cases = {
        {"missing.mdb", err::DatabaseFileNotFound},
        {"nofolder/REZozi.mdb", err::DatabaseFileNotFound},
        {"text.mdb", err::UnrecognizedDatabaseFormat},
        {"empty.mdb", err::UnrecognizedDatabaseFormat},
        {"plain.mdb", err::UnrecognizedDatabaseFormat},
        {"noverifier.mdb", err::NotAValidPassword},
        {"folder.mdb", err::CannotOpenFile},
    };
    for (const auto& [name, want] : cases) {
        SCOPED_TRACE(name);
        try {
            Open((dir_ / name).string());
            ADD_FAILURE() << "opened";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), want);
            EXPECT_NE(e.description().find(name), std::string::npos) << e.description();
        }
    }
}

TEST_F(DaoTest, FindsTheFileThroughBackslashesAndAnyLetterCase) {
    Build(Lesson, "Res/Video/rezozi.MDB");
    const std::string asBuilt = dir_.string() + "\\res\\video\\REZozi.mdb";
    auto db = Open(asBuilt);
    EXPECT_EQ(db->OpenRecordset("select * from Asanas")->Fields("name"), Variant("Tree"));
}

// ---- Exclusive hold across processes -------------------------------------------------------------

// Runs fn in a forked child and returns its exit status.
int InChild(const std::function<int()>& fn) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 99;
        try {
            rc = fn();
        } catch (...) {
        }
        ::_exit(rc);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 0 when another process can open the catalogue, 1 when it is held (3045), 2 for anything else.
int OtherProcessOpens(const std::string& path, bool exclusive = true) {
    return InChild([&] {
        const int e = ErrorOf([&] { OpenCatalogue(path, exclusive); });
        return e == 0 ? 0 : e == err::FileAlreadyInUse ? 1 : 2;
    });
}

TEST_F(DaoTest, AnotherProcessHoldingTheCatalogueKeepsUsOut) {
    int toChild[2], toParent[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(toParent), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        char c = 0;
        int rc = 0;
        try {
            auto db = Open(path_);
            (void)!::write(toParent[1], "o", 1);
            (void)!::read(toChild[0], &c, 1);
            db->Close();
        } catch (...) {
            rc = 2;
        }
        (void)!::write(toParent[1], "c", 1);
        ::_exit(rc);
    }
    char c = 0;
    ASSERT_EQ(::read(toParent[0], &c, 1), 1);
    ASSERT_EQ(c, 'o');
    try {
        Open(path_);
        ADD_FAILURE() << "opened a catalogue another process holds";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), err::FileAlreadyInUse);
        EXPECT_NE(e.description().find("already in use"), std::string::npos);
    }
    EXPECT_EQ(ErrorOf([&] { Open(path_, false); }), err::FileAlreadyInUse);
    ASSERT_EQ(::write(toChild[1], "x", 1), 1);
    ASSERT_EQ(::read(toParent[0], &c, 1), 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ErrorOf([&] { Open(path_); }), 0);  // released when the child closed it
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) ::close(fd);
}

TEST_F(DaoTest, OneHoldPerProcessLastsUntilTheLastDatabaseGoes) {
    EXPECT_EQ(OtherProcessOpens(path_), 0);
    auto first = Open(path_);
    EXPECT_EQ(OtherProcessOpens(path_), 1);
    // The control opens again before it lets go of the old object.
    auto second = Open(path_);
    first.reset();  // released, not closed
    EXPECT_EQ(OtherProcessOpens(path_), 1);
    EXPECT_EQ(second->OpenRecordset("select * from Asanas")->Fields("AsanaID"), Variant(std::int64_t{3}));
    auto third = Open(path_);
    third->Close();
    EXPECT_EQ(OtherProcessOpens(path_), 1);
    second->Close();
    EXPECT_EQ(OtherProcessOpens(path_), 0);
}

TEST_F(DaoTest, SharedOpensExcludeOnlyExclusiveOnes) {
    auto shared = Open(path_, false);
    EXPECT_EQ(OtherProcessOpens(path_, false), 0);
    EXPECT_EQ(OtherProcessOpens(path_, true), 1);
    auto exclusive = Open(path_, true);  // the process's own shared hold turns exclusive
    EXPECT_EQ(OtherProcessOpens(path_, false), 1);
    exclusive.reset();
    EXPECT_EQ(OtherProcessOpens(path_, false), 0);
    shared.reset();
    EXPECT_EQ(OtherProcessOpens(path_, true), 0);
}

// ---- Read-only ------------------------------------------------------------------------------------

TEST_F(DaoTest, NothingWritesTheCatalogue) {
    struct stat before {}, after {};
    ASSERT_EQ(::stat(path_.c_str(), &before), 0);
    const std::string bytes = ReadFile(path_);
    auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto files = listing();
    {
        // Asking for a writable connection changes nothing either.
        auto db = dao::DBEngine::Get().Workspaces(0).OpenDatabase(path_, true, false, Connect);
        auto rs = db->OpenRecordset("select * from Audio_Asana3");
        while (!rs->Eof()) rs->MoveNext();
        db->OpenRecordset("select * from Asanas where name = \"Tree\"");
        EXPECT_EQ(listing(), files);  // no journal or lock file while open
        db->Close();
    }
    ASSERT_EQ(::stat(path_.c_str(), &after), 0);
    EXPECT_EQ(ReadFile(path_), bytes);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(listing(), files);
}

TEST_F(DaoTest, AnOpenDatabaseKeepsReadingTheFileItOpenedWhenTheCatalogueIsRebuilt) {
    auto db = Open(path_, false);
    Build(R"({"asanas": [{"name": "Other", "AsanaID": 1}]})");
    EXPECT_EQ(db->OpenRecordset("select * from Asanas")->Fields("name"), Variant("Tree"));
    db.reset();
    EXPECT_EQ(Open(path_)->OpenRecordset("select * from Asanas")->Fields("name"), Variant("Other"));
}

// ---- Recordsets -----------------------------------------------------------------------------------

std::vector<std::string> Column(Recordset& rs, std::string_view field) {
    std::vector<std::string> out;
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) out.push_back(CStr(rs.Fields(field)));
    return out;
}

TEST_F(DaoTest, RowsComeInStoredOrderFromTheFirstRowToEof) {
    auto db = Open(path_);
    auto rs = db->OpenRecordset("select * from Audio_Asana3");
    EXPECT_FALSE(rs->Eof());
    EXPECT_EQ(rs->Fields("Filename"), Variant("c1"));  // positioned on the first row at once
    rs->MoveNext();
    rs->MoveNext();
    EXPECT_EQ(rs->Fields("Filename"), Variant("b1"));
    rs->MoveNext();  // from the last row: EOF, no error
    EXPECT_TRUE(rs->Eof());
    EXPECT_EQ(ErrorOf([&] { rs->Fields("Filename"); }), err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }), err::NoCurrentRecord);
    EXPECT_EQ(Column(*rs, "Filename"), (std::vector<std::string>{"c1", "a1", "b1"}));
    EXPECT_EQ(Column(*db->OpenRecordset("select * from Asanas"), "AsanaID"),
              (std::vector<std::string>{"3", "4", "5", "6", "7", "8"}));
    EXPECT_EQ(rs->FieldNames(), (std::vector<std::string>{"Filename", "Action", "StartPos", "EndPos", "Filelen"}));
}

TEST_F(DaoTest, AnEmptySetHasNoCurrentRecord) {
    auto db = Open(path_);
    const std::vector<std::pair<std::string, std::string>> sets = {
        {"select * from Photo_Asana4", "Mp2name"},
        {"select * from Asanas where name = \"Nobody\"", "name"},
    };
    for (const auto& set : sets) {
        const std::string& field = set.second;
        SCOPED_TRACE(set.first);
        auto rs = db->OpenRecordset(set.first);
        EXPECT_TRUE(rs->Eof());
        EXPECT_EQ(ErrorOf([&] { rs->MoveFirst(); }), err::NoCurrentRecord);
        EXPECT_EQ(ErrorOf([&] { rs->Fields(field); }), err::NoCurrentRecord);
        EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }), err::NoCurrentRecord);
        EXPECT_TRUE(rs->Eof());
    }
}

TEST_F(DaoTest, FieldsAreFoundIgnoringCaseAndKeepTheirStoredType) {
    auto db = Open(path_);
    auto cue = db->OpenRecordset("select * from Audio_Asana3");
    EXPECT_EQ(cue->Fields("startpos"), Variant(std::int64_t{30}));
    EXPECT_EQ(cue->Fields("FILELEN"), Variant(1.5));
    EXPECT_EQ(cue->Fields("Action"), Variant("in"));
    cue->MoveNext();
    EXPECT_EQ(cue->Fields("Filelen"), Variant(std::int64_t{2}));  // stored as given: a whole number
    cue->MoveNext();
    EXPECT_TRUE(cue->Fields("Action").isNull());

    auto kinds = db->OpenRecordset("select * from Kinds");
    EXPECT_EQ(kinds->Fields("flag"), Variant(true));
    kinds->MoveNext();
    EXPECT_EQ(kinds->Fields("flag"), Variant(false));
    EXPECT_TRUE(kinds->Fields("n").isNull());

    try {
        cue->Fields("Mp2name");
        ADD_FAILURE();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), err::ItemNotFound);
        EXPECT_NE(e.description().find("Mp2name"), std::string::npos);
    }
}

TEST_F(DaoTest, ClosedObjectsRefuseEveryCall) {
    auto db = Open(path_);
    auto rs = db->OpenRecordset("select * from Asanas");
    rs->Close();
    const std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"MoveFirst", [&] { rs->MoveFirst(); }},
        {"MoveNext", [&] { rs->MoveNext(); }},
        {"Eof", [&] { (void)rs->Eof(); }},
        {"Fields", [&] { rs->Fields("name"); }},
        {"FieldNames", [&] { rs->FieldNames(); }},
        {"Close again", [&] { rs->Close(); }},
    };
    for (const auto& [what, call] : calls) {
        SCOPED_TRACE(what);
        EXPECT_EQ(ErrorOf(call), err::ObjectClosed);
    }

    // Closing the database closes its recordsets, and the database itself refuses everything.
    auto open = db->OpenRecordset("select * from Audio_Asana3");
    db->Close();
    EXPECT_EQ(ErrorOf([&] { (void)open->Eof(); }), err::ObjectClosed);
    EXPECT_EQ(ErrorOf([&] { open->Close(); }), err::ObjectClosed);
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset("select * from Asanas"); }), err::ObjectClosed);
    EXPECT_EQ(ErrorOf([&] { db->TableNames(); }), err::ObjectClosed);
    EXPECT_EQ(ErrorOf([&] { db->Close(); }), err::ObjectClosed);
}

TEST_F(DaoTest, ARecordsetOutlivesItsReleasedDatabase) {
    auto db = Open(path_);
    auto rs = db->OpenRecordset("select * from Audio_Asana3");
    db.reset();  // replaced, as fileOpen replaces AsanaDb, not closed
    EXPECT_EQ(OtherProcessOpens(path_), 0);
    rs->MoveNext();
    EXPECT_EQ(rs->Fields("Filename"), Variant("a1"));
    rs->Close();
}

TEST_F(DaoTest, QueryErrors) {
    auto db = Open(path_);
    const std::vector<std::pair<std::string, int>> cases = {
        {"select * from Audio_Asana4", err::InputTableNotFound},
        {"select * from Photo_Asana3", err::InputTableNotFound},
        {"select * from calmora_meta", err::InputTableNotFound},  // the file's own tables are not the catalogue's
        {"select * from sqlite_master", err::InputTableNotFound},
        {"select * from Asanas where nmae = \"Tree\"", 3061},
        {"select name from Asanas", err::SyntaxError},
        {"select * from Nowhere where name = \"x", err::SyntaxError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(ErrorOf([&] { db->OpenRecordset(c.first); }), c.second);
    }
    EXPECT_EQ(ErrorOf([&] { dao::DBEngine::Get().Workspaces(1); }), err::ItemNotFound);
}

TEST_F(DaoTest, TheWhereTextMatchesWholeNamesIgnoringCase) {
    auto db = Open(path_);
    struct Case {
        std::string name;  // as the control splices it between double quotes
        std::vector<std::string> ids;
    };
    const std::vector<Case> cases = {
        {"Tree", {"3"}},
        {"tREE", {"3"}},
        {"Tree ", {"6"}},  // used as stored: no trimming
        {" Tree", {}},
        {"Tre", {}},
        {"x\" or name = \"Tree", {"4"}},  // the spliced condition is part of the name
        {"X\" OR NAME = \"TREE", {"4"}},
        {"x", {}},
        {"BÄUME ÜBUNG", {"5"}},
        {"bäume übung", {"5"}},
        {"Baume Ubung", {}},
        {"twin", {"7", "8"}},  // every match, in stored order
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto rs = db->OpenRecordset("select * from Asanas where name = \"" + c.name + "\"");
        std::vector<std::string> ids;
        for (; !rs->Eof(); rs->MoveNext()) ids.push_back(CStr(rs->Fields("AsanaID")));
        EXPECT_EQ(ids, c.ids);
    }
    // Other fields and tables work alike; the text of a number matches the number.
    EXPECT_EQ(CStr(db->OpenRecordset("select * from asanas where DISP_TYPE = \"photo\"")->Fields("name")),
              "x\" or name = \"Tree");
    EXPECT_EQ(CStr(db->OpenRecordset("select * from Asanas where AsanaID = \"5\"")->Fields("name")), "Bäume Übung");
    EXPECT_EQ(CStr(db->OpenRecordset("select * from Kinds where flag = \"TRUE\"")->Fields("n")), "7");
}

TEST_F(DaoTest, TableNamesAndOpenTableReachEveryTable) {
    const std::string odd = Build(R"({"tables": {"Audio_Asana-3": [{"Filename": "a"}], "has blank": []}})", "odd.mdb");
    auto db = Open(odd);
    EXPECT_EQ(db->TableNames(), (std::vector<std::string>{"Audio_Asana-3", "has blank"}));
    EXPECT_EQ(db->OpenTable("AUDIO_ASANA-3")->Fields("Filename"), Variant("a"));
    EXPECT_TRUE(db->OpenTable("has blank")->Eof());
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset("select * from Audio_Asana-3"); }), err::SyntaxError);
    EXPECT_EQ(ErrorOf([&] { db->OpenTable("Asanas"); }), err::InputTableNotFound);
}

}  // namespace
}  // namespace calmora::testing
