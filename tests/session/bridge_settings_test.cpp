// The bridges' settings: an old file is saved without their sections; what
// the user set is written and read back.
#include "session/bridge_settings.h"

#include <gtest/gtest.h>

namespace bearfix {
namespace {

TEST(BridgeSettings, WrittenOnlyWhenSetAndReadBack) {
    IniFile old;
    old.parse("[GPS]\nServer=off\n");
    BridgeSettings s;
    readBridgeSettings(old, s);
    writeBridgeSettings(old, s);
    EXPECT_EQ(old.text(), "[GPS]\nServer=off\n");
    s.aprsIsOn = true;
    s.aprsCall = "N0CALL-9";
    s.cotTransport = CotTransport::Tls;
    s.cotCertificate = "/home/u/client.pem";
    IniFile f;
    writeBridgeSettings(f, s);
    EXPECT_EQ(f.text(), "[APRS]\nAPRSIS=1\nCallsign=N0CALL-9\n\n[CoT]\nTransport=3\nCertificate=/home/u/client.pem\n");
    BridgeSettings back;
    readBridgeSettings(f, back);
    EXPECT_TRUE(back.aprsIsOn);
    EXPECT_EQ(back.aprsCall, "N0CALL-9");
    EXPECT_EQ(back.cotTransport, CotTransport::Tls);
    EXPECT_EQ(back.cotCertificate, "/home/u/client.pem");
    EXPECT_EQ(back.cotAddress, "239.2.3.1:6969");
}

}  // namespace
}  // namespace bearfix
