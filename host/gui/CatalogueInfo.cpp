#include "CatalogueInfo.h"

#include "catalogue/Dao.h"
#include "common/Conversions.h"
#include "common/Text.h"

#include <CatalogueBuilder.h>

#include <exception>
#include <memory>

namespace calmora::host {
namespace {

// The kind as fileOpen decides it: "Video" exactly is a video asana, anything else plays as photos.
AsanaKind KindOf(const Variant& dispType) {
    if (dispType.isNull() || dispType.isEmpty()) return AsanaKind::Unknown;
    try {
        return CStr(dispType) == "Video" ? AsanaKind::Video : AsanaKind::Photo;
    } catch (const std::exception&) {
        return AsanaKind::Unknown;
    }
}

// A field's value, Null when the table lacks it.
Variant FieldValue(const dao::Recordset& rs, std::string_view field) {
    try {
        return rs.Fields(field);
    } catch (const std::exception&) {
        return Null{};
    }
}

// Text of a field, "" when it is missing or Null.
std::string FieldText(const dao::Recordset& rs, std::string_view field) {
    try {
        Variant v = FieldValue(rs, field);
        return v.isNull() ? std::string() : CStr(v);
    } catch (const std::exception&) {
        return {};
    }
}

void ReadLists(dao::Database& db, AsanaInfo& asana, const std::string& id) {
    if (asana.kind == AsanaKind::Video) {
        auto cues = db.OpenRecordset("select * from Audio_Asana" + id);
        for (; !cues->Eof(); cues->MoveNext()) {
            std::string label = FieldText(*cues, "Action");
            asana.cues.push_back(label.empty() ? FieldText(*cues, "Filename") : label);
        }
        cues->Close();
    } else if (asana.kind == AsanaKind::Photo) {
        auto photos = db.OpenRecordset("select * from Photo_Asana" + id);
        for (; !photos->Eof(); photos->MoveNext()) ++asana.photos;
        photos->Close();
    }
}

}  // namespace

const AsanaInfo* CatalogueInfo::Find(std::string_view name) const {
    for (const auto& a : asanas)
        if (EqualsIgnoreCase(a.name, name)) return &a;
    return nullptr;
}

CatalogueInfo ReadCatalogueInfo(const std::string& resources) {
    CatalogueInfo info;
    std::shared_ptr<dao::Database> db;
    try {
        // Shared and read-only; the same path and password the control uses.
        db = dao::DBEngine::Get().Workspaces(0).OpenDatabase(resources + "\\video\\REZozi.mdb", false, true,
                                                             ";PWD=" + std::string(catalogue::DefaultPassword) + ";");
        auto rows = db->OpenRecordset("select * from Asanas");
        for (; !rows->Eof(); rows->MoveNext()) {
            AsanaInfo asana;
            asana.name = FieldText(*rows, "name");
            asana.kind = KindOf(FieldValue(*rows, "Disp_Type"));
            try {
                // An asana whose list cannot be read still gets its place in the list.
                Variant id = Str(FieldValue(*rows, "AsanaID"));
                if (!id.isNull()) ReadLists(*db, asana, Trim(CStr(id)));
            } catch (const std::exception&) {
            }
            info.asanas.push_back(std::move(asana));
        }
        rows->Close();
        db->Close();
    } catch (const std::exception& e) {
        info.asanas.clear();
        info.problem = e.what();
        if (db) {
            try {
                db->Close();
            } catch (const std::exception&) {
            }
        }
    }
    return info;
}

}  // namespace calmora::host
