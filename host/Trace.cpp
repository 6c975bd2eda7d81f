#include "Trace.h"

#include <string>

namespace calmora::host {

Trace::Trace(TraceLevel level, const Clock& clock, std::FILE* out, bool flushEachLine)
    : level_(level), clock_(clock), out_(out), flush_(flushEachLine) {}

Trace::~Trace() {
    if (out_) std::fflush(out_);
}

template <typename... Parts>
void Trace::Line(const Parts&... parts) {
    if (level_ == TraceLevel::None) return;
    std::string line = std::to_string(clock_.nowMs());
    if (line.size() < 6) line.insert(0, 6 - line.size(), ' ');
    line += ' ';
    (line.append(std::string_view(parts)), ...);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out_);
    if (flush_) std::fflush(out_);
}

void Trace::Call(std::string_view member, std::string_view argument, bool hasArgument) {
    if (hasArgument)
        Line("call ", member, " \"", argument, "\"");
    else
        Line("call ", member);
}

void Trace::CallFailed(std::string_view member, int number, std::string_view description) {
    Line("fail ", member, ": ", std::to_string(number), " ", description);
}

void Trace::Event(std::string_view name) { Line("event ", name); }

void Trace::TickFailed(std::string_view timer, std::string_view what) { Line("fail ", timer, ": ", what); }

void Trace::MediaCommand(std::string_view command) { Line("mci \"", command, "\""); }

void Trace::MediaFailure(std::string_view command, std::string_view reason) {
    Line("fail \"", command, "\": ", reason);
}

void Trace::MediaQuery(std::string_view command, std::string_view reply, bool ok) {
    if (level_ != TraceLevel::All) return;
    if (ok)
        Line("query \"", command, "\" -> \"", reply, "\"");
    else
        Line("query \"", command, "\" -> failed");
}

void Trace::MessageBox(std::string_view prompt) { Line("msgbox \"", prompt, "\""); }

void Trace::Picture(std::string_view file) { Line("picture \"", file, "\""); }

void Trace::PictureFailure(std::string_view file, std::string_view reason) {
    Line("fail picture \"", file, "\": ", reason);
}

}  // namespace calmora::host
