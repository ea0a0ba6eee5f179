// Cursor-on-Target events as TAK clients (ATAK, WinTAK, iTAK) take them:
//   <?xml version="1.0" encoding="UTF-8" standalone="yes"?>
//   <event version="2.0" uid type how time start stale>
//     <point lat lon hae ce le/><detail>...</detail></event>
// after MITRE's CoT 2.0 base event schema (Event-PUBLIC.xsd, MITRE case
// 11-3895) and the detail elements of ATAK-CIV's takcot/ examples. An event
// with the uid of an earlier one replaces it on the phone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace bearfix {

// What the schema's users write for a height or error not known.
inline constexpr double kCotUnknown = 9999999.0;

struct CotPoint {
    double latDeg = 0.0, lonDeg = 0.0;  // WGS-84
    double haeM = kCotUnknown;          // height above the ellipsoid
    double ceM = kCotUnknown;           // circular error
    double leM = kCotUnknown;           // linear (vertical) error
};

struct CotEvent {
    std::string uid;     // UTF-8
    std::string type;    // "a-f-G", "b-m-p-s-m", "u-d-f", "t-x-d-d"
    std::string how;     // "h-e" entered by hand, "m-f" fused by a machine
    int64_t timeMs = 0;  // since 1970; start is the same
    int64_t staleMs = 0;
    CotPoint point;
    std::string detail;  // the children of <detail>, as XML
};

// "2020-12-16T19:59:34.921Z"
std::string cotTime(int64_t ms);

// A text for an XML attribute or element: & < > " ' as entities, control
// characters but tab dropped (XML 1.0 cannot carry them). UTF-8 stays; a
// text that is no UTF-8 is read as Windows-1252.
std::string cotText(std::string_view text);

// A number with '.', `decimals` after it, whatever the locale.
std::string cotNumber(double value, int decimals);

// The XML declaration, a newline and the event: what a UDP datagram holds,
// and one after another (no newline between) what a TAK server's TCP
// stream holds.
std::string cotXml(const CotEvent& event);

// An event that takes `uid` (of `type`) off the phones (ATAK's "t-x-d-d"
// with a link to it and <__forcedelete/>).
CotEvent cotDeleteEvent(std::string_view uid, std::string_view type, int64_t nowMs);

}  // namespace bearfix
