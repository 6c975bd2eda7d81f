// The query front end: every form the control sends is read into its parts, everything else is a
// syntax error (3131).
#include "catalogue/SqlFrontEnd.h"
#include "common/ErrorNumbers.h"

#include <gtest/gtest.h>

namespace calmora::catalogue {
namespace {

struct Accepted {
    std::string sql;
    SelectQuery want;
};

TEST(SqlFrontEnd, ReadsEveryAcceptedForm) {
    const std::vector<Accepted> cases = {
        {"select * from Asanas", {"Asanas", std::nullopt, ""}},
        {"select * from Audio_Asana12", {"Audio_Asana12", std::nullopt, ""}},
        {"SELECT * FROM Photo_Asana3", {"Photo_Asana3", std::nullopt, ""}},
        {"  select\t*\r\nfrom   Asanas  \n", {"Asanas", std::nullopt, ""}},
        {"select*from Asanas", {"Asanas", std::nullopt, ""}},
        {"select * from Asanas where name = \"Tree\"", {"Asanas", "name", "Tree"}},
        {"Select * From Asanas Where NAME=\"Tree\"", {"Asanas", "NAME", "Tree"}},
        {"select * from Asanas where name = \"\"", {"Asanas", "name", ""}},
        {"select * from Asanas where name =   \"  padded  \"   ", {"Asanas", "name", "  padded  "}},
        // The text runs to the last double quote: a spliced name cannot add a condition.
        {"select * from Asanas where name = \"x\" or name = \"y\"", {"Asanas", "name", "x\" or name = \"y"}},
        {"select * from Asanas where name = \"say \"\"hi\"\"\"", {"Asanas", "name", "say \"\"hi\"\""}},
        {"select * from Asanas where name = \"\"\"", {"Asanas", "name", "\""}},
        {"select * from Asanas where name = \"it's; -- drop\"", {"Asanas", "name", "it's; -- drop"}},
        {"select * from Asanas where name = \"Bäume Übung\"", {"Asanas", "name", "Bäume Übung"}},
        {"select * from Äsanas where Größe = \"x\"", {"Äsanas", "Größe", "x"}},
        {"select * from Asanas where name = \"line\nbreak\"", {"Asanas", "name", "line\nbreak"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(ParseSelect(c.sql), c.want);
    }
}

TEST(SqlFrontEnd, RejectsEverythingElseWithSyntaxError) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "expected \"select\""},
        {"   ", "expected \"select\""},
        {"delete from Asanas", "expected \"select\""},
        {"select name from Asanas", "expected \"*\""},
        {"select * Asanas", "expected \"from\""},
        {"select * fromAsanas", "expected \"from\""},
        {"selectx * from Asanas", "expected \"select\""},
        {"select * from", "a table name"},
        {"select * from where", "keyword"},
        {"select * from Asanas;", "expected \"where\""},
        {"select * from Asanas, Photo_Asana1", "expected \"where\""},
        {"select * from [Asanas]", "a table name"},
        {"select * from Asanas order by name", "expected \"where\""},
        {"select * from Asanas where", "a field name"},
        {"select * from Asanas where name", "expected \"=\""},
        {"select * from Asanas where name like \"T*\"", "expected \"=\""},
        {"select * from Asanas where name = Tree", "double-quoted text"},
        {"select * from Asanas where name = 'Tree'", "double-quoted text"},
        {"select * from Asanas where name = \"Tree", "no closing double quote"},
        {"select * from Asanas where name = \"Tree\" and AsanaID = 3", "nothing but blanks"},
        {"select * from Asanas where name = \"Tree\";", "nothing but blanks"},
        {"select * from Asanas where name = \"Tree\" --", "nothing but blanks"},
        {"select * from Asanas where name = \"a\" or 1=1", "nothing but blanks"},
        {std::string("select * from Asanas\0", 21), "expected \"where\""},
    };
    for (const auto& [sql, message] : cases) {
        SCOPED_TRACE(sql);
        try {
            ParseSelect(sql);
            ADD_FAILURE() << "accepted";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), err::SyntaxError);
            EXPECT_NE(e.description().find(message), std::string::npos) << e.description();
            EXPECT_NE(e.description().find("Syntax error in query"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace calmora::catalogue
