// One Bearfix to a settings directory: the first to start locks the
// directory for as long as it runs, and a second one learns that it would
// overwrite the first's settings and logs at exit. The kernel lets go of the
// lock when the process ends, however it ends, so no crash leaves it stale.
// Toolkit-free.
#pragma once

#include <string>

namespace bearfix {

class InstanceLock {
public:
    enum class State {
        Held,           // this process keeps the directory
        HeldElsewhere,  // another process does
        Unavailable,    // no lock could be taken (no such directory, a file system without locks): go on as before
    };

    InstanceLock() = default;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    // Makes `directory` when it is missing and locks it.
    State take(const std::string& directory);

private:
    int fd_ = -1;
};

}  // namespace bearfix
