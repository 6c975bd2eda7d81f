// Catalogue values as stored, read through a recordset and converted the way the control's steps
// convert cue and photo fields: to text, to a 16-bit integer (halves to even, 6 beyond the range),
// to a double; Null fails with 94 and a text that is no number with 13.
#include "CatalogueFixture.h"
#include "common/Conversions.h"

#include <functional>
#include <iomanip>

namespace calmora::testing {
namespace {

template <typename F>
std::string Outcome(F&& f) {
    try {
        std::ostringstream out;
        out << std::setprecision(15) << f();
        return out.str();
    } catch (const RuntimeError& e) {
        return "error " + std::to_string(e.number());
    }
}

struct Case {
    std::string json;  // the stored value, as the manifest gives it
    std::string text, int16, dbl;
};

TEST_F(CatalogueTest, StoredFieldValuesConvertAsTheControlReadsThem) {
    const std::vector<Case> cases = {
        {R"("text")", "text", "error 13", "error 13"},
        {R"("")", "", "error 13", "error 13"},
        {R"("12")", "12", "12", "12"},
        {R"(" 12 ")", " 12 ", "12", "12"},
        {R"("2.5")", "2.5", "2", "2.5"},
        {R"("1e3")", "1e3", "1000", "1000"},
        {R"("&H10")", "&H10", "16", "16"},
        {"7", "7", "7", "7"},
        {"-7", "-7", "-7", "-7"},
        {"2.5", "2.5", "2", "2.5"},
        {"3.5", "3.5", "4", "3.5"},
        {"0.5", "0.5", "0", "0.5"},
        {"1.5", "1.5", "2", "1.5"},
        {"-2.5", "-2.5", "-2", "-2.5"},
        {"-3.5", "-3.5", "-4", "-3.5"},
        {"2.4999", "2.4999", "2", "2.4999"},
        {"2.5000001", "2.5000001", "3", "2.5000001"},
        {"32767", "32767", "32767", "32767"},
        {"32767.4", "32767.4", "32767", "32767.4"},
        {"32767.5", "32767.5", "error 6", "32767.5"},
        {"32768", "32768", "error 6", "32768"},
        {"-32768", "-32768", "-32768", "-32768"},
        {"-32768.5", "-32768.5", "-32768", "-32768.5"},
        {"-32769", "-32769", "error 6", "-32769"},
        {R"("40000")", "40000", "error 6", "40000"},
        {"1e300", "1E+300", "error 6", "1e+300"},
        {"0.1", "0.1", "0", "0.1"},
        {"9007199254740993", "9007199254740993", "error 6", "9.00719925474099e+15"},
        {"true", "True", "-1", "-1"},
        {"false", "False", "0", "0"},
        {"null", "error 94", "error 94", "error 94"},
    };
    std::string rows;
    for (const auto& c : cases) rows += std::string(rows.empty() ? "" : ",") + R"({"v": )" + c.json + "}";
    auto db = Open(Build(R"({"tables": {"Values": [)" + rows + "]}}"));
    auto rs = db->OpenRecordset("select * from Values");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        ASSERT_FALSE(rs->Eof());
        const Variant v = rs->Fields("v");
        EXPECT_EQ(Outcome([&] { return CStr(v); }), c.text);
        EXPECT_EQ(Outcome([&] { return CInt(v); }), c.int16);
        EXPECT_EQ(Outcome([&] { return CDbl(v); }), c.dbl);
        rs->MoveNext();
    }
    EXPECT_TRUE(rs->Eof());
}

}  // namespace
}  // namespace calmora::testing
