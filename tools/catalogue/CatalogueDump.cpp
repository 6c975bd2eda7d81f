// DumpCatalogue: the manifest of a catalogue, read through the same access objects the control uses.
#include "CatalogueBuilder.h"
#include "CatalogueNames.h"

#include "catalogue/Dao.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>

namespace calmora::catalogue {
namespace {

using Json = nlohmann::ordered_json;

Json ToJson(const Variant& v) {
    return std::visit(
        [](const auto& x) -> Json {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, Empty> || std::is_same_v<T, Null>) return nullptr;
            else return x;
        },
        v.storage());
}

std::string Compact(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

// One row per line: a dump is for people to read and edit as much as for build to take back.
std::string Rows(const TableData& t, const std::string& indent) {
    if (t.rows.empty()) return "[]";
    std::string out = "[";
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
        Json row = Json::object();
        for (std::size_t c = 0; c < t.columns.size(); ++c) row[t.columns[c]] = ToJson(t.rows[r][c]);
        out += (r ? ",\n" : "\n") + indent + "  " + Compact(row);
    }
    return out + "\n" + indent + "]";
}

bool StartsWith(const std::vector<std::string>& columns, const std::vector<std::string>& fixed) {
    return columns.size() >= fixed.size() && std::equal(fixed.begin(), fixed.end(), columns.begin());
}

// Tables in the shape "asanas" makes them go back into it; everything else stays a raw table.
std::string ToManifest(const std::vector<TableData>& tables) {
    std::set<std::size_t> claimed;
    auto find = [&](const std::string& name, const std::vector<std::string>& fixed) -> const TableData* {
        for (std::size_t i = 0; i < tables.size(); ++i)
            if (!claimed.count(i) && tables[i].name == name && StartsWith(tables[i].columns, fixed)) {
                claimed.insert(i);
                return &tables[i];
            }
        return nullptr;
    };
    const TableData* asanas = nullptr;
    for (std::size_t i = 0; i < tables.size() && !asanas; ++i) {
        const auto& t = tables[i];
        if (t.name == names::AsanaTable && StartsWith(t.columns, names::AsanaFields) &&
            std::find(t.columns.begin(), t.columns.end(), "cues") == t.columns.end() &&
            std::find(t.columns.begin(), t.columns.end(), "photos") == t.columns.end()) {
            asanas = &t;
            claimed.insert(i);
        }
    }
    std::vector<std::string> parts;
    if (asanas) {
        std::string list = "\"asanas\": [";
        for (std::size_t r = 0; r < asanas->rows.size(); ++r) {
            const auto& row = asanas->rows[r];
            std::string a = "{";
            for (std::size_t c = 0; c < asanas->columns.size(); ++c)
                a += (c ? ", " : "") + Compact(asanas->columns[c]) + ": " + Compact(ToJson(row[c]));
            if (const auto id = names::IdText(row[1])) {
                if (const TableData* cues = find(names::CueTablePrefix + *id, names::CueFields))
                    a += ",\n     \"cues\": " + Rows(*cues, "     ");
                if (const TableData* photos = find(names::PhotoTablePrefix + *id, names::PhotoFields))
                    a += ",\n     \"photos\": " + Rows(*photos, "     ");
            }
            list += (r ? ",\n    " : "\n    ") + a + "}";
        }
        parts.push_back(list + (asanas->rows.empty() ? "]" : "\n  ]"));
    }
    std::string raw;
    for (std::size_t i = 0; i < tables.size(); ++i)
        if (!claimed.count(i))
            raw += (raw.empty() ? "\n    " : ",\n    ") + Compact(tables[i].name) + ": " + Rows(tables[i], "    ");
    if (!raw.empty()) parts.push_back("\"tables\": {" + raw + "\n  }");
    std::string out = "{";
    for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? ",\n  " : "\n  ") + parts[i];
    return out + (parts.empty() ? "}\n" : "\n}\n");
}

}  // namespace

std::string DumpCatalogue(const std::string& path, const std::string& password) {
    auto db = dao::DBEngine::Get().Workspaces(0).OpenDatabase(path, false, true, ";PWD=" + password + ";");
    std::vector<TableData> tables;
    for (const std::string& name : db->TableNames()) {
        auto rs = db->OpenTable(name);
        TableData t{name, rs->FieldNames(), {}};
        for (; !rs->Eof(); rs->MoveNext()) {
            std::vector<Variant> row;
            row.reserve(t.columns.size());
            for (const auto& c : t.columns) row.push_back(rs->Fields(c));
            t.rows.push_back(std::move(row));
        }
        rs->Close();
        tables.push_back(std::move(t));
    }
    db->Close();
    return ToManifest(tables);
}

}  // namespace calmora::catalogue
