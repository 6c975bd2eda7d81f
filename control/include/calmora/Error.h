// The one error type that crosses the control's layers and reaches a host: a runtime error number
// (the database engine's, the conversion rules', the media interface's) and its description.
#pragma once

#include <stdexcept>
#include <string>

namespace calmora {

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, std::string description)
        : std::runtime_error(description), number_(number), description_(std::move(description)) {}
    int number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }

private:
    int number_;
    std::string description_;
};

}  // namespace calmora
