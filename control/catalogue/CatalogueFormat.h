// The catalogue file as stored: one SQLite file shared by the reader (Dao) and the builder tool.
//
// The catalogue's own tables are not SQLite tables: a catalogue has two tables per asana, and SQLite
// parses the whole schema on every open, which alone would cost milliseconds for a full catalogue.
// So the content lives in four fixed tables, and every catalogue table is rows of cells:
//
//   calmora_meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID
//       "format" = FormatVersion, "kdf" = "pbkdf2-hmac-sha256", "iterations", "salt", "verifier"
//   calmora_tables(id INTEGER PRIMARY KEY, name TEXT, folded TEXT UNIQUE, rows INTEGER)
//       ids in stored order; folded = FoldCase(name), the key table names are found by
//   calmora_columns(tbl, pos, name, PRIMARY KEY(tbl, pos)) WITHOUT ROWID
//   calmora_cells(tbl, row, col, value, folded, PRIMARY KEY(tbl, row, col)) WITHOUT ROWID
//       rows numbered from 0 in insertion order; a Null cell is not stored; folded = the value's text
//       folded (KeyText), indexed by (tbl, col, folded) for the where lookup
//
// Values keep SQLite's own types (INTEGER, REAL, TEXT); a Boolean is a one-byte BLOB (0 or 1).
// The header's application id marks the file as a catalogue.
#pragma once

#include <calmora/Variant.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace calmora::catalogue::format {

inline constexpr std::int32_t ApplicationId = 0x434C4D43;  // "CLMC"
inline constexpr std::int64_t FormatVersion = 1;
inline constexpr std::string_view Kdf = "pbkdf2-hmac-sha256";
// The password travels inside the control itself, so stretching guards little; what matters is that
// the file never holds the password. Readers cache a success per process (see Dao.cpp).
inline constexpr int DefaultIterations = 10000;
inline constexpr int MaxIterations = 5'000'000;  // a damaged or hostile file must not stall an open
inline constexpr std::int64_t MaxRows = 10'000'000;

extern const char* const SchemaSql;  // creates the four tables (the index comes after the cells)
extern const char* const IndexSql;

struct Verifier {
    std::int64_t iterations = 0;
    std::vector<unsigned char> salt;
    std::vector<unsigned char> digest;
};

Verifier MakeVerifier(std::string_view password, int iterations);  // fresh random salt
bool CheckPassword(const Verifier& v, std::string_view password);  // constant-time comparison
// A digest of verifier and password together: what a reader remembers of a successful check.
std::string VerificationKey(const Verifier& v, std::string_view password);

// The text a where comparison sees for a stored value, folded; none for Null.
std::optional<std::string> KeyText(const Variant& value);

// SQLite handles with RAII and the value mapping above.
struct SqliteCloser {
    void operator()(sqlite3* db) const;
};
using SqliteDb = std::unique_ptr<sqlite3, SqliteCloser>;

class Statement {
public:
    Statement() = default;
    Statement(sqlite3* db, std::string_view sql);  // throws std::runtime_error with SQLite's message
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return stmt_ != nullptr; }
    void Reset();  // also clears the bindings
    void Bind(int index, std::int64_t value);
    void Bind(int index, std::string_view text);
    void Bind(int index, const Variant& value);
    void BindBlob(int index, const std::vector<unsigned char>& bytes);
    bool Step();  // true for a row; throws StepError on failure
    std::int64_t Int(int col) const;
    std::string Text(int col) const;
    Variant Value(int col) const;
    std::vector<unsigned char> Blob(int col) const;
    int Type(int col) const;  // SQLITE_INTEGER ...

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// A failed step, with SQLite's result code, so that a reader can tell a damaged file from the rest.
class StepError : public std::runtime_error {
public:
    StepError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

}  // namespace calmora::catalogue::format
