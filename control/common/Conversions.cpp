#include "Conversions.h"

#include "ErrorNumbers.h"
#include "Text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <type_traits>

#include <locale.h>
#include <stdlib.h>

namespace calmora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimView(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Both directions ignore the process locale: a host may set one (Qt sets the environment's), and a
// decimal comma would turn "2.5" into 2 and 2.5 into "2,5".
locale_t CLocale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

std::string FormatDouble(double d) {
    if (d == 0) return "0";
    // As printf's "%.15G" in the C locale: 15 significant digits, exponent of at least two digits.
    char buf[40];
    const auto result = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
    std::string s(buf, result.ptr);
    for (char& c : s)
        if (c == 'e') c = 'E';
    return s;
}

enum class Parsed { NotANumber, Number, TooLarge };

Parsed ParseNumberText(std::string_view text, double& out);

// The number a value stands for, for the numeric conversions.
double ToNumber(const Variant& v) {
    return std::visit(
        [](const auto& x) -> double {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, Empty>) return 0;
            else if constexpr (std::is_same_v<T, Null>) err::Raise(err::InvalidUseOfNull);
            else if constexpr (std::is_same_v<T, bool>) return x ? -1 : 0;
            else if constexpr (std::is_same_v<T, std::int64_t>) return static_cast<double>(x);
            else if constexpr (std::is_same_v<T, double>) return x;
            else {
                double d = 0;
                const Parsed p = ParseNumberText(x, d);
                if (p == Parsed::TooLarge) err::Raise(err::Overflow);  // a number, but beyond a double
                if (p != Parsed::Number) err::Raise(err::TypeMismatch);
                return d;
            }
        },
        v.storage());
}

// Rounds to the nearest whole number, halves to the even one.
double RoundHalfEven(double d) {
    double r = std::nearbyint(d);  // default rounding mode: to nearest, ties to even
    return r;
}

Parsed ParseNumberText(std::string_view text, double& out) {
    std::string_view s = TrimView(text);
    if (s.empty()) return Parsed::NotANumber;
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
        std::uint64_t value = 0;
        for (char c : s.substr(2)) {
            int digit = (c >= '0' && c <= '9') ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : 99;
            if (digit >= base) return Parsed::NotANumber;
            if (value > (std::numeric_limits<std::uint64_t>::max() >> 4)) return Parsed::TooLarge;
            value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        }
        out = static_cast<double>(value);
        return Parsed::Number;
    }
    // sign, digits, optional fraction, optional exponent (E or D)
    std::string norm;
    std::size_t i = 0;
    if (s[i] == '+' || s[i] == '-') norm += s[i++];
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') norm += s[i++], ++digits;
    if (i < s.size() && s[i] == '.') {
        norm += s[i++];
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') norm += s[i++], ++digits;
    }
    if (digits == 0) return Parsed::NotANumber;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        norm += 'e';
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) norm += s[i++];
        std::size_t expDigits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') norm += s[i++], ++expDigits;
        if (expDigits == 0) return Parsed::NotANumber;
    }
    if (i != s.size()) return Parsed::NotANumber;
    char* end = nullptr;
    double d = strtod_l(norm.c_str(), &end, CLocale());
    if (end != norm.c_str() + norm.size()) return Parsed::NotANumber;
    if (!std::isfinite(d)) return Parsed::TooLarge;
    out = d;
    return Parsed::Number;
}

}  // namespace

bool ParseNumber(std::string_view text, double& out) { return ParseNumberText(text, out) == Parsed::Number; }

std::string CStr(const Variant& v) {
    return std::visit(
        [](const auto& x) -> std::string {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, Empty>) return "";
            else if constexpr (std::is_same_v<T, Null>) err::Raise(err::InvalidUseOfNull);
            else if constexpr (std::is_same_v<T, bool>) return x ? "True" : "False";
            else if constexpr (std::is_same_v<T, std::int64_t>) return std::to_string(x);
            else if constexpr (std::is_same_v<T, double>) return FormatDouble(x);
            else return x;
        },
        v.storage());
}

std::int16_t CInt(const Variant& v) {
    double r = RoundHalfEven(ToNumber(v));
    if (!(r >= -32768.0 && r <= 32767.0)) err::Raise(err::Overflow);
    return static_cast<std::int16_t>(r);
}

std::int32_t CLng(const Variant& v) {
    double r = RoundHalfEven(ToNumber(v));
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) err::Raise(err::Overflow);
    return static_cast<std::int32_t>(r);
}

double CDbl(const Variant& v) { return ToNumber(v); }

Variant Str(const Variant& v) {
    if (v.isNull()) return Null{};
    if (v.isInteger()) {
        std::int64_t i = v.asInteger();
        return (i >= 0 ? " " : "") + std::to_string(i);
    }
    double d = ToNumber(v);
    return (d >= 0 ? " " : "") + FormatDouble(d);
}

std::string Trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return std::string(s);
}

std::string UCase(std::string_view s) { return ToUpper(s); }

bool TextEquals(const Variant& v, std::string_view text) {
    if (v.isNull()) return false;
    return CStr(v) == text;
}

}  // namespace calmora
