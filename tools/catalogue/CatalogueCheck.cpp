// CheckResources: walks the catalogue the way the control plays it and says, per asana, what would
// make a lesson misbehave: missing files, values the control cannot convert, cues out of order,
// missing or empty tables, and a kind that fileOpen and Preview read differently.
#include "CatalogueBuilder.h"
#include "CatalogueNames.h"

#include "catalogue/Dao.h"
#include "common/ErrorNumbers.h"
#include "common/PathResolver.h"
#include "common/Text.h"

#include <sys/stat.h>

#include <map>
#include <optional>

namespace calmora::catalogue {
namespace {

bool IsFile(const std::string& builtPath) {
    struct stat st;
    return ::stat(ResolvePath(builtPath).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Shown(const Variant& v) {
    if (v.isString()) return "\"" + v.asString() + "\"";
    return CStr(v);
}

class Checker {
public:
    Checker(std::string resourceDir, std::vector<std::string>& out) : dir_(std::move(resourceDir)), out_(out) {}

    void Run(dao::Database& db) {
        std::shared_ptr<dao::Recordset> asanas;
        try {
            asanas = db.OpenRecordset("select * from " + names::AsanaTable);
        } catch (const RuntimeError& e) {
            out_.push_back("The catalogue has no table Asanas: no asana can be played (" + e.description() + ")");
            return;
        }
        std::map<std::string, std::size_t> seen;  // folded name -> row
        for (std::size_t row = 1; !asanas->Eof(); asanas->MoveNext(), ++row) {
            const Variant name = Field(*asanas, "name");
            label_ = name.isString() ? "Asana \"" + name.asString() + "\" (row " + std::to_string(row) + ")"
                                     : "Asana in row " + std::to_string(row);
            if (name.isNull()) {
                Report("name is Null: no query selects it");
            } else if (!name.isEmpty()) {
                auto [it, fresh] = seen.emplace(FoldCase(CStr(name)), row);
                if (!fresh)
                    Report("has the name of the asana in row " + std::to_string(it->second) +
                           " (names match ignoring letter case): only the first of them is ever played");
            }
            CheckAsana(db, *asanas);
        }
    }

private:
    void Report(const std::string& what) { out_.push_back(label_ + ": " + what); }

    // The field's value; Empty (reported) when the table lacks the field.
    Variant Field(dao::Recordset& rs, const std::string& field, const std::string& where = "") {
        try {
            return rs.Fields(field);
        } catch (const RuntimeError& e) {
            if (e.number() != err::ItemNotFound) throw;
            out_.push_back(label_ + ": " + where + "the table has no field " + field);
            return Variant();
        }
    }

    void CheckAsana(dao::Database& db, dao::Recordset& asana) {
        const Variant id = Field(asana, "AsanaID");
        const Variant kind = Field(asana, "Disp_Type");
        const bool video = TextEquals(kind, "Video");
        if (kind.isNull()) {
            Report("Disp_Type is Null: fileOpen plays it as a photo asana and Preview fails");
        } else if (!kind.isEmpty() && !video && UCase(CStr(kind)) != "PHOTO") {
            Report("Disp_Type " + Shown(kind) + " is neither \"Video\" nor \"PHOTO\" in any letter case: it plays "
                   "as a photo asana but previews as a video asana");
        }
        std::optional<std::string> idText;
        if (id.isNull()) Report("AsanaID is Null: its cue or photo table cannot be found");
        else if (!id.isEmpty() && !(idText = names::IdText(id))) Report("AsanaID " + Shown(id) + " is not a number");

        if (video) {
            const Variant videoName = Field(asana, "VideoName");
            if (videoName.isNull()) Report("VideoName is Null");
            else if (!videoName.isEmpty() && !IsFile(dir_ + "\\video\\" + CStr(videoName)))
                Report("video file video\\" + CStr(videoName) + " is missing");
        }
        if (!idText) return;
        const std::string table = (video ? names::CueTablePrefix : names::PhotoTablePrefix) + *idText;
        std::shared_ptr<dao::Recordset> rows;
        try {
            rows = db.OpenRecordset("select * from " + table);
        } catch (const RuntimeError& e) {
            if (e.number() == err::InputTableNotFound) Report("has no " + std::string(video ? "cue" : "photo") + " table " + table);
            else if (e.number() == err::SyntaxError) Report("AsanaID " + Shown(id) + " gives the table name " + table + ", which no query can name");
            else Report(table + ": " + e.description());
            return;
        }
        if (rows->Eof()) {
            Report(std::string(video ? "cue" : "photo") + " table " + table + " is empty: nothing plays");
            return;
        }
        if (video) CheckCues(*rows, table);
        else CheckPhotos(*rows, table);
    }

    // A conversion the control makes on a row field; the reason when it fails.
    template <typename Convert>
    std::optional<std::string> Converts(const Variant& v, Convert convert, const std::string& range) {
        try {
            convert(v);
            return std::nullopt;
        } catch (const RuntimeError& e) {
            if (e.number() == err::InvalidUseOfNull) return "is Null";
            if (e.number() == err::Overflow) return Shown(v) + " is outside " + range;
            return Shown(v) + " is not a number";
        }
    }

    void CheckSound(const Variant& name, const std::string& where) {
        if (!name.isString() && !name.isInteger() && !name.isDouble()) return;
        const std::string base = CStr(name);
        if (base == "mt") return;  // beside the control library, installed by the updater
        if (!IsFile(dir_ + "\\sound\\mp2\\" + base + ".mp2")) Report(where + "sound file sound\\mp2\\" + base + ".mp2 is missing");
    }

    void CheckCues(dao::Recordset& rs, const std::string& table) {
        bool havePrevious = false;  // (not std::optional: GCC 12 warns falsely about its value)
        int previous = 0;
        for (std::size_t n = 1; !rs.Eof(); rs.MoveNext(), ++n) {
            const std::string where = table + " cue " + std::to_string(n) + ": ";
            const Variant file = Field(rs, "Filename", where);
            if (file.isNull()) Report(where + "Filename is Null");
            if (Field(rs, "Action", where).isNull()) Report(where + "Action is Null");
            const Variant start = Field(rs, "StartPos", where);
            const Variant end = Field(rs, "EndPos", where);
            const Variant len = Field(rs, "Filelen", where);
            constexpr const char* range16 = "-32768 to 32767";
            if (!start.isEmpty()) {
                if (auto why = Converts(start, [](const Variant& v) { return CInt(v); }, range16)) {
                    Report(where + "StartPos " + *why);
                    havePrevious = false;
                } else {
                    const int s = CInt(start);
                    if (havePrevious && s <= previous)
                        Report(where + "StartPos " + std::to_string(s) + " is not above the previous cue's " +
                               std::to_string(previous) + " (cues play in stored order)");
                    previous = s;
                    havePrevious = true;
                }
            }
            if (!end.isEmpty())
                if (auto why = Converts(end, [](const Variant& v) { return CInt(v); }, range16)) Report(where + "EndPos " + *why);
            if (!len.isEmpty())
                if (auto why = Converts(len, [](const Variant& v) { return CDbl(v); }, "a double's range"))
                    Report(where + "Filelen " + *why);
            CheckSound(file, where);
        }
    }

    void CheckPhotos(dao::Recordset& rs, const std::string& table) {
        for (std::size_t n = 1; !rs.Eof(); rs.MoveNext(), ++n) {
            const std::string where = table + " photo " + std::to_string(n) + ": ";
            const Variant sound = Field(rs, "Mp2name", where);
            const Variant image = Field(rs, "ImageName", where);
            if (sound.isNull()) Report(where + "Mp2name is Null");
            if (image.isNull()) Report(where + "ImageName is Null");
            if (!image.isNull() && !image.isEmpty() && !IsFile(dir_ + "\\video\\" + CStr(image)))
                Report(where + "photo file video\\" + CStr(image) + " is missing");
            CheckSound(sound, where);
        }
    }

    std::string dir_;
    std::vector<std::string>& out_;
    std::string label_;
};

}  // namespace

std::vector<std::string> CheckResources(const std::string& resourceDir, const std::string& password) {
    std::vector<std::string> out;
    const std::string path = resourceDir + "\\video\\REZozi.mdb";
    std::shared_ptr<dao::Database> db;
    try {
        db = dao::DBEngine::Get().Workspaces(0).OpenDatabase(path, false, true, ";PWD=" + password + ";");
    } catch (const RuntimeError& e) {
        out.push_back("The catalogue " + ResolvePath(path) + " does not open: " + e.description());
        return out;
    }
    Checker(resourceDir, out).Run(*db);
    db->Close();
    return out;
}

}  // namespace calmora::catalogue
