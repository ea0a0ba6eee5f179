#include "session/bearing_rows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <tuple>
#include <string>
#include <vector>

#include "fix/bearing_log.h"
#include "session/settings.h"
#include "geo/great_circle.h"

namespace bearfix {
namespace {

const char* const kPosA = "N52\xB0" "08'26\" E008\xB0" "28'57\"";
const char* const kPosB = "N49\xB0" "27'00\" E011\xB0" "00'00\"";

Bearing bearing(const char* station, double latDeg, double lonDeg, double brg, double tol = 2.0) {
    Bearing b;
    b.station = station;
    b.position = {lonDeg * kDegToRad, latDeg * kDegToRad};
    b.bearingDeg = brg;
    b.toleranceDeg = tol;
    return b;
}

// The observer rows are there while both fields of an observer are filled
// with a position, read as the result fields read them; their fix is X.
TEST(BearingRows, ObserverRowsFollowTheFields) {
    const struct {
        ObserverTexts in;
        const char* stations;
    } cases[] = {
        {{kPosA, kPosB, "260", "288"}, "AB"},
        {{kPosA, kPosB, "", "288"}, "B"},
        {{"", kPosB, "260", "288"}, "B"},
        {{kPosA, "", "260", "288"}, "A"},
        {{"N1" + std::string(400, '0') + " E8", kPosB, "260", "288"}, "B"},  // not a position
        {{kPosA, kPosB, "", ""}, ""},
        {{kPosA, kPosB, "abc", "288"}, "B"},  // no number: no direction anybody gave
        {{kPosA, kPosB, " -", "+.5"}, "B"},
        {{kPosA, kPosB, "1" + std::string(400, '0'), "288"}, "B"},  // not finite
    };
    for (const auto& c : cases) {
        BearingRows r;
        r.rows.push_back(bearing("Car", 50, 8, 45));
        setObserverRows(r, c.in);
        std::string stations;
        for (int i = 0; i < r.observers; ++i) stations += r.rows[static_cast<std::size_t>(i)].station;
        EXPECT_EQ(stations, c.stations) << c.in.brg1x << "|" << c.in.brg2x;
        EXPECT_EQ(r.rows.back().station, "Car") << "the log stays after them";
        EXPECT_EQ(r.logSize(), 1u);
    }

    // Whole turns, a tolerance with a sign, and the same texts twice.
    BearingRows r;
    EXPECT_TRUE(setObserverRows(r, {kPosA, kPosB, "620", "-72", "-3", ""}));
    EXPECT_FALSE(setObserverRows(r, {kPosA, kPosB, "620", "-72", "-3", ""})) << "nothing to redo";
    EXPECT_EQ(r.rows[0].bearingDeg, 260.0);
    EXPECT_EQ(r.rows[1].bearingDeg, 288.0);
    EXPECT_EQ(r.rows[0].toleranceDeg, 3.0);
    EXPECT_EQ(r.rows[1].toleranceDeg, 0.0);

    // X of the main window, found by the pairwise crossing.
    refit(r);
    const Results x = computeResults({kPosA, kPosB, "260", "288"});
    ASSERT_EQ(r.fix.status, FixStatus::Found);
    EXPECT_NEAR(r.fix.x.lat, x.fix.x.lat, 1e-9);
    EXPECT_NEAR(r.fix.x.lon, x.fix.x.lon, 1e-9);
    EXPECT_EQ(fixSummary(r.fix).position, x.locationX);
    EXPECT_EQ(fixSummary(r.fix).place, x.locationInfo);
    EXPECT_EQ(fixSummary(r.fix).title, "Fix (2 bearings)");

    // Unticked, an observer's bearing stays unused when its field changes.
    std::string why;
    ASSERT_TRUE(editCell(r, 0, BearingColumn::Use, "0", why));
    setObserverRows(r, {kPosA, kPosB, "261", "288"});
    EXPECT_FALSE(r.rows[0].enabled);
    refit(r);
    EXPECT_EQ(fixSummary(r.fix).title, "Fix (1 bearing)");
    EXPECT_EQ(fixSummary(r.fix).position, "none, fewer than two usable bearings");
    EXPECT_EQ(fixSummary(r.fix).ellipse95, "");
}

// Only bearings the user gave make rows, and none while A follows the GPS;
// a bearing given then is kept pinned where its fields say.
TEST(BearingRows, OnlyBearingsTheUserGaveMakeRows) {
    const struct {
        bool given1, given2, following;
        int rows;
    } cases[] = {{false, false, false, 0}, {true, false, false, 1}, {true, true, false, 2}, {true, true, true, 0}};
    for (const auto& c : cases) {
        SessionSettings s;
        std::tie(s.brg1Given, s.brg2Given, s.live.followGps) = std::tie(c.given1, c.given2, c.following);
        BearingRows r;
        setSessionObserverRows(r, s);
        EXPECT_EQ(r.observers, c.rows);
    }
    const std::optional<Bearing> b =
        pinnedObserverBearing({kPosA, "N50 E8", "260", "45.5", "1", "3"}, 'B', 1262304000, BearingSource::Remote);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(std::tie(b->station, b->bearingDeg, b->toleranceDeg, b->utc, b->source),
              std::make_tuple(std::string("B"), 45.5, 3.0, std::optional<int64_t>(1262304000), BearingSource::Remote));
    EXPECT_EQ(bearingText(*b, BearingColumn::Position, true), "N50 E8");
    EXPECT_FALSE(pinnedObserverBearing({kPosA, kPosB, "", "288"}, 'A', 0, BearingSource::Typed)) << "empty: none";
}

// A bearing from a station `km` away on `azimuth` (seen from the
// transmitter) that points at it, as a hand works it out with the course.
Bearing toward(const char* station, GeoPosition tx, double km, double azimuth) {
    Bearing b;
    b.station = station;
    gc_destination(tx.lon, tx.lat, km / kEarthRadiusKm, azimuth * kDegToRad, &b.position.lon, &b.position.lat);
    double course;
    gc_distance_course(b.position.lon, b.position.lat, tx.lon, tx.lat, nullptr, &course);
    b.bearingDeg = reduce_bearing_degrees(course * kRadToDeg);
    return b;
}

// The observer fields keep the last hunt's bearings (or the defaults): one
// that points away from this hunt must not take its fix with it. The fix is
// then that of the others, leaving out as few observers as will do, and
// says so; the observers' own Use stays.
TEST(BearingRows, AnObserverPointingAwayIsLeftOutOfTheLogsFix) {
    const GeoPosition tx{20.0 * kDegToRad, 45.0 * kDegToRad};
    std::vector<Bearing> hunt;
    for (int i = 0; i < 6; ++i) hunt.push_back(toward("Car", tx, 10.0 + 3 * i, 60.0 * i + 5));
    // B on the spot, 40 km north-west of the transmitter, bearing at it.
    const Bearing b = toward("B", tx, 40.0, 315.0);
    char posB[64], brgB[32];
    std::snprintf(posB, sizeof posB, "%.12f, %.12f", b.position.lat * kRadToDeg, b.position.lon * kRadToDeg);
    std::snprintf(brgB, sizeof brgB, "%.12f", b.bearingDeg);
    const struct {
        ObserverTexts in;
        bool untickA;
        int used;
        const char* title;
        const char* leftOut;  // empty: the fix of every enabled row
    } cases[] = {
        {{kPosA, kPosB, "260", "288", "1", "1"}, false, 6, "Fix (6 bearings, without A and B)",
         "A and B left out: with them, no crossing lies ahead of every station"},
        {{kPosA, posB, "260", brgB, "1", "1"}, false, 7, "Fix (7 bearings, without A)",
         "A left out: with it, no crossing lies ahead of every station"},
        {{kPosA, posB, "260", brgB, "1", "1"}, true, 7, "Fix (7 bearings)", ""},
        {{"", posB, "", brgB, "", "1"}, false, 7, "Fix (7 bearings)", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        BearingRows r;
        r.rows = hunt;
        setObserverRows(r, c.in);
        std::string why;
        if (c.untickA) {
            ASSERT_TRUE(editCell(r, 0, BearingColumn::Use, "0", why));
        }
        refit(r);
        ASSERT_EQ(r.fix.status, FixStatus::Found);
        EXPECT_NEAR(r.fix.x.lat, tx.lat, 1e-9);  // the bearings are exact
        EXPECT_NEAR(r.fix.x.lon, tx.lon, 1e-9);
        EXPECT_EQ(r.fix.used, c.used);
        const FixSummary s = fixSummary(r);
        EXPECT_EQ(s.title, c.title);
        EXPECT_EQ(s.leftOut, c.leftOut);
        EXPECT_EQ(s.position, "N45\xB0" "00'00\" E020\xB0" "00'00\"");
        for (int i = 0; i < r.observers; ++i) {
            const auto row = static_cast<std::size_t>(i);
            EXPECT_EQ(r.rows[row].enabled, !(c.untickA && r.letters[row] == 'A')) << "Use stays as set";
            EXPECT_EQ(rowsAsFitted(r)[row].enabled, r.fix.fits[row].used) << r.letters[row];
        }
    }

    // The observers alone keep their reason: nothing to leave out for.
    BearingRows r;
    setObserverRows(r, {kPosA, kPosB, "0", "180"});  // meridians that meet at the poles, one behind each
    refit(r);
    EXPECT_EQ(fixSummary(r).title, "Fix (2 bearings)");
    EXPECT_EQ(fixSummary(r).position, "none, the bearings do not cross (parallel or along one line)");
    EXPECT_EQ(fixSummary(r).leftOut, "");
}

TEST(BearingRows, EditingACellSaysWhatIsWrong) {
    const struct {
        BearingColumn column;
        std::string text;
        const char* why;  // empty: taken
    } cases[] = {
        {BearingColumn::Station, "Car 2, north", ""},
        {BearingColumn::Station, "  ", "a station needs a name"},
        {BearingColumn::Station, std::string(64, 'x'), "the station name is longer than 63 characters"},
        {BearingColumn::Station, "a\tb", "a control character in the station name"},
        {BearingColumn::Time, "2010-01-01 00:00:00", ""},
        {BearingColumn::Time, "", ""},
        {BearingColumn::Time, "yesterday", "time \"yesterday\" is neither like 2010-01-01T00:00:00Z nor seconds since 1970"},
        {BearingColumn::Position, "S33\xB0" "30' E151\xB0" "15'", ""},
        {BearingColumn::Position, "50.3375, 8.7553", ""},  // the forms the observer fields take
        {BearingColumn::Position, "JO40hf", ""},
        {BearingColumn::Position, "N50.1", "position \"N50.1\" is no latitude and longitude such as N50.1 E8.6"},
        {BearingColumn::Position, "N95 E8", "position \"N95 E8\" is no latitude and longitude such as N50.1 E8.6"},
        {BearingColumn::Position, "N50 E8 x", "position \"N50 E8 x\" is no latitude and longitude such as N50.1 E8.6"},
        {BearingColumn::Bearing, " -10,5 ", ""},
        {BearingColumn::Bearing, "12abc", "bearing \"12abc\" is not a number of degrees"},
        {BearingColumn::Bearing, "1e3", "bearing \"1e3\" is not a number of degrees"},
        {BearingColumn::Tolerance, "2.5", ""},
        {BearingColumn::Tolerance, "-1", "tolerance \"-1\" is not a number in 0..180"},
        {BearingColumn::Tolerance, "123456789012345678901234567890",
         "tolerance \"123456789012345678901234...\" is not a number in 0..180"},
        {BearingColumn::Source, "udp", "this column cannot be changed"},
    };
    for (const auto& c : cases) {
        BearingRows r;
        r.rows.push_back(bearing("Car", 50, 8, 45, 1));
        const Bearing before = r.rows[0];
        std::string why;
        const bool taken = editCell(r, 0, c.column, c.text, why);
        EXPECT_EQ(taken, *c.why == '\0') << c.text;
        if (!taken) {
            EXPECT_EQ(why, c.why);
            for (BearingColumn k : {BearingColumn::Station, BearingColumn::Time, BearingColumn::Position,
                                    BearingColumn::Bearing, BearingColumn::Tolerance})
                EXPECT_EQ(cellText(r, 0, k, true), bearingText(before, k, true)) << "untouched";
        }
    }
    // What was taken, as a hand reads it.
    BearingRows r;
    r.rows.push_back(bearing("Car", 50, 8, 45, 1));
    std::string why;
    ASSERT_TRUE(editCell(r, 0, BearingColumn::Position, "S33\xB0" "30' E151\xB0" "15'", why));
    ASSERT_TRUE(editCell(r, 0, BearingColumn::Bearing, "-10,5", why));
    ASSERT_TRUE(editCell(r, 0, BearingColumn::Time, "2010-01-01 00:00:00", why));
    EXPECT_NEAR(r.rows[0].position.lat, -33.5 * kDegToRad, 1e-12);
    EXPECT_NEAR(r.rows[0].position.lon, 151.25 * kDegToRad, 1e-12);
    EXPECT_EQ(r.rows[0].bearingDeg, 349.5);
    EXPECT_EQ(r.rows[0].utc, 1262304000);
    EXPECT_EQ(cellText(r, 0, BearingColumn::Position), "S33\xB0" "30'00\" E151\xB0" "15'00\"");
    EXPECT_EQ(cellText(r, 0, BearingColumn::Position, true), "S33.5 E151.25");
    EXPECT_EQ(cellText(r, 0, BearingColumn::Bearing), "349.5");
    EXPECT_EQ(cellText(r, 0, BearingColumn::Time), "2010-01-01T00:00:00Z");

    // The observer rows take only Use.
    setObserverRows(r, {kPosA, kPosB, "260", "288"});
    EXPECT_FALSE(editCell(r, 1, BearingColumn::Bearing, "10", why));
    EXPECT_EQ(why, "bearing B comes from the observer fields: change it there");
    EXPECT_EQ(cellText(r, 1, BearingColumn::Source), "observer");
    EXPECT_EQ(cellText(r, 2, BearingColumn::Source), "typed");
}

// An import adds what the table does not hold yet: a file written from the
// table and read back holds nothing new, a bearing a hair's breadth off
// (beyond what the file's ten decimals lose) is new.
TEST(BearingRows, ImportSkipsWhatTheTableHolds) {
    BearingRows r;
    setObserverRows(r, {kPosA, kPosB, "260", "288"});
    r.rows.push_back(bearing("Car 1", 50.1234567891, 8.6, 359.99999999999));
    r.rows.back().utc = 1262304000;
    r.rows.push_back(bearing("Car 2", -33.5, 179.99999999999, 0.0));
    std::vector<Bearing> read;
    std::string errors;
    ASSERT_TRUE(parseBearingCsv(formatBearingCsv(r.rows), read, errors)) << errors;
    ASSERT_EQ(read.size(), 4u);
    Bearing nudged = read[2];
    nudged.bearingDeg = 0.000001;
    read.push_back(nudged);
    read.push_back(nudged);  // twice in the file: both are new
    read.push_back(read[3]);
    read.back().utc = 0;
    std::size_t skipped = 0;
    const std::vector<Bearing> fresh = bearingsToAppend(r, read, true, &skipped);
    EXPECT_EQ(skipped, 4u);
    ASSERT_EQ(fresh.size(), 3u);
    EXPECT_EQ(fresh[0].bearingDeg, 0.000001);
    EXPECT_EQ(fresh[2].utc, 0);
    EXPECT_EQ(bearingsToAppend(r, read, false).size(), read.size()) << "the remote command adds all";
}

TEST(BearingRows, TheLogIsCapped) {
    BearingRows r;
    r.rows.assign(BearingLog::kMaxEntries - 2, bearing("Car", 50, 8, 45));
    setObserverRows(r, {kPosA, kPosB, "260", "288"});
    EXPECT_EQ(bearingsToAppend(r, std::vector<Bearing>(5, bearing("Car", 50, 8, 46)), false).size(), 2u);
}

TEST(BearingRows, TheLogShowsOnTheMapWithAnEnabledBearingOfItsOwn) {
    BearingRows r;
    setObserverRows(r, {kPosA, kPosB, "260", "288"});
    EXPECT_FALSE(logShowsOnMap(r)) << "the observers alone draw as they always did";
    r.rows.push_back(bearing("Car", 50, 8, 45));
    r.rows.back().enabled = false;
    EXPECT_FALSE(logShowsOnMap(r));
    r.rows.push_back(bearing("Car", 50, 8, 45));
    EXPECT_TRUE(logShowsOnMap(r));
}

// "only the last N min": counted back from the newest time in the log; an
// older bearing sits the fix out (its Use stays), one without a time counts.
TEST(BearingRows, OnlyTheLastMinutesCount) {
    BearingRows r;  // toward N50.3 E8.5 (courses on the sphere by the atan2 formula), the oldest 40 degrees off
    r.rows = {bearing("Old", 50.0, 8.0, 46.690707 + 40), bearing("Car 1", 50.0, 9.0, 313.309293),
              bearing("Car 2", 50.6, 8.5, 180.0), bearing("Hill", 50.3, 8.0, 89.807650)};
    for (int i = 0; i < 3; ++i) r.rows[static_cast<std::size_t>(i)].utc = 1716022800 + 600 * i;
    for (const auto& [minutes, used] : {std::pair{0.0, 4}, {15.0, 3}, {0.5, 2}}) {
        r.lastMinutes = minutes;
        refit(r);
        EXPECT_EQ(r.fix.used, used) << minutes;
        const std::vector<Bearing> fitted = rowsAsFitted(r);
        for (std::size_t i = 0; i < r.rows.size(); ++i) {
            EXPECT_EQ(r.isAgedOut(i), static_cast<int>(i) < 4 - used) << minutes << " " << i;
            EXPECT_EQ(fitted[i].enabled, !r.isAgedOut(i) && r.rows[i].enabled) << "an export gives the same fix";
        }
        EXPECT_EQ(std::fabs(r.fix.x.lat * kRadToDeg - 50.3) < 1e-4, minutes > 0) << minutes;
    }
}

}  // namespace
}  // namespace bearfix
