// The only SQL the catalogue understands: the two select forms the control sends. Query text never
// reaches SQLite; this parse yields the parts, and the reader runs its own parameterised statement.
//
//   select * from <table>
//   select * from <table> where <field> = "<text>"
//
// Keywords ignore letter case; blanks (space, tab, line breaks) may be repeated and are needed only
// between words. <table> and <field> are words of letters, digits, "_" and non-ASCII characters.
// <text> is everything from the first double quote after "=" to the last double quote of the query,
// taken literally: the control splices names in unescaped, so a name holding a double quote must
// match itself and nothing else. Only blanks may follow the closing quote.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace calmora::catalogue {

struct SelectQuery {
    std::string table;
    std::optional<std::string> field;  // with the where clause
    std::string text;                  // the quoted text of the where clause

    friend bool operator==(const SelectQuery&, const SelectQuery&) = default;
};

// Throws RuntimeError 3131 with a message saying what was expected where.
SelectQuery ParseSelect(std::string_view sql);

}  // namespace calmora::catalogue
