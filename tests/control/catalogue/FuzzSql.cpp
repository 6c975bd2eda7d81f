// The query front end takes any text: it either reads the two select forms or raises 3131, and what
// it reads, written out again, reads back the same.
#include "catalogue/SqlFrontEnd.h"
#include "common/ErrorNumbers.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace calmora;
    const std::string_view sql(reinterpret_cast<const char*>(data), size);
    catalogue::SelectQuery q;
    try {
        q = catalogue::ParseSelect(sql);
    } catch (const RuntimeError& e) {
        if (e.number() != err::SyntaxError) std::abort();
        return 0;
    }
    if (q.table.empty() || (q.field && q.field->empty())) std::abort();
    std::string again = "select * from " + q.table;
    if (q.field) again += " where " + *q.field + " = \"" + q.text + "\"";
    if (!(catalogue::ParseSelect(again) == q)) std::abort();
    return 0;
}
