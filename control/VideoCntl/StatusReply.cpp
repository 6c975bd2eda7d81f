#include "VideoCntl/StatusReply.h"

#include "common/Conversions.h"
#include "common/ErrorNumbers.h"

namespace calmora {

// A reply area reduced to its text: blanks stripped at both ends, then the last character (the NUL
// ending the reply) dropped. An all-blank area cannot be cut: that step fails.
std::string ReplyText(const std::string& reply) {
    std::string t = Trim(reply);
    if (t.empty()) err::Raise(err::InvalidProcedureCall);
    t.pop_back();
    return t;
}

// A mode reply: the text before its first NUL.
std::string ReplyMode(const std::string& reply) {
    std::string t = ReplyText(reply);
    if (auto nul = t.find('\0'); nul != std::string::npos) t.erase(nul);
    return t;
}

// A position reply: the value of the leading decimal number; 0 when the text does not start with one.
double ReplyPosition(const std::string& reply) {
    std::string t = ReplyText(reply);
    std::size_t i = 0;
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    double value = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') value = value * 10 + (t[i++] - '0');
    return negative ? -value : value;
}

}  // namespace calmora
