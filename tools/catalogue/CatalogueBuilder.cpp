#include "CatalogueBuilder.h"
#include "CatalogueNames.h"

#include "catalogue/CatalogueFormat.h"
#include "common/Conversions.h"
#include "common/Text.h"

#include <calmora/Error.h>

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <unistd.h>

namespace calmora::catalogue {
namespace {

using Json = nlohmann::ordered_json;
namespace fmt = format;

constexpr int MaxDepth = 64;  // a manifest is four levels deep; this bounds what the parser walks

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw std::runtime_error(where.empty() ? what : where + ": " + what);
}

std::string Quote(std::string_view s) { return "\"" + std::string(s) + "\""; }

// Rejects deep nesting before the JSON parser sees it.
void CheckDepth(std::string_view text) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > MaxDepth) Fail("", "manifest nests deeper than " + std::to_string(MaxDepth) + " levels");
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
}

Variant ToValue(const Json& j, const std::string& where) {
    switch (j.type()) {
    case Json::value_t::null: return Null{};
    case Json::value_t::boolean: return j.get<bool>();
    case Json::value_t::number_integer: return j.get<std::int64_t>();
    case Json::value_t::number_unsigned: {
        const auto u = j.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            Fail(where, "the number " + std::to_string(u) + " is too large for a whole-number value");
        return static_cast<std::int64_t>(u);
    }
    case Json::value_t::number_float: return j.get<double>();
    case Json::value_t::string: return j.get<std::string>();
    default: Fail(where, "a value must be text, a number, true, false or null, not " + std::string(j.type_name()));
    }
}

// Builds one table from row objects: the fixed fields first (always present, Null where a row lacks
// them), then every other key in order of first appearance. Field names ignore case, as the engine's
// do, so two spellings of one name are a fault rather than two fields.
class TableMaker {
public:
    TableMaker(std::string name, std::vector<std::string> fixed, std::vector<std::string> skip = {})
        : skip_(std::move(skip)) {
        table_.name = std::move(name);
        for (auto& f : fixed) AddColumn(f, "");
    }

    void AddRow(const Json& row, const std::string& where) {
        if (!row.is_object()) Fail(where, "a row must be a JSON object, not " + std::string(row.type_name()));
        std::vector<Variant> values(table_.columns.size(), Variant(Null{}));
        for (auto it = row.begin(); it != row.end(); ++it) {
            const std::string& key = it.key();
            if (std::find(skip_.begin(), skip_.end(), key) != skip_.end()) continue;
            const std::size_t col = AddColumn(key, where);
            if (col >= values.size()) values.resize(col + 1, Variant(Null{}));
            values[col] = ToValue(it.value(), where + "." + key);
        }
        table_.rows.push_back(std::move(values));
    }

    TableData Take() {
        for (auto& r : table_.rows) r.resize(table_.columns.size(), Variant(Null{}));
        return std::move(table_);
    }

private:
    std::size_t AddColumn(const std::string& name, const std::string& where) {
        if (name.empty()) Fail(where, "a field name must not be empty");
        const std::string folded = FoldCase(name);
        auto it = byFold_.find(folded);
        if (it != byFold_.end()) {
            const std::string& known = table_.columns[it->second];
            if (known != name)
                Fail(where, "field " + Quote(name) + " clashes with " + Quote(known) + " in table " +
                                Quote(table_.name) + " (field names ignore letter case)");
            return it->second;
        }
        table_.columns.push_back(name);
        byFold_.emplace(folded, table_.columns.size() - 1);
        return table_.columns.size() - 1;
    }

    TableData table_;
    std::vector<std::string> skip_;
    std::map<std::string, std::size_t> byFold_;
};

std::string IdText(const Variant& id, const std::string& where) {
    if (id.isNull()) Fail(where, "\"AsanaID\" is null, so no cue or photo table can be named after it");
    if (const auto text = names::IdText(id)) return *text;
    Fail(where, "\"AsanaID\" " + Quote(CStr(id)) + " is not a number, so no cue or photo table can be named after it");
}

