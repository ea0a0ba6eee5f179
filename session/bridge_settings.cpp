#include "session/bridge_settings.h"

namespace bearfix {

namespace {

constexpr const char* kAprs = "APRS";
constexpr const char* kCot = "CoT";

// The keys of both sections, each read and written the same way.
template <class Text, class Flag, class Number>
void eachKey(Text text, Flag flag, Number number) {
    flag(kAprs, "APRSIS", &BridgeSettings::aprsIsOn);
    text(kAprs, "APRSISServer", &BridgeSettings::aprsIsServer);
    flag(kAprs, "KISS", &BridgeSettings::kissOn);
    text(kAprs, "KISSServer", &BridgeSettings::kissServer);
    text(kAprs, "Callsign", &BridgeSettings::aprsCall);
    text(kAprs, "Passcode", &BridgeSettings::aprsPasscode);
    text(kAprs, "RangeKm", &BridgeSettings::aprsRangeKm);
    flag(kAprs, "Send", &BridgeSettings::aprsSend);
    text(kAprs, "Frequency", &BridgeSettings::aprsFreq);
    text(kAprs, "Comment", &BridgeSettings::aprsComment);
    flag(kAprs, "SendFix", &BridgeSettings::aprsSendFix);
    text(kAprs, "FixName", &BridgeSettings::aprsFixName);
    flag(kCot, "On", &BridgeSettings::cotOn);
    number(kCot, "Transport");
    text(kCot, "Address", &BridgeSettings::cotAddress);
    text(kCot, "Interface", &BridgeSettings::cotInterface);
    text(kCot, "Certificate", &BridgeSettings::cotCertificate);
    text(kCot, "Key", &BridgeSettings::cotKey);
    text(kCot, "CACertificates", &BridgeSettings::cotCaCertificates);
    text(kCot, "UidPrefix", &BridgeSettings::cotUidPrefix);
}

}  // namespace

void readBridgeSettings(const IniFile& f, BridgeSettings& s) {
    eachKey(
        [&](const char* section, const char* key, std::string BridgeSettings::*m) { s.*m = f.getString(section, key, s.*m); },
        [&](const char* section, const char* key, bool BridgeSettings::*m) {
            s.*m = f.getInt(section, key, s.*m ? 1 : 0) != 0;
        },
        [&](const char* section, const char* key) {
            const int32_t t = f.getInt(section, key, static_cast<int32_t>(s.cotTransport));
            if (t >= 0 && t <= 3) s.cotTransport = static_cast<CotTransport>(t);
        });
}

void writeBridgeSettings(IniFile& f, const BridgeSettings& s) {
    const BridgeSettings d;
    const auto number = [&](const char* section, const char* key, int32_t value, int32_t dflt) {
        if (value != dflt || f.has(section, key)) f.setInt(section, key, value);
    };
    eachKey(
        [&](const char* section, const char* key, std::string BridgeSettings::*m) {
            if (s.*m != d.*m || f.has(section, key)) f.setString(section, key, s.*m);
        },
        [&](const char* section, const char* key, bool BridgeSettings::*m) { number(section, key, s.*m, d.*m); },
        [&](const char* section, const char* key) {
            number(section, key, static_cast<int32_t>(s.cotTransport), static_cast<int32_t>(d.cotTransport));
        });
}

}  // namespace bearfix
