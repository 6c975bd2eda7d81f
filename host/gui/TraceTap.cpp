#include "TraceTap.h"

#include <stdexcept>
#include <utility>

namespace calmora::host {

TraceTap::TraceTap(std::function<void(std::string_view)> onLine) : onLine_(std::move(onLine)) {
    cookie_io_functions_t io{};
    io.write = &TraceTap::Write;
    file_ = fopencookie(this, "w", io);
    if (!file_) throw std::runtime_error("cannot open the trace stream");
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

TraceTap::~TraceTap() {
    std::fclose(file_);
    if (!pending_.empty()) onLine_(pending_);  // a last line without its newline
}

ssize_t TraceTap::Write(void* cookie, const char* data, std::size_t size) {
    auto* self = static_cast<TraceTap*>(cookie);
    self->pending_.append(data, size);
    std::size_t start = 0;
    for (std::size_t nl; (nl = self->pending_.find('\n', start)) != std::string::npos; start = nl + 1)
        self->onLine_(std::string_view(self->pending_).substr(start, nl - start));
    self->pending_.erase(0, start);
    return static_cast<ssize_t>(size);
}

}  // namespace calmora::host
