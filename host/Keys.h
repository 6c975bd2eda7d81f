// Keys on standard input for the headless host: p pause, r resume, s stop, q quit. A terminal is put
// in single-key mode for the run and restored afterwards.
#pragma once

#include <functional>
#include <memory>

namespace calmora::host {

class Keys {
public:
    explicit Keys(std::function<void(char)> onKey);
    ~Keys();
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;
    // Reads what is waiting, without blocking, and hands each key over.
    void Poll();

private:
    std::function<void(char)> onKey_;
    bool open_ = true;
    bool restore_ = false;
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

}  // namespace calmora::host
