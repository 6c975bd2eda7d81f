// Data access objects over the asana catalogue: the engine, its workspace, databases and recordsets,
// with the error numbers callers rely on. Storage is SQLite; the SQL text is never handed to SQLite
// (a small front end accepts exactly the select forms the control sends).
//
// Errors (RuntimeError): 3021 no current record; 3420 any call on a closed object (a second Close
// included); 3265 no such field; 3024 file not found; 3031 wrong or missing password; 3045 file held
// by another process; 3051 file cannot be opened; 3343 not a catalogue (or damaged); 3078 no such
// table; 3131 query not understood; 3061 a where clause naming a field the table lacks.
//
// Object references follow the control's fields: shared_ptr, released when replaced. Closing a
// database closes its recordsets. Releasing a database without closing it drops its file and its
// exclusive hold, but recordsets already opened keep their rows (they are read at open) until closed.
//
// Exclusive open: one advisory lock (flock) per file per process, shared by that process's open
// databases on the file and dropped with the last; another process's open fails with 3045. Opens
// that are not exclusive take the lock shared. Nothing ever writes the file.
#pragma once

#include <calmora/Error.h>
#include <calmora/Variant.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace calmora::dao {

class Recordset {
public:
    struct Impl;
    explicit Recordset(std::unique_ptr<Impl> impl);
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    void MoveFirst();   // 3021 when there is no row
    void MoveNext();    // from the last row: EOF becomes true, no error; already past the end: 3021
    bool Eof() const;   // true past the last row (at once for an empty set)
    Variant Fields(std::string_view name) const;  // Fields(name).Value; 3021 with no current row, 3265
    void Close();
    std::vector<std::string> FieldNames() const;  // the Fields collection's names, in table order

private:
    std::unique_ptr<Impl> impl_;
};

class Database {
public:
    struct Impl;
    explicit Database(std::unique_ptr<Impl> impl);
    ~Database();  // releases the exclusive hold when it was the last open object for that file
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // "select * from <table>" or "select * from <table> where <field> = "<text>""; positioned on the
    // first row.
    std::shared_ptr<Recordset> OpenRecordset(std::string_view sql);
    void Close();

    // For the catalogue tool: every table in stored order, and a table opened by its name (any
    // letter case; no query, so names the query forms cannot spell are reachable too). 3078.
    std::vector<std::string> TableNames();
    std::shared_ptr<Recordset> OpenTable(std::string_view tableName);

private:
    std::unique_ptr<Impl> impl_;
};

class Workspace {
public:
    // name: path as the control builds it ("\" separators, any letter case); connect ";PWD=...;".
    std::shared_ptr<Database> OpenDatabase(std::string_view name, bool exclusive, bool readOnly,
                                           std::string_view connect);
};

class DBEngine {
public:
    static DBEngine& Get();  // made on first use and kept
    Workspace& Workspaces(int index);  // 0 only

private:
    DBEngine() = default;
    Workspace ws_;
};

}  // namespace calmora::dao
