#pragma once

#include <atomic>

namespace calmora {

// Counts the live control instances, so the library can say whether it may be unloaded.
class ServerLock {
public:
    ServerLock() { count().fetch_add(1); }
    ~ServerLock() { count().fetch_sub(1); }
    ServerLock(const ServerLock&) = delete;
    ServerLock& operator=(const ServerLock&) = delete;
    static int Live() { return count().load(); }

private:
    static std::atomic<int>& count() {
        static std::atomic<int> n{0};
        return n;
    }
};

}  // namespace calmora
