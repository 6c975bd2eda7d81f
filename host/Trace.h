// The host's trace on standard output: one line per happening, milliseconds since start first, texts
// quoted raw. The format is an interface (tests and people read it); see the README.
#pragma once

#include "HostOptions.h"

#include <calmora/sync.h>

#include <cstdio>
#include <string_view>

namespace calmora::host {

class Trace final : public TraceSink {
public:
    Trace(TraceLevel level, const Clock& clock, std::FILE* out, bool flushEachLine);
    ~Trace() override;

    void Call(std::string_view member, std::string_view quotedArgument, bool hasArgument);
    void CallFailed(std::string_view member, int number, std::string_view description);
    void Event(std::string_view name);
    void TickFailed(std::string_view timer, std::string_view what);

    // TraceSink
    void MediaCommand(std::string_view command) override;
    void MediaFailure(std::string_view command, std::string_view reason) override;
    void MediaQuery(std::string_view command, std::string_view reply, bool ok) override;
    void MessageBox(std::string_view prompt) override;
    void Picture(std::string_view file) override;
    void PictureFailure(std::string_view file, std::string_view reason) override;

private:
    template <typename... Parts> void Line(const Parts&... parts);

    TraceLevel level_;
    const Clock& clock_;
    std::FILE* out_;
    bool flush_;
};

}  // namespace calmora::host
