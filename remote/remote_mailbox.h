// Commands from other programs: a mailbox of 20 messages, filled as messages
// arrive and emptied by the window's timer, and the "set ", "track ",
// "bearing " and "window " commands the messages carry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "fix/bearing.h"

namespace bearfix {

struct MailboxSlot {
    int32_t inUse = 0;   // 1 while the message waits
    int32_t sender = 0;  // the connection it came on
    uint8_t code[4] = {0, 0, 0, 0};  // b0 (lowest) .. b3 of the message code
    int32_t length = 0;  // text bytes stored, 0..1024
    char text[1024] = {};
};

struct RemoteMailbox {
    static constexpr int kSlots = 20;
    static constexpr int32_t kMaxText = 1024;
    MailboxSlot mailboxSlots[kSlots];  // ("slots" is taken by Qt)
    int32_t writeIndex = 0;   // slot of the last message stored
    int32_t postedCount = 0;  // messages stored since the reset
};

// Replies to the sender.
inline constexpr uint32_t kReplyStored = 1;
inline constexpr uint32_t kReplyFull = 0;
inline constexpr uint32_t kReplyTooLong = 0x83000001;
inline constexpr uint32_t kReplyQuery = 0x82000000;
inline constexpr uint32_t kReplyVersion = 0x82000001;

void resetMailbox(RemoteMailbox& mailbox);

// Stores a message, or answers a query (b0 = 0 and b2 = 'l' or 'v'):
// 1 stored, 0 all slots busy (or an unknown 'l' query), 0x83000001 longer
// than 1024 bytes, 0x82000000 | postedCount for 'l'+'c', | writeIndex for
// 'l'+'i', 0x82000001 for 'v'.
uint32_t postToMailbox(RemoteMailbox& mailbox, int32_t sender, uint32_t code, int32_t length, const char* bytes);

// The oldest waiting message whose b0 and b1 match the filters ('*' matches
// any byte); with `consume` its slot becomes free.
bool takeFromMailbox(RemoteMailbox& mailbox, char filter1, char filter2, bool consume, MailboxSlot* out);

// "brg1x=", "brg2x=", "pos1=" or "pos2=" (letter case matters), and the
// text after it.
struct SetCommand {
    int field = 0;  // 1: bearing of A, 2: bearing of B, 3: position of A, 4: of B, 0: not a set command
    std::string value;
};
SetCommand runSetCommand(const char* text);

// "addpoint " (a point with keys lat=, lon=, masl=, kmh=, udts=, hdop=,
// nsats=, sample=, user1=) or "segment " (name="..", color=) into the track
// store. True when a point was appended, which needs the results and the
// overlay redone. A client's points go on in the segment it began last, also
// when Bearfix stored something else in between; `ownPoint` is for Bearfix's
// own points (the GPS), which go plainly into the last segment.
bool runTrackCommand(const char* text, bool ownPoint = false);

// "raise" and an optional "token=" with the desktop's activation token (up
// to the next blank, printable ASCII only): another start of Bearfix asks
// the running window to come to the front. False for any other text; `token`
// is empty when none was given.
bool runWindowCommand(const char* text, std::string* token);

// The timer's part: takes up to 20 messages and runs them; a set command
// goes to `setField`, the bearing of a "bearing add" command (see
// fix/bearing_command.h) to `addBearing`, a "window raise" to `raiseWindow`.
// True when results and overlay need redoing.
bool processRemoteCommands(RemoteMailbox& mailbox, const std::function<void(int field, const std::string&)>& setField,
                           const std::function<void(Bearing)>& addBearing = {},
                           const std::function<void(const std::string& token)>& raiseWindow = {});

}  // namespace bearfix
