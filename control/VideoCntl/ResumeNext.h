// The continue-on-error style of the lesson logic: each step that fails is skipped, what it would have
// assigned keeps its old value, the next step runs, and the number of the last error can be asked for.
#pragma once

#include <calmora/Error.h>

#include <exception>
#include <utility>

namespace calmora {

class ResumeNext {
public:
    template <typename Step>
    bool operator()(Step&& step) {
        try {
            std::forward<Step>(step)();
            return true;
        } catch (const RuntimeError& e) {
            lastError_ = e.number();
        } catch (const std::exception&) {
            lastError_ = kOtherError;
        }
        return false;
    }
    int lastError() const { return lastError_; }

private:
    static constexpr int kOtherError = 51;  // internal error
    int lastError_ = 0;
};

// The no-trap style, for step lists shared by both styles: the first failure ends the caller.
struct NoTrap {
    template <typename Step>
    bool operator()(Step&& step) {
        std::forward<Step>(step)();
        return true;
    }
};

}  // namespace calmora
