// A stdio stream that hands over each complete line written to it. The window reads the host's trace
// through it (for its status line) and passes the lines on to standard output when --trace asks.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace calmora::host {

class TraceTap {
public:
    explicit TraceTap(std::function<void(std::string_view line)> onLine);
    ~TraceTap();
    TraceTap(const TraceTap&) = delete;
    TraceTap& operator=(const TraceTap&) = delete;

    // The stream to write to (unbuffered: a line is handed over as soon as its newline is written).
    std::FILE* file() const { return file_; }

private:
    static ssize_t Write(void* cookie, const char* data, std::size_t size);

    std::function<void(std::string_view)> onLine_;
    std::string pending_;
    std::FILE* file_ = nullptr;
};

}  // namespace calmora::host
