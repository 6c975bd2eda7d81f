// Reading a status query's reply area (50 blanks, the reply and a NUL written over its start).
#pragma once

#include <string>

namespace calmora {

// Blanks stripped at both ends, then the last character (the NUL ending the reply) dropped. An
// all-blank area cannot be cut: RuntimeError 5.
std::string ReplyText(const std::string& reply);
// A mode reply: the text before its first NUL.
std::string ReplyMode(const std::string& reply);
// A position reply: the value of the leading decimal number; 0 when the text does not start with one.
double ReplyPosition(const std::string& reply);

}  // namespace calmora
