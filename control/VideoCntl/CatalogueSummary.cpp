// A catalogue's contents for a host's lesson list, read with the control's own catalogue layer (a host
// must not link a second copy of it: the per-process hold on the file lives in this library).
#include <calmora/sync.h>

#include "VideoCntl/VideoCntl.h"
#include "catalogue/Dao.h"
#include "common/Conversions.h"

namespace calmora {
namespace {

// A field's text; "" when the row lacks the field or it is Null.
std::string Text(const dao::Recordset& rs, std::string_view field) {
    try {
        Variant v = rs.Fields(field);
        return v.isNull() ? std::string() : CStr(v);
    } catch (const RuntimeError&) {
        return {};
    }
}

void ReadList(dao::Database& db, const Variant& id, AsanaSummary& asana) {
    Variant idText = Str(id);
    if (idText.isNull()) return;
    const std::string table = (asana.video ? "Audio_Asana" : "Photo_Asana") + Trim(CStr(idText));
    auto rows = db.OpenRecordset("select * from " + table);
    for (; !rows->Eof(); rows->MoveNext()) {
        if (asana.video) {
            std::string label = Text(*rows, "Action");
            asana.cues.push_back(label.empty() ? Text(*rows, "Filename") : label);
        } else {
            ++asana.photos;
        }
    }
    rows->Close();
    asana.listReadable = true;
}

}  // namespace

std::vector<AsanaSummary> CatalogueSummary(std::string_view resourceDir) {
    auto db = dao::DBEngine::Get().Workspaces(0).OpenDatabase(std::string(resourceDir) + kCatalogueFile, false, true,
                                                             kCatalogueConnect);
    std::vector<AsanaSummary> out;
    auto rows = db->OpenRecordset("select * from Asanas");
    for (; !rows->Eof(); rows->MoveNext()) {
        AsanaSummary a;
        a.name = Text(*rows, "name");
        a.dispType = Text(*rows, "Disp_Type");
        a.video = a.dispType == "Video";
        try {
            ReadList(*db, rows->Fields("AsanaID"), a);
        } catch (const RuntimeError&) {
            // An asana whose list cannot be read keeps its place in the list.
        }
        out.push_back(std::move(a));
    }
    rows->Close();
    db->Close();
    return out;
}

}  // namespace calmora
