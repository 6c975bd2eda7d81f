// The forms runtime's value conversions, as the control's step lists use them on catalogue fields.
// Failures throw RuntimeError: 94 for Null, 13 for a text that is not a number, 6 for overflow.
#pragma once

#include <calmora/Variant.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace calmora {

std::string CStr(const Variant& v);      // Empty -> "", number -> decimal text, True -> "True"
std::int16_t CInt(const Variant& v);     // rounds halves to even; outside -32768..32767 -> 6
std::int32_t CLng(const Variant& v);
double CDbl(const Variant& v);
// Number to text with a leading blank for a non-negative number ("Str"); a text is first read as a
// number. Null gives Null.
Variant Str(const Variant& v);
std::string Trim(std::string_view s);     // blanks (spaces) only, both ends
std::string UCase(std::string_view s);    // every letter, non-ASCII included
// Text equality of two values for a comparison ("If v = text"): Null never equals.
bool TextEquals(const Variant& v, std::string_view text);

// Reads a number the way the conversions accept it: blanks around, sign, digits, decimal point,
// exponent (E or D), or &H / &O prefixed whole numbers. False when the text is not a number.
bool ParseNumber(std::string_view text, double& out);

}  // namespace calmora
