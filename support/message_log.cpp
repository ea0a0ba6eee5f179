#include "support/message_log.h"

#include <cstdarg>
#include <cstdio>

namespace bearfix {

namespace {

MessageSink& sink() {
    static MessageSink instance;
    return instance;
}

}  // namespace

void setMessageSink(MessageSink newSink) { sink() = std::move(newSink); }

void logMessage(MessageLevel level, const char* format, ...) {
    if (!sink()) return;
    char text[kMaxMessageLength + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    sink()(level, text);
}

}  // namespace bearfix
