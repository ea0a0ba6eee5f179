// The one log call of all subsystems. Lines carry their own prefix
// ("Debug: ", "Error: "); the main window decides where they appear.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bearfix {

// Values equal the items of the message level list.
enum class MessageLevel : int { Debug = 0, Info = 1, Warning = 2, Error = 3 };

inline constexpr int kMaxMessageLength = 255;

using MessageSink = std::function<void(MessageLevel, const std::string&)>;

// Installs the receiver of formatted messages; an empty sink drops them.
void setMessageSink(MessageSink sink);

// printf-style; the text is cut at 255 characters. Numbers are formatted in
// the process's numeric locale, which the program keeps at "C".
void logMessage(MessageLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

struct LoggedMessage {
    MessageLevel level;
    std::string text;
};

// While it lives, what its thread logs is kept in `into` instead of going to
// the sink, which may only be called on the thread that installed it; that
// thread passes the messages on later with passOn().
class HeldMessages {
public:
    explicit HeldMessages(std::vector<LoggedMessage>& into);
    ~HeldMessages();
    HeldMessages(const HeldMessages&) = delete;
    HeldMessages& operator=(const HeldMessages&) = delete;

private:
    std::vector<LoggedMessage>* outer_;
};

void passOn(const std::vector<LoggedMessage>& messages);

}  // namespace bearfix
