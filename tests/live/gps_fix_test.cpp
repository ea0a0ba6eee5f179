// A fix's text forms and the checks on what gpsd hands over.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "remote/remote_mailbox.h"
#include "live/gps_fix.h"
#include "tracks/track_store.h"

namespace bearfix {
namespace {

GpsFix sample() {
    GpsFix f;
    f.mode = GpsMode::Fix3D;
    f.latDeg = 52.125;  // N52°07'30", exact in binary
    f.lonDeg = -8.5;
    f.altMslM = 116.6;
    f.speedKmh = 36.04;
    f.courseDeg = 215.0;
    f.utc = 1716022813;  // 2024-05-18 09:00:13 UTC
    f.satellites = 7;
    f.hdop = 0.9;
    return f;
}

TEST(GpsFix, TextForms) {
    const GpsFix f = sample();
    EXPECT_EQ(gpsTimeText(f.utc), "2024-05-18 09:00:13");
    EXPECT_EQ(gpsTimeText(std::nullopt), "");
    EXPECT_EQ(gpsFixLine(f),
              "2024-05-18 09:00:13  N52\xB0" "07'30\" W008\xB0" "30'00\"  117 m ASL  36.0 km/h  course 215.0  7 sats  HDOP=0.9");
    EXPECT_EQ(gpsFixJson(f), "{\"lat\": 52.1250000, \"lon\": -8.5000000, \"alt_m\": 116.6, \"speed_kmh\": 36.04, "
                             "\"course_deg\": 215.0, \"time\": \"2024-05-18T09:00:13Z\", \"sats\": 7}");
    GpsFix none;
    none.mode = GpsMode::NoFix;
    EXPECT_EQ(gpsFixJson(none), "{\"lat\": null, \"lon\": null, \"alt_m\": null, \"speed_kmh\": null, "
                                "\"course_deg\": null, \"time\": null, \"sats\": null}");
    EXPECT_EQ(gpsFixLine(none), "no time  no fix  ? m ASL  ? km/h  course ?  ? sats  HDOP=?");
    EXPECT_EQ(gpsTrackCommand(none), "");
}

TEST(GpsFix, ValuesNoReceiverReportsBecomeUnknown) {
    struct Case {
        const char* name;
        void (*spoil)(GpsFix&);
        bool keepsPosition;
    } const cases[] = {
        {"latitude beyond the pole", [](GpsFix& f) { f.latDeg = 90.5; }, false},
        {"longitude NaN", [](GpsFix& f) { f.lonDeg = NAN; }, false},
        {"longitude infinite", [](GpsFix& f) { f.lonDeg = INFINITY; }, false},
        {"altitude beyond", [](GpsFix& f) { f.altMslM = 1e6; }, true},
        {"negative speed", [](GpsFix& f) { f.speedKmh = -1; }, true},
        {"course beyond", [](GpsFix& f) { f.courseDeg = 361; }, true},
        {"satellites beyond", [](GpsFix& f) { f.satellites = 300; }, true},
        {"hdop negative", [](GpsFix& f) { f.hdop = -0.5; }, true},
        {"time before 1970", [](GpsFix& f) { f.utc = -1; }, true},
        {"unknown mode", [](GpsFix& f) { f.mode = static_cast<GpsMode>(7); }, false},
    };
    for (const Case& c : cases) {
        GpsFix f = sample();
        c.spoil(f);
        const GpsFix s = sanitisedFix(f);
        EXPECT_EQ(s.hasPosition(), c.keepsPosition) << c.name;
        const GpsFix ok = sample();
        // Exactly the spoilt value is gone; the rest stays.
        EXPECT_EQ(std::isfinite(s.altMslM), std::string(c.name) != "altitude beyond") << c.name;
        EXPECT_EQ(std::isfinite(s.speedKmh), std::string(c.name) != "negative speed") << c.name;
        EXPECT_EQ(std::isfinite(s.courseDeg), std::string(c.name) != "course beyond") << c.name;
        EXPECT_EQ(s.satellites == ok.satellites, std::string(c.name) != "satellites beyond") << c.name;
        EXPECT_EQ(std::isfinite(s.hdop), std::string(c.name) != "hdop negative") << c.name;
        EXPECT_EQ(s.utc.has_value(), std::string(c.name) != "time before 1970") << c.name;
        if (!c.keepsPosition) {
            EXPECT_NE(s.mode, GpsMode::Fix3D) << c.name;
        }
    }
    GpsFix full = sample();
    full.courseDeg = 360;
    EXPECT_EQ(sanitisedFix(full).courseDeg, 0);
}

// The recorded point is the one "track addpoint" with the same values stores.
TEST(GpsFix, TheTrackCommandStoresTheFix) {
    clearTracks();
    const GpsFix f = sample();
    const std::string command = gpsTrackCommand(f);
    EXPECT_EQ(command, "addpoint lat=52.1250000 lon=-8.5000000 masl=116.6 kmh=36.04 udts=1716022813 hdop=0.90 nsats=7");
    ASSERT_TRUE(runTrackCommand(command.c_str()));
    ASSERT_EQ(trackRecordCount(), 1);
    const TrackPoint& p = *trackRecordAt(0);
    EXPECT_EQ(std::tuple(p.lat, p.lon, p.altitude, p.speedKmh, p.hdop, p.satellites, p.valid),
              std::tuple(18765000, -3060000, 116.6, 36.04, 0.9, 7, 1));  // 52.125 and -8.5 times 360000
    EXPECT_EQ(std::tuple(p.yearSince2000, p.month, p.day, p.hour, p.second), std::tuple(24, 5, 18, 9, 13));
    clearTracks();
}

}  // namespace
}  // namespace bearfix
