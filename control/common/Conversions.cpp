#include "Conversions.h"

#include "ErrorNumbers.h"
#include "Text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <type_traits>

namespace calmora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimView(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string FormatDouble(double d) {
    if (d == 0) return "0";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15G", d);
    std::string s = buf;
    // "1E+20" stays; "1.5E-005" style exponents do not occur with printf, which writes at least two digits.
    return s;
}

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
                if (!ParseNumber(x, d)) err::Raise(err::TypeMismatch);
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

}  // namespace

bool ParseNumber(std::string_view text, double& out) {
    std::string_view s = TrimView(text);
    if (s.empty()) return false;
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
        std::uint64_t value = 0;
        for (char c : s.substr(2)) {
            int digit = (c >= '0' && c <= '9') ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : 99;
            if (digit >= base || value > (std::numeric_limits<std::uint64_t>::max() >> 4)) return false;
            value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        }
        out = static_cast<double>(value);
        return true;
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
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        norm += 'e';
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) norm += s[i++];
        std::size_t expDigits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') norm += s[i++], ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != s.size()) return false;
    char* end = nullptr;
    double d = std::strtod(norm.c_str(), &end);
    if (end != norm.c_str() + norm.size() || !std::isfinite(d)) return false;
    out = d;
    return true;
}

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
