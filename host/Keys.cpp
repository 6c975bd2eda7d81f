#include "Keys.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace calmora::host {

struct Keys::Saved {
    termios mode;
};

Keys::Keys(std::function<void(char)> onKey) : onKey_(std::move(onKey)) {
    if (::isatty(STDIN_FILENO)) {
        termios t{};
        if (::tcgetattr(STDIN_FILENO, &t) == 0) {
            saved_ = std::make_unique<Saved>(Saved{t});  // restored in the destructor
            t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
            t.c_cc[VMIN] = 0;
            t.c_cc[VTIME] = 0;
            restore_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &t) == 0;
        }
    }
}

Keys::~Keys() {
    if (restore_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_->mode);
}

void Keys::Poll() {
    while (open_) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLIN | POLLHUP))) return;
        char buf[64];
        ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {  // end of input (or none at all): stop asking
            open_ = false;
            return;
        }
        for (ssize_t i = 0; i < n; ++i) onKey_(buf[i]);
    }
}

}  // namespace calmora::host
