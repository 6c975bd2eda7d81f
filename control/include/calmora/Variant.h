// A value as the control's automation interface and its catalogue hand it around: Empty, Null, a
// Boolean, a whole number, a floating-point number or a text. Conversions with the forms runtime's
// rules (errors 6, 13, 94) live in control/common/Conversions.h, not here.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace calmora {

struct Empty {
    friend bool operator==(Empty, Empty) { return true; }
};
struct Null {
    friend bool operator==(Null, Null) { return true; }
};

class Variant {
public:
    using Storage = std::variant<Empty, Null, bool, std::int64_t, double, std::string>;

    Variant() = default;
    Variant(Empty) {}
    Variant(Null v) : v_(v) {}
    Variant(bool b) : v_(b) {}
    Variant(int i) : v_(std::int64_t{i}) {}
    Variant(std::int64_t i) : v_(i) {}
    Variant(double d) : v_(d) {}
    Variant(std::string s) : v_(std::move(s)) {}
    Variant(const char* s) : v_(std::string(s)) {}

    bool isEmpty() const { return std::holds_alternative<Empty>(v_); }
    bool isNull() const { return std::holds_alternative<Null>(v_); }
    bool isBool() const { return std::holds_alternative<bool>(v_); }
    bool isInteger() const { return std::holds_alternative<std::int64_t>(v_); }
    bool isDouble() const { return std::holds_alternative<double>(v_); }
    bool isString() const { return std::holds_alternative<std::string>(v_); }

    bool asBool() const { return std::get<bool>(v_); }
    std::int64_t asInteger() const { return std::get<std::int64_t>(v_); }
    double asDouble() const { return std::get<double>(v_); }
    const std::string& asString() const { return std::get<std::string>(v_); }

    const Storage& storage() const { return v_; }

    friend bool operator==(const Variant& a, const Variant& b) { return a.v_ == b.v_; }

private:
    Storage v_;
};

}  // namespace calmora
