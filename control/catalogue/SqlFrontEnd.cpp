#include "SqlFrontEnd.h"

#include "common/ErrorNumbers.h"

namespace calmora::catalogue {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsWordChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u >= 0x80;
}

// Keywords are ASCII; folding them the Unicode way would let look-alike letters pass.
bool KeywordEquals(std::string_view w, std::string_view keyword) {
    if (w.size() != keyword.size()) return false;
    for (std::size_t i = 0; i < w.size(); ++i) {
        char c = w[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != keyword[i]) return false;
    }
    return true;
}

bool IsKeyword(std::string_view w) {
    return KeywordEquals(w, "select") || KeywordEquals(w, "from") || KeywordEquals(w, "where");
}

class Parser {
public:
    explicit Parser(std::string_view sql) : sql_(sql) {}

    SelectQuery Parse() {
        SelectQuery q;
        Keyword("select", "at the start");
        Symbol('*', "after \"select\" (only \"select *\" is supported)");
        Keyword("from", "after \"select *\"");
        q.table = Name("a table name after \"from\"");
        SkipBlanks();
        if (pos_ == sql_.size()) return q;
        Keyword("where", "after the table name");
        q.field = Name("a field name after \"where\"");
        Symbol('=', "after the field name (only \"=\" comparisons are supported)");
        SkipBlanks();
        if (pos_ == sql_.size() || sql_[pos_] != '"') Fail("expected a double-quoted text after \"=\"");
        const std::size_t open = pos_;
        const std::size_t close = sql_.rfind('"');
        if (close == open) Fail("the text after \"=\" has no closing double quote");
        q.text = std::string(sql_.substr(open + 1, close - open - 1));
        pos_ = close + 1;
        SkipBlanks();
        if (pos_ != sql_.size()) Fail("nothing but blanks may follow the closing double quote");
        return q;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        constexpr std::size_t Shown = 200;
        std::string shown(sql_.substr(0, Shown));
        if (sql_.size() > Shown) shown += "...";
        err::Raise(err::SyntaxError, "Syntax error in query: " + what + " (at character " + std::to_string(pos_ + 1) +
                                         " of \"" + shown + "\").");
    }

    void SkipBlanks() {
        while (pos_ < sql_.size() && IsBlank(sql_[pos_])) ++pos_;
    }

    std::string_view Word() {
        SkipBlanks();
        const std::size_t start = pos_;
        while (pos_ < sql_.size() && IsWordChar(sql_[pos_])) ++pos_;
        return sql_.substr(start, pos_ - start);
    }

    void Keyword(std::string_view keyword, std::string_view where) {
        const std::size_t at = pos_;
        const std::string_view w = Word();
        if (!KeywordEquals(w, keyword)) {
            pos_ = at;
            SkipBlanks();
            Fail("expected \"" + std::string(keyword) + "\" " + std::string(where));
        }
    }

    void Symbol(char c, std::string_view where) {
        SkipBlanks();
        if (pos_ == sql_.size() || sql_[pos_] != c) Fail("expected \"" + std::string(1, c) + "\" " + std::string(where));
        ++pos_;
    }

    std::string Name(std::string_view what) {
        const std::string_view w = Word();
        if (w.empty()) Fail("expected " + std::string(what));
        if (IsKeyword(w)) {
            pos_ -= w.size();
            Fail("expected " + std::string(what) + ", found the keyword \"" + std::string(w) + "\"");
        }
        return std::string(w);
    }

    std::string_view sql_;
    std::size_t pos_ = 0;
};

}  // namespace

SelectQuery ParseSelect(std::string_view sql) { return Parser(sql).Parse(); }

}  // namespace calmora::catalogue
