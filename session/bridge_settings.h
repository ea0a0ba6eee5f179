// The settings of the bridges to APRS and TAK (docs/bridges.md): the
// APRS-IS server and the KISS TNC read from, what is sent there, and where
// the Cursor-on-Target events go. Everything starts off. Kept in the
// sections "APRS" and "CoT" of the settings file; a key is written only when
// it differs from its default or the file has it already, so that a file
// of the old program is saved as it was.
#pragma once

#include <cstdint>
#include <string>

#include "session/ini_file.h"

namespace bearfix {

enum class CotTransport : int32_t { Multicast = 0, Udp = 1, Tcp = 2, Tls = 3 };

struct BridgeSettings {
    bool aprsIsOn = false;
    std::string aprsIsServer = "rotate.aprs2.net:14580";  // HOST:PORT
    bool kissOn = false;
    std::string kissServer = "127.0.0.1:8001";  // the software modem's KISS port
    std::string aprsCall;                       // empty: none
    std::string aprsPasscode = "-1";            // -1: receive only
    std::string aprsRangeKm = "100";            // the filter around the map's centre
    bool aprsSend = false;                      // own bearings as DF reports
    std::string aprsFreq;                       // MHz, as typed; empty: none
    std::string aprsComment;
    bool aprsSendFix = false;                   // the fix as an object
    std::string aprsFixName = "FOX";

    bool cotOn = false;
    CotTransport cotTransport = CotTransport::Multicast;
    std::string cotAddress = "239.2.3.1:6969";  // HOST:PORT
    std::string cotInterface;                   // of the multicast group; empty: the system's choice
    std::string cotCertificate, cotKey, cotCaCertificates;  // PEM files, for TLS
    std::string cotUidPrefix;                   // made at the first use, then kept
};

void readBridgeSettings(const IniFile& file, BridgeSettings& s);
void writeBridgeSettings(IniFile& file, const BridgeSettings& s);

}  // namespace bearfix
