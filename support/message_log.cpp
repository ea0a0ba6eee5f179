#include "support/message_log.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace bearfix {

namespace {

MessageSink& sink() {
    static MessageSink instance;
    return instance;
}

thread_local std::vector<LoggedMessage>* held = nullptr;

}  // namespace

void setMessageSink(MessageSink newSink) { sink() = std::move(newSink); }

void logMessage(MessageLevel level, const char* format, ...) {
    if (!held && !sink()) return;
    char text[kMaxMessageLength + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (held) {
        held->push_back({level, text});
    } else {
        sink()(level, text);
    }
}

HeldMessages::HeldMessages(std::vector<LoggedMessage>& into) : outer_(std::exchange(held, &into)) {}
HeldMessages::~HeldMessages() { held = outer_; }

void passOn(const std::vector<LoggedMessage>& messages) {
    if (held == &messages) return;
    for (const LoggedMessage& m : messages) {
        if (held) {
            held->push_back(m);
        } else if (sink()) {
            sink()(m.level, m.text);
        }
    }
}

}  // namespace bearfix
