#include "Dao.h"

#include "CatalogueFormat.h"
#include "SqlFrontEnd.h"
#include "common/Conversions.h"
#include "common/ErrorNumbers.h"
#include "common/PathResolver.h"
#include "common/Text.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>

namespace calmora::dao {
namespace {

namespace fmt = catalogue::format;

// Jet's number for a where clause naming no field of the table: the name is taken for a parameter.
constexpr int TooFewParameters = 3061;

[[noreturn]] void Raise(int number, const std::string& message) { err::Raise(number, message); }

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

// ---- Exclusive hold --------------------------------------------------------------------------------
// flock locks belong to an open file description: two descriptors of one process on the same file
// would shut each other out, and fcntl locks vanish at any close of the file. So each process keeps
// one descriptor per file (by device and inode) with one flock on it, counted over its open
// databases. Entries remember their process: a forked child does not own its parent's locks.

struct FileKey {
    dev_t dev;
    ino_t ino;
    friend bool operator<(const FileKey& a, const FileKey& b) {
        return a.dev != b.dev ? a.dev < b.dev : a.ino < b.ino;
    }
};

struct LockEntry {
    int fd = -1;
    pid_t pid = 0;
    int holders = 0;
    int exclusiveHolders = 0;
    bool exclusiveMode = false;
};

struct LockRegistry {
    std::mutex mutex;
    std::map<FileKey, std::shared_ptr<LockEntry>> entries;
};

// The registry lives as long as the last hold on it, whatever the order of static destruction.
std::shared_ptr<LockRegistry> Registry() {
    static const std::shared_ptr<LockRegistry> registry = std::make_shared<LockRegistry>();
    return registry;
}

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

class LockHold {
public:
    // Takes ownership of fd when it becomes the process's descriptor for the file.
    LockHold(UniqueFd& fd, const struct stat& st, bool exclusive, const std::string& path)
        : registry_(Registry()), key_{st.st_dev, st.st_ino}, exclusive_(exclusive) {
        std::lock_guard<std::mutex> guard(registry_->mutex);
        auto it = registry_->entries.find(key_);
        if (it != registry_->entries.end() && it->second->pid == ::getpid() && it->second->holders > 0) {
            auto& e = *it->second;
            if (exclusive && !e.exclusiveMode) {
                if (::flock(e.fd, LOCK_EX | LOCK_NB) != 0) {
                    ::flock(e.fd, LOCK_SH | LOCK_NB);  // a conversion may drop the old lock first
                    Busy(path);
                }
                e.exclusiveMode = true;
            }
            entry_ = it->second;
        } else {
            if (::flock(fd.get(), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) Busy(path);
            auto e = std::make_shared<LockEntry>();
            e->fd = fd.release();
            e->pid = ::getpid();
            e->exclusiveMode = exclusive;
            registry_->entries[key_] = e;
            entry_ = std::move(e);
        }
        ++entry_->holders;
        if (exclusive) ++entry_->exclusiveHolders;
    }

    ~LockHold() {
        std::lock_guard<std::mutex> guard(registry_->mutex);
        if (entry_->pid != ::getpid()) return;  // inherited through fork: the parent's to release
        --entry_->holders;
        if (exclusive_) --entry_->exclusiveHolders;
        if (entry_->holders == 0) {
            ::close(entry_->fd);  // the only descriptor: the flock goes with it
            entry_->fd = -1;
            auto it = registry_->entries.find(key_);
            if (it != registry_->entries.end() && it->second == entry_) registry_->entries.erase(it);
        } else if (entry_->exclusiveHolders == 0 && entry_->exclusiveMode) {
            ::flock(entry_->fd, LOCK_SH | LOCK_NB);
            entry_->exclusiveMode = false;
        }
    }

    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;

private:
    [[noreturn]] static void Busy(const std::string& path) {
        Raise(err::FileAlreadyInUse, "Could not use " + Quoted(path) + "; file already in use.");
    }

    std::shared_ptr<LockRegistry> registry_;
    FileKey key_;
    bool exclusive_;
    std::shared_ptr<LockEntry> entry_;
};

// ---- Password ------------------------------------------------------------------------------------
// The verifier's derivation costs milliseconds by design, more than a whole fileOpen may. A process
// remembers each (verifier, password) pair it has checked successfully, as a digest of both: a file
// with another verifier, or another password, is checked afresh.

struct VerifiedCache {
    std::mutex mutex;
    std::set<std::string> keys;
};

VerifiedCache& Verified() {
    static VerifiedCache cache;
    return cache;
}

bool PasswordMatches(const fmt::Verifier& v, std::string_view password) {
    const std::string key = fmt::VerificationKey(v, password);
    auto& cache = Verified();
    {
        std::lock_guard<std::mutex> guard(cache.mutex);
        if (cache.keys.count(key)) return true;
    }
    if (!fmt::CheckPassword(v, password)) return false;
    std::lock_guard<std::mutex> guard(cache.mutex);
    cache.keys.insert(key);
    return true;
}

// ";PWD=secret;" and the like: parts separated by ";", the key without regard to case.
std::string PasswordOf(std::string_view connect) {
    std::size_t pos = 0;
    while (pos <= connect.size()) {
        std::size_t end = connect.find(';', pos);
        if (end == std::string_view::npos) end = connect.size();
        const std::string_view part = connect.substr(pos, end - pos);
        const std::size_t eq = part.find('=');
        if (eq != std::string_view::npos && EqualsIgnoreCase(Trim(part.substr(0, eq)), "PWD"))
            return std::string(part.substr(eq + 1));
        pos = end + 1;
    }
    return {};
}

std::string UriEscape(std::string_view path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out = "file:";
    for (char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '/' || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// ---- Rows ----------------------------------------------------------------------------------------

struct RowSet {
    std::vector<std::string> columns;
    std::vector<std::string> folded;  // the columns, folded, for the case-blind field look-up
    std::vector<std::vector<Variant>> rows;
};

struct RecordsetState {
    RowSet data;
    std::size_t pos = 0;
    bool closed = false;
};

[[noreturn]] void RaiseClosed() { err::Raise(err::ObjectClosed); }

}  // namespace

// ---- Recordset ------------------------------------------------------------------------------------

struct Recordset::Impl {
    std::shared_ptr<RecordsetState> state;

    RecordsetState& Open() const {
        if (state->closed) RaiseClosed();
        return *state;
    }
};

Recordset::Recordset(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Recordset::~Recordset() = default;

void Recordset::MoveFirst() {
    auto& s = impl_->Open();
    if (s.data.rows.empty()) err::Raise(err::NoCurrentRecord);
    s.pos = 0;
}

void Recordset::MoveNext() {
    auto& s = impl_->Open();
    if (s.pos >= s.data.rows.size()) err::Raise(err::NoCurrentRecord);
    ++s.pos;
}

bool Recordset::Eof() const {
    const auto& s = impl_->Open();
    return s.pos >= s.data.rows.size();
}

Variant Recordset::Fields(std::string_view name) const {
    const auto& s = impl_->Open();
    std::size_t col = 0;
    const auto& cols = s.data.columns;
    while (col < cols.size() && cols[col] != name) ++col;
    if (col == cols.size()) {
        const std::string folded = FoldCase(name);
        col = 0;
        while (col < cols.size() && s.data.folded[col] != folded) ++col;
        if (col == cols.size())
            Raise(err::ItemNotFound, "Item not found in this collection. (no field " + Quoted(name) + ")");
    }
    if (s.pos >= s.data.rows.size()) err::Raise(err::NoCurrentRecord);
    return s.data.rows[s.pos][col];
}

void Recordset::Close() {
    auto& s = impl_->Open();
    s.closed = true;
    s.data = RowSet{};
}

std::vector<std::string> Recordset::FieldNames() const { return impl_->Open().data.columns; }

// ---- Database -------------------------------------------------------------------------------------

struct Database::Impl {
    std::string path;
    fmt::SqliteDb db;
    std::unique_ptr<LockHold> hold;
    fmt::Statement findTable, columns, allCells, matchCells;  // prepared on first use, kept
    std::vector<std::weak_ptr<RecordsetState>> recordsets;
    bool closed = false;

    // Statements go before the connection, the connection before the hold.
    void Release() {
        findTable = {};
        columns = {};
        allCells = {};
        matchCells = {};
        db.reset();
        hold.reset();
    }

    void CheckOpen() const {
        if (closed) RaiseClosed();
    }

    fmt::Statement& Prepared(fmt::Statement& s, const char* sql) {
        if (!s) s = fmt::Statement(db.get(), sql);
        s.Reset();
        return s;
    }

    [[noreturn]] void Damaged(const std::exception& e) const {
        Raise(err::UnrecognizedDatabaseFormat,
              "Unrecognized database format " + Quoted(path) + " (damaged catalogue: " + e.what() + ").");
    }

    struct TableRef {
        std::int64_t id;
        std::int64_t rows;
    };

    TableRef FindTable(std::string_view name) {
        auto& s = Prepared(findTable, "SELECT id, rows FROM calmora_tables WHERE folded = ?1");
        s.Bind(1, std::string_view(FoldCase(name)));
        if (!s.Step())
            Raise(err::InputTableNotFound, "The catalogue has no table or query named " + Quoted(name) +
                                               ". Make sure it exists and that its name is spelled correctly.");
        TableRef t{s.Int(0), s.Int(1)};
        s.Reset();
        if (t.rows < 0 || t.rows > fmt::MaxRows) throw std::runtime_error("row count out of range");
        return t;
    }

    std::shared_ptr<Recordset> Query(std::string_view table, const std::optional<std::string>& field,
                                     std::string_view text) {
        CheckOpen();
        auto state = std::make_shared<RecordsetState>();
        RowSet& data = state->data;
        try {
            const TableRef t = FindTable(table);
            auto& c = Prepared(columns, "SELECT name FROM calmora_columns WHERE tbl = ?1 ORDER BY pos");
            c.Bind(1, t.id);
            while (c.Step()) {
                data.columns.push_back(c.Text(0));
                data.folded.push_back(FoldCase(data.columns.back()));
            }
            c.Reset();

            fmt::Statement* cells = nullptr;
            if (field) {
                const std::string folded = FoldCase(*field);
                std::size_t col = 0;
                while (col < data.folded.size() && data.folded[col] != folded) ++col;
                if (col == data.folded.size())
                    Raise(TooFewParameters, "Too few parameters. Expected 1. (table " + Quoted(table) +
                                                " has no field " + Quoted(*field) + ")");
                cells = &Prepared(matchCells,
                                  "SELECT row, col, value FROM calmora_cells WHERE tbl = ?1 AND row IN"
                                  " (SELECT row FROM calmora_cells WHERE tbl = ?1 AND col = ?2 AND folded = ?3)"
                                  " ORDER BY row, col");
                cells->Bind(1, t.id);
                cells->Bind(2, static_cast<std::int64_t>(col));
                cells->Bind(3, std::string_view(FoldCase(text)));
            } else {
                cells = &Prepared(allCells, "SELECT row, col, value FROM calmora_cells WHERE tbl = ?1 ORDER BY row, col");
                cells->Bind(1, t.id);
                data.rows.assign(static_cast<std::size_t>(t.rows), std::vector<Variant>(data.columns.size(), Null{}));
            }
            std::int64_t lastRow = -1;
            while (cells->Step()) {
                const std::int64_t row = cells->Int(0), col = cells->Int(1);
                if (row < 0 || row >= t.rows || col < 0 || col >= static_cast<std::int64_t>(data.columns.size()))
                    throw std::runtime_error("cell outside its table");
                std::vector<Variant>* target = nullptr;
                if (field) {  // only the matching rows, in stored order
                    if (row != lastRow) data.rows.emplace_back(data.columns.size(), Null{});
                    target = &data.rows.back();
                } else {
                    target = &data.rows[static_cast<std::size_t>(row)];
                }
                lastRow = row;
                (*target)[static_cast<std::size_t>(col)] = cells->Value(2);
            }
            cells->Reset();
        } catch (const fmt::StepError& e) {
            Damaged(e);
        } catch (const RuntimeError&) {
            throw;
        } catch (const std::runtime_error& e) {
            Damaged(e);
        }
        recordsets.erase(std::remove_if(recordsets.begin(), recordsets.end(),
                                        [](const std::weak_ptr<RecordsetState>& w) { return w.expired(); }),
                         recordsets.end());
        recordsets.push_back(state);
        auto impl = std::make_unique<Recordset::Impl>();
        impl->state = std::move(state);
        return std::make_shared<Recordset>(std::move(impl));
    }
};

Database::Database(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Database::~Database() {
    if (impl_ && !impl_->closed) impl_->Release();
}

std::shared_ptr<Recordset> Database::OpenRecordset(std::string_view sql) {
    impl_->CheckOpen();
    const catalogue::SelectQuery q = catalogue::ParseSelect(sql);
    return impl_->Query(q.table, q.field, q.text);
}

std::shared_ptr<Recordset> Database::OpenTable(std::string_view tableName) {
    return impl_->Query(tableName, std::nullopt, {});
}

std::vector<std::string> Database::TableNames() {
    impl_->CheckOpen();
    std::vector<std::string> names;
    try {
        fmt::Statement s(impl_->db.get(), "SELECT name FROM calmora_tables ORDER BY id");
        while (s.Step()) names.push_back(s.Text(0));
    } catch (const fmt::StepError& e) {
        impl_->Damaged(e);
    }
    return names;
}

void Database::Close() {
    impl_->CheckOpen();
    for (auto& w : impl_->recordsets)
        if (auto s = w.lock()) {
            s->closed = true;
            s->data = RowSet{};
        }
    impl_->recordsets.clear();
    impl_->closed = true;
    impl_->Release();
}

// ---- Opening --------------------------------------------------------------------------------------

std::shared_ptr<Database> Workspace::OpenDatabase(std::string_view name, bool exclusive, bool /*readOnly*/,
                                                  std::string_view connect) {
    // Whatever the caller asks, the connection is read-only: nothing in the control writes.
    const std::string path = ResolvePath(name);
    const std::string shown = Quoted(name);

    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) Raise(err::DatabaseFileNotFound, "Could not find file " + shown + ".");
        Raise(err::CannotOpenFile, "Cannot open the file " + shown + ": " + std::strerror(errno) + ".");
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        Raise(err::CannotOpenFile, "Cannot open the file " + shown + ": it is not a file.");

    // The header tells a catalogue from other files before SQLite is involved.
    unsigned char header[100] = {};
    const ssize_t got = ::pread(fd.get(), header, sizeof header, 0);
    if (got != static_cast<ssize_t>(sizeof header) || std::memcmp(header, "SQLite format 3", 16) != 0)
        Raise(err::UnrecognizedDatabaseFormat, "Unrecognized database format " + shown + ".");
    const std::int32_t appId = static_cast<std::int32_t>((std::uint32_t{header[68]} << 24) | (std::uint32_t{header[69]} << 16) |
                                                         (std::uint32_t{header[70]} << 8) | std::uint32_t{header[71]});
    if (appId != fmt::ApplicationId)
        Raise(err::UnrecognizedDatabaseFormat, "Unrecognized database format " + shown + ": it is not an asana catalogue.");

    auto impl = std::make_unique<Database::Impl>();
    impl->path = std::string(name);
    impl->hold = std::make_unique<LockHold>(fd, st, exclusive, impl->path);

    // Immutable (no locks, no change checks) is safe when no journal can hold newer pages: the
    // builder writes without a journal and replaces files by renaming, never in place.
    const bool wal = header[18] == 2 || header[19] == 2;
    const bool immutable = !wal && !FileExists(path + "-journal");
    const std::string uri = UriEscape(path) + "?mode=ro" + (immutable ? "&immutable=1" : "");
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    impl->db.reset(raw);
    if (rc != SQLITE_OK)
        Raise(err::CannotOpenFile, "Cannot open the file " + shown + ": " + (raw ? sqlite3_errmsg(raw) : "out of memory") + ".");

    fmt::Verifier verifier;
    bool haveSalt = false, haveDigest = false;
    std::string kdf;
    std::int64_t format = 0;
    try {
        fmt::Statement meta(impl->db.get(), "SELECT key, value FROM calmora_meta");
        while (meta.Step()) {
            const std::string key = meta.Text(0);
            if (key == "format") format = meta.Int(1);
            else if (key == "kdf") kdf = meta.Text(1);
            else if (key == "iterations") verifier.iterations = meta.Int(1);
            else if (key == "salt") verifier.salt = meta.Blob(1), haveSalt = true;
            else if (key == "verifier") verifier.digest = meta.Blob(1), haveDigest = true;
        }
    } catch (const fmt::StepError& e) {
        Raise(err::UnrecognizedDatabaseFormat,
              "Unrecognized database format " + shown + " (" + e.what() + ").");
    }
    if (format != fmt::FormatVersion)
        Raise(err::UnrecognizedDatabaseFormat, "Unrecognized database format " + shown + ": catalogue format " +
                                                   std::to_string(format) + ", this reader knows " +
                                                   std::to_string(fmt::FormatVersion) + ".");
    if (!haveSalt || !haveDigest || kdf != fmt::Kdf)
        Raise(err::NotAValidPassword, "Not a valid password: the catalogue " + shown + " holds no password verifier.");
    if (!PasswordMatches(verifier, PasswordOf(connect)))
        Raise(err::NotAValidPassword, "Not a valid password for the catalogue " + shown + ".");

    return std::make_shared<Database>(std::move(impl));
}

DBEngine& DBEngine::Get() {
    static DBEngine engine;
    return engine;
}

Workspace& DBEngine::Workspaces(int index) {
    if (index != 0) Raise(err::ItemNotFound, "Item not found in this collection. (workspace " + std::to_string(index) + ")");
    return ws_;
}

}  // namespace calmora::dao
