// The one log call of all subsystems. Lines carry their own prefix
// ("Debug: ", "Error: "); the main window decides where they appear.
#pragma once

#include <functional>
#include <string>

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

}  // namespace bearfix
