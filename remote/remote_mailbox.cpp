#include "remote/remote_mailbox.h"

#include <strings.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "fix/bearing_command.h"
#include "support/message_log.h"
#include "support/text_scanner.h"
#include "tracks/track_store.h"

namespace bearfix {

void resetMailbox(RemoteMailbox& mailbox) { mailbox = RemoteMailbox{}; }

uint32_t postToMailbox(RemoteMailbox& mb, int32_t sender, uint32_t code, int32_t length, const char* bytes) {
    if (length > RemoteMailbox::kMaxText) return kReplyTooLong;
    const uint8_t b[4] = {static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code >> 16),
                          static_cast<uint8_t>(code >> 24)};
    if (b[0] == 0 && b[2] == 'l') {
        if (b[3] == 'c') return kReplyQuery | static_cast<uint32_t>(mb.postedCount);
        if (b[3] == 'i') return kReplyQuery | static_cast<uint32_t>(mb.writeIndex);
        return kReplyFull;
    }
    if (b[0] == 0 && b[2] == 'v') return kReplyVersion;

    for (int tries = 0; tries < RemoteMailbox::kSlots; ++tries) {
        if (mb.writeIndex >= RemoteMailbox::kSlots || mb.writeIndex < 0) mb.writeIndex = 0;
        MailboxSlot& slot = mb.mailboxSlots[mb.writeIndex];
        if (slot.inUse == 0) {
            ++mb.postedCount;
            slot.inUse = 1;
            slot.sender = sender;
            std::memcpy(slot.code, b, 4);
            if (length >= 1 && bytes) {
                slot.length = length;
                std::memcpy(slot.text, bytes, static_cast<std::size_t>(length));
            } else {
                slot.length = 0;
                slot.text[0] = '\0';
            }
            return kReplyStored;
        }
        ++mb.writeIndex;
    }
    mb.writeIndex %= RemoteMailbox::kSlots;  // back where it started
    return kReplyFull;
}

bool takeFromMailbox(RemoteMailbox& mb, char filter1, char filter2, bool consume, MailboxSlot* out) {
    for (int n = 1; n <= RemoteMailbox::kSlots; ++n) {
        MailboxSlot& slot = mb.mailboxSlots[(mb.writeIndex + n) % RemoteMailbox::kSlots];
        if (slot.inUse < 1) continue;
        if (filter1 != '*' && slot.code[0] != static_cast<uint8_t>(filter1)) continue;
        if (filter2 != '*' && slot.code[1] != static_cast<uint8_t>(filter2)) continue;
        if (out) *out = slot;
        if (consume) slot.inUse = 0;
        return true;
    }
    return false;
}

SetCommand runSetCommand(const char* text) {
    if (std::strncmp(text, "brg1x=", 6) == 0) return {1, text + 6};
    if (std::strncmp(text, "brg2x=", 6) == 0) return {2, text + 6};
    if (std::strncmp(text, "pos1=", 5) == 0) return {3, text + 5};
    if (std::strncmp(text, "pos2=", 5) == 0) return {4, text + 5};
    return {};
}

namespace {

// The segment the remote client began last. Points it sends after something
// else was stored (a GPS fix, a loaded file) go on in a segment of the same
// name and colour, not in the other's.
struct RemoteSegment {
    bool open = false;
    char name[21] = "";
    int32_t colour = -1;
    int32_t records = 0;  // the store's size after our last record
};
RemoteSegment remoteSegment;

}  // namespace

