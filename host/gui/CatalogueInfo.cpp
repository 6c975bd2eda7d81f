#include "CatalogueInfo.h"

#include <calmora/sync.h>

#include <QString>

#include <exception>

namespace calmora::host {

const AsanaInfo* CatalogueInfo::Find(std::string_view name) const {
    // As the control looks names up: ignoring letter case.
    const QString wanted = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    for (const auto& a : asanas)
        if (QString::fromStdString(a.name).compare(wanted, Qt::CaseInsensitive) == 0) return &a;
    return nullptr;
}

CatalogueInfo ReadCatalogueInfo(const std::string& resources) {
    CatalogueInfo info;
    try {
        for (auto& s : CatalogueSummary(resources)) {
            AsanaInfo a;
            a.name = std::move(s.name);
            // The kind as fileOpen decides it: "Video" exactly is a video asana, anything else photos.
            a.kind = s.dispType.empty() ? AsanaKind::Unknown : s.video ? AsanaKind::Video : AsanaKind::Photo;
            a.cues = std::move(s.cues);
            a.photos = s.photos;
            info.asanas.push_back(std::move(a));
        }
    } catch (const std::exception& e) {
        info.asanas.clear();
        info.problem = e.what();
    }
    return info;
}

}  // namespace calmora::host
