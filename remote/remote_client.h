// One command handed to the Bearfix that listens on the local socket: what a
// second start of the window does instead of opening a second window.
// Toolkit-free.
#pragma once

#include <cstdint>
#include <string>

namespace bearfix {

struct Delivery {
    enum class Result {
        Delivered,   // the reply came: `reply`
        NoListener,  // nothing listens at the path
        NotOurs,     // another user's program listens there: nothing was sent
        NoAnswer,    // connected, but no reply in time
    };
    Result result = Result::NoListener;
    uint32_t reply = 0;
    long pid = -1;  // the listener's process, when the kernel tells it
};

// Connects to `path`, checks that the listener runs as this user, sends
// `text` (Windows-1252, at most 1024 bytes) as a command frame and waits at
// most `timeoutMs` for each step.
Delivery deliverCommand(const std::string& path, const std::string& text, int timeoutMs);

}  // namespace bearfix