bool runTrackCommand(const char* text, bool ownPoint) {
    if (std::strncmp(text, "addpoint ", 9) == 0) {
        static const char kKeys[] = "lat=\0lon=\0masl=\0kmh=\0udts=\0hdop=\0nsats=\0sample=\0user1=\0";
        TrackPoint point;
        initTrackPoint(point);
        const char* c = text + 8;  // the blank after the command word
        double lat = 0.0, lon = 0.0;
        while (skipBlanks(c) > 0) {
            switch (matchKeyword(c, kKeys)) {
                case 0: lat = parseDouble(c, 0); break;
                case 1:
                    lon = parseDouble(c, 0);
                    point.lonGiven = 1;
                    break;
                case 2: point.altitude = parseDouble(c, 0); break;
                case 3: point.speedKmh = parseDouble(c, 0); break;
                case 4: setTrackPointTime(point, parseDouble(c, 0)); break;
                case 5: point.hdop = parseDouble(c, 0); break;
                case 6: point.satellites = static_cast<uint8_t>(parseInt(c, 3, 10, 0)); break;
                case 7: point.sample = parseInt(c, 15, 10, 0); break;
                case 8: point.user1 = parseDouble(c, 0); break;
                default: parseDouble(c, 0); break;  // no key: a number is passed over, anything else ends the scan
            }
        }
        // A number too large for a double is no value a point can hold.
        if (!std::isfinite(lat) || !std::isfinite(lon) || !std::isfinite(point.altitude) ||
            !std::isfinite(point.speedKmh) || !std::isfinite(point.hdop) || !std::isfinite(point.user1)) {
            logMessage(MessageLevel::Warning, "Warning: track point not added: a number is too large");
            return false;
        }
        point.lat = degreesToUnits(lat);
        point.lon = degreesToUnits(lon);
        point.valid = 1;
        if (ownPoint) {
            appendTrackRecord(point);
            return true;
        }
        RemoteSegment& r = remoteSegment;
        if (r.open && trackRecordCount() < r.records) r.open = false;  // the tracks were cleared
        if (r.open && trackRecordCount() != r.records) beginTrackSegment(r.name, r.colour);
        appendTrackRecord(point);
        r.records = trackRecordCount();
        return true;
    }
    if (std::strncmp(text, "segment ", 8) == 0) {
        static const char kKeys[] = "name=\0color=\0";
        char name[21] = "";
        int32_t colour = -1;
        const char* c = text + 7;
        while (skipBlanks(c) > 0) {
            const int key = matchKeyword(c, kKeys);
            if (key == 0) {
                parseQuoted(c, name, 20);
            } else if (key == 1) {
                colour = parseInt(c, 10, 10, -1);
            } else {
                parseDouble(c, 0);
            }
        }
        beginTrackSegment(name, colour);
        remoteSegment.open = true;
        std::memcpy(remoteSegment.name, name, sizeof name);
        remoteSegment.colour = colour;
        remoteSegment.records = trackRecordCount();
    }
    return false;
}

bool runWindowCommand(const char* text, std::string* token) {
    token->clear();
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    if (strncasecmp(text, "raise", 5) != 0 || (text[5] != '\0' && !blank(text[5]))) return false;
    const char* c = text + 5;
    while (blank(*c)) ++c;
    if (strncasecmp(c, "token=", 6) != 0) return true;
    for (c += 6; *c > ' ' && *c < 0x7F; ++c) *token += *c;
    return true;
}

bool processRemoteCommands(RemoteMailbox& mailbox,
                           const std::function<void(int field, const std::string&)>& setField,
                           const std::function<void(Bearing)>& addBearing,
                           const std::function<void(const std::string& token)>& raiseWindow) {
    bool pending = false;
    MailboxSlot message;
    for (int n = 0; n < RemoteMailbox::kSlots && takeFromMailbox(mailbox, '*', '*', true, &message); ++n) {
        if (message.length <= 0) continue;
        message.text[message.length >= RemoteMailbox::kMaxText ? RemoteMailbox::kMaxText - 1 : message.length] = '\0';
        if (strncasecmp(message.text, "set ", 4) == 0) {
            const SetCommand set = runSetCommand(message.text + 4);
            if (set.field != 0) {
                setField(set.field, set.value);
                pending = true;
            }
        } else if (strncasecmp(message.text, "track ", 6) == 0) {
            pending = runTrackCommand(message.text + 6) || pending;
        } else if (strncasecmp(message.text, "bearing ", 8) == 0) {
            pending = runBearingCommand(message.text + 8, addBearing) || pending;
        } else if (std::string token; strncasecmp(message.text, "window ", 7) == 0 &&
                                      runWindowCommand(message.text + 7, &token) && raiseWindow) {
            raiseWindow(token);
        }
    }
    return pending;
}

}  // namespace bearfix