class TableList {
public:
    void Add(TableData t, const std::string& where) {
        if (t.name.empty()) Fail(where, "a table name must not be empty");
        const std::string folded = FoldCase(t.name);
        auto [it, fresh] = byFold_.emplace(folded, t.name);
        if (!fresh)
            Fail(where, "table " + Quote(t.name) + " is given twice" +
                            (it->second != t.name ? " (as " + Quote(it->second) + "; table names ignore letter case)" : ""));
        tables_.push_back(std::move(t));
    }
    std::vector<TableData> Take() { return std::move(tables_); }

private:
    std::vector<TableData> tables_;
    std::map<std::string, std::string> byFold_;
};

TableData MakeRowTable(const std::string& name, const std::vector<std::string>& fixed, const Json& rows,
                       const std::string& where) {
    if (!rows.is_array()) Fail(where, "must be a JSON array of rows, not " + std::string(rows.type_name()));
    TableMaker maker(name, fixed);
    std::size_t i = 0;
    for (const auto& row : rows) maker.AddRow(row, where + "[" + std::to_string(i++) + "]");
    return maker.Take();
}

}  // namespace

std::vector<TableData> ReadManifest(std::string_view manifestJson) {
    CheckDepth(manifestJson);
    Json doc;
    try {
        doc = Json::parse(manifestJson.begin(), manifestJson.end());
    } catch (const Json::exception& e) {
        Fail("", std::string("manifest is not valid JSON: ") + e.what());
    }
    if (!doc.is_object()) Fail("", "a manifest must be a JSON object with \"asanas\" and/or \"tables\"");
    for (auto it = doc.begin(); it != doc.end(); ++it)
        if (it.key() != "asanas" && it.key() != "tables")
            Fail("", "unknown key " + Quote(it.key()) + " in the manifest (expected \"asanas\" and \"tables\")");

    TableList out;
    if (doc.contains("asanas")) {
        const Json& asanas = doc["asanas"];
        if (!asanas.is_array()) Fail("asanas", "must be a JSON array, not " + std::string(asanas.type_name()));
        TableMaker asanaTable(names::AsanaTable, names::AsanaFields, {"cues", "photos"});
        std::vector<TableData> perAsana;
        for (std::size_t i = 0; i < asanas.size(); ++i) {
            const std::string where = "asanas[" + std::to_string(i) + "]";
            const Json& a = asanas[i];
            asanaTable.AddRow(a, where);
            const bool cues = a.contains("cues"), photos = a.contains("photos");
            if (!cues && !photos) continue;
            const std::string id = IdText(a.contains("AsanaID") ? ToValue(a["AsanaID"], where) : Variant(Null{}), where);
            if (cues) perAsana.push_back(MakeRowTable(names::CueTablePrefix + id, names::CueFields, a["cues"], where + ".cues"));
            if (photos) perAsana.push_back(MakeRowTable(names::PhotoTablePrefix + id, names::PhotoFields, a["photos"], where + ".photos"));
        }
        out.Add(asanaTable.Take(), "asanas");
        for (auto& t : perAsana) {
            const std::string name = t.name;
            out.Add(std::move(t), "asanas (table " + Quote(name) + ")");
        }
    }
    if (doc.contains("tables")) {
        const Json& tables = doc["tables"];
        if (!tables.is_object()) Fail("tables", "must be a JSON object of table name to rows, not " + std::string(tables.type_name()));
        for (auto it = tables.begin(); it != tables.end(); ++it)
            out.Add(MakeRowTable(it.key(), {}, it.value(), "tables." + it.key()), "tables." + it.key());
    }
    return out.Take();
}

namespace {

// Removes the temporary file unless the build got as far as renaming it.
class TempFile {
public:
    explicit TempFile(const std::string& target) : path_(target + ".tmp.XXXXXX") {
        const int fd = ::mkstemp(path_.data());
        if (fd < 0) throw std::runtime_error("cannot create a file beside " + target + ": " + std::strerror(errno));
        ::close(fd);
    }
    ~TempFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }
    void MoveTo(const std::string& target) {
        if (::rename(path_.c_str(), target.c_str()) != 0)
            throw std::runtime_error("cannot replace " + target + ": " + std::strerror(errno));
        path_.clear();
    }

private:
    std::string path_;
};

void Exec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "unknown error";
        sqlite3_free(message);
        throw std::runtime_error("writing the catalogue failed: " + text);
    }
}

}  // namespace

