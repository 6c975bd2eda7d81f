// How the run talks to the user: message boxes when there is a display, the console otherwise.
#pragma once

#include <iosfwd>
#include <string_view>

namespace calmora::update {

inline constexpr std::string_view kMessageTitle = "Calmora";

class Messenger {
public:
    virtual ~Messenger() = default;
    // A message with an OK button only and no icon; returns when the user has dismissed it.
    virtual void Show(std::string_view text) = 0;
    // The run-time error report of a failed step: shown like a message and written to standard error.
    virtual void ShowError(std::string_view report) = 0;
    // Lets the window system handle what is pending, once.
    virtual void ProcessPendingEvents() {}
};

// The text on standard output; error reports also on standard error.
class ConsoleMessenger : public Messenger {
public:
    ConsoleMessenger(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
    void Show(std::string_view text) override;
    void ShowError(std::string_view report) override;

private:
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace calmora::update
