// The manifest reader takes any text: it either yields tables or throws std::runtime_error, and what
// it yields is consistent (unique names, one value per field in every row).
#include "CatalogueBuilder.h"
#include "common/Text.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace calmora;
    std::vector<catalogue::TableData> tables;
    try {
        tables = catalogue::ReadManifest(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const std::runtime_error&) {
        return 0;
    }
    std::set<std::string> names;
    for (const auto& t : tables) {
        if (t.name.empty() || !names.insert(FoldCase(t.name)).second) std::abort();
        std::set<std::string> columns;
        for (const auto& c : t.columns)
            if (c.empty() || !columns.insert(FoldCase(c)).second) std::abort();
        for (const auto& r : t.rows)
            if (r.size() != t.columns.size()) std::abort();
    }
    return 0;
}