void WriteCatalogue(const std::vector<TableData>& tables, const std::string& outPath, const std::string& password) {
    if (password.empty()) throw std::runtime_error("the password must not be empty");
    if (password.find(';') != std::string::npos)
        throw std::runtime_error("the password must not contain \";\" (it would end the PWD part of a connect string)");
    TempFile temp(outPath);
    {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(temp.path().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
        fmt::SqliteDb db(raw);
        if (rc != SQLITE_OK)
            throw std::runtime_error("cannot write " + temp.path() + ": " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
        // One writer, a new file: no journal needed, and a file without one is safe to open immutable.
        Exec(db.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
        Exec(db.get(), ("PRAGMA application_id=" + std::to_string(fmt::ApplicationId) + ";").c_str());
        Exec(db.get(), fmt::SchemaSql);
        Exec(db.get(), "BEGIN;");
        try {
            const fmt::Verifier v = fmt::MakeVerifier(password, fmt::DefaultIterations);
            fmt::Statement meta(db.get(), "INSERT INTO calmora_meta(key, value) VALUES(?1, ?2)");
            auto put = [&](std::string_view key, auto bind) {
                meta.Reset();
                meta.Bind(1, key);
                bind(meta);
                meta.Step();
            };
            put("format", [](fmt::Statement& s) { s.Bind(2, fmt::FormatVersion); });
            put("kdf", [](fmt::Statement& s) { s.Bind(2, fmt::Kdf); });
            put("iterations", [&](fmt::Statement& s) { s.Bind(2, v.iterations); });
            put("salt", [&](fmt::Statement& s) { s.BindBlob(2, v.salt); });
            put("verifier", [&](fmt::Statement& s) { s.BindBlob(2, v.digest); });

            fmt::Statement tableIns(db.get(), "INSERT INTO calmora_tables(id, name, folded, rows) VALUES(?1, ?2, ?3, ?4)");
            fmt::Statement colIns(db.get(), "INSERT INTO calmora_columns(tbl, pos, name) VALUES(?1, ?2, ?3)");
            fmt::Statement cellIns(db.get(), "INSERT INTO calmora_cells(tbl, row, col, value, folded) VALUES(?1, ?2, ?3, ?4, ?5)");
            std::int64_t id = 0;
            for (const TableData& t : tables) {
                ++id;
                if (static_cast<std::int64_t>(t.rows.size()) > fmt::MaxRows)
                    throw std::runtime_error("table " + Quote(t.name) + " has more than " + std::to_string(fmt::MaxRows) + " rows");
                tableIns.Reset();
                tableIns.Bind(1, id);
                tableIns.Bind(2, std::string_view(t.name));
                tableIns.Bind(3, std::string_view(FoldCase(t.name)));
                tableIns.Bind(4, static_cast<std::int64_t>(t.rows.size()));
                tableIns.Step();
                for (std::size_t c = 0; c < t.columns.size(); ++c) {
                    colIns.Reset();
                    colIns.Bind(1, id);
                    colIns.Bind(2, static_cast<std::int64_t>(c));
                    colIns.Bind(3, std::string_view(t.columns[c]));
                    colIns.Step();
                }
                for (std::size_t r = 0; r < t.rows.size(); ++r) {
                    for (std::size_t c = 0; c < t.rows[r].size() && c < t.columns.size(); ++c) {
                        const Variant& value = t.rows[r][c];
                        const auto key = fmt::KeyText(value);
                        if (!key) continue;  // Null: not stored
                        cellIns.Reset();
                        cellIns.Bind(1, id);
                        cellIns.Bind(2, static_cast<std::int64_t>(r));
                        cellIns.Bind(3, static_cast<std::int64_t>(c));
                        cellIns.Bind(4, value);
                        cellIns.Bind(5, std::string_view(*key));
                        cellIns.Step();
                    }
                }
            }
        } catch (const fmt::StepError& e) {
            throw std::runtime_error(std::string("writing the catalogue failed: ") + e.what());
        }
        Exec(db.get(), "COMMIT;");
        Exec(db.get(), fmt::IndexSql);
    }
    temp.MoveTo(outPath);
}

void BuildCatalogue(std::string_view manifestJson, const std::string& outPath, const std::string& password) {
    WriteCatalogue(ReadManifest(manifestJson), outPath, password);
}

}  // namespace calmora::catalogue
