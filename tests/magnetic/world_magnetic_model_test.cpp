// The World Magnetic Model against NOAA's own test values of WMM2025
// (tests/data/wmm2025_test_values.csv, see tests/data/README.md) and the
// model's limits in time, height and field strength.
#include "magnetic/world_magnetic_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace bearfix {
namespace {

const WorldMagneticModel& wmm() {
    static const std::unique_ptr<WorldMagneticModel> model = [] {
        std::string why;
        auto m = WorldMagneticModel::load(BEARFIX_SOURCE_DIR "/map_data/magnetic", why);
        if (!m) throw std::runtime_error(why);
        return m;
    }();
    return *model;
}

struct NoaaPoint {
    double year, heightKm, lat, lon, h, incl, decl;
};

// date,alt,lat,lon,x,y,z,h,f,incl,decl,gv
std::vector<NoaaPoint> noaaPoints() {
    std::ifstream in(BEARFIX_SOURCE_DIR "/tests/data/wmm2025_test_values.csv");
    std::vector<NoaaPoint> points;
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::vector<double> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');) f.push_back(std::stod(field));
        if (f.size() != 12) throw std::runtime_error("a test value line without 12 fields: " + line);
        points.push_back({f[0], f[1], f[2], f[3], f[7], f[9], f[10]});
    }
    return points;
}

TEST(WorldMagneticModel, GivesNoaasTestValues) {
    const std::vector<NoaaPoint> points = noaaPoints();
    ASSERT_EQ(points.size(), 100u);
    int blackout = 0, caution = 0;
    for (const NoaaPoint& p : points) {
        SCOPED_TRACE(::testing::Message() << p.year << " " << p.heightKm << " km " << p.lat << " " << p.lon);
        const MagneticField f = wmm().at(p.lat, p.lon, p.heightKm, p.year);
        // D and I are rounded to 0.01 degrees in the table; H has six decimals,
        // of which NOAA's generator gets the fourth wrong now and then.
        EXPECT_NEAR(f.declinationDeg, p.decl, 0.0051);
        EXPECT_NEAR(f.inclinationDeg, p.incl, 0.0051);
        EXPECT_NEAR(f.horizontalNt, p.h, 1e-3);
        const FieldStatus expected =
            p.h < 2000.0 ? FieldStatus::Blackout : p.h < 6000.0 ? FieldStatus::Caution : FieldStatus::Valid;
        EXPECT_EQ(f.status, expected);
        EXPECT_EQ(f.reason.empty(), expected == FieldStatus::Valid);
        EXPECT_EQ(f.valid(), expected != FieldStatus::Blackout);
        blackout += expected == FieldStatus::Blackout;
        caution += expected == FieldStatus::Caution;
    }
    EXPECT_GT(blackout, 0);
    EXPECT_GT(caution, 0);
}

TEST(WorldMagneticModel, SaysWhereAndWhenItHoldsNot) {
    const struct {
        double lat, heightKm, year;
        FieldStatus status;
        const char* reason;
    } cases[] = {
        {50, 0, 2025.0, FieldStatus::Valid, ""},
        {50, 0, 2030.0, FieldStatus::Valid, ""},
        {50, -1, 2027, FieldStatus::Valid, ""},
        {50, 850, 2027, FieldStatus::Valid, ""},
        {50, 0, 2024.99, FieldStatus::BeforeModel, "2024.99 is before the model (WMM2025 holds from 2025.0 to 2030.0)"},
        {50, 0, 2030.01, FieldStatus::AfterModel, "2030.01 is after the model (WMM2025 holds from 2025.0 to 2030.0)"},
        {50, 0, NAN, FieldStatus::BeforeModel, "the time is before the model (WMM2025 holds from 2025.0 to 2030.0)"},
        {50, -1.5, 2027, FieldStatus::HeightOutside, "the height -1.5 km is outside the model's -1 to 850 km"},
        {50, 851, 2027, FieldStatus::HeightOutside, "the height 851 km is outside the model's -1 to 850 km"},
        {91, 0, 2027, FieldStatus::NoPosition, "not a position"},
        {NAN, 0, 2027, FieldStatus::NoPosition, "not a position"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.lat << " " << c.heightKm << " km " << c.year);
        const MagneticField f = wmm().at(c.lat, 8.0, c.heightKm, c.year);
        EXPECT_EQ(f.status, c.status);
        EXPECT_EQ(f.reason, c.reason);
        EXPECT_EQ(std::isfinite(f.declinationDeg), c.status == FieldStatus::Valid);
    }
    // The blackout zone's reason names the field (89 N 121 W: 1504 nT in NOAA's table).
    EXPECT_EQ(wmm().at(89, -121, 28, 2025.0).reason,
              "in the blackout zone round the magnetic pole (horizontal intensity 1504 nT, below 2000 nT): the "
              "declination is not to be relied on");
    EXPECT_EQ(wmm().name(), "WMM2025");
}

TEST(WorldMagneticModel, CountsYearsAsNoaaDoes) {
    const struct {
        const char* date;
        double year;  // by hand: year + (day of year - 1) / days in the year
    } dates[] = {
        {"2025-01-01", 2025.0},
        {"2027-07-02", 2027.0 + 182.0 / 365.0},
        {"2028-12-31", 2028.0 + 365.0 / 366.0},
        {"2000-02-29", 2000.0 + 59.0 / 366.0},
        {"2027-02-29", NAN},
        {"2027-7-02", NAN},
        {"2027-07-02x", NAN},
        {"0000-01-01", NAN},
        {"", NAN},
    };
    for (const auto& d : dates) {
        const auto year = decimalYearOfDate(d.date);
        EXPECT_EQ(year.has_value(), !std::isnan(d.year)) << d.date;
        if (year) {
            EXPECT_DOUBLE_EQ(*year, d.year) << d.date;
        }
    }
    EXPECT_DOUBLE_EQ(decimalYear(1814529600), 2027.5);  // 2027-07-02 12:00 UTC
    EXPECT_DOUBLE_EQ(decimalYear(1767225600), 2026.0);
}

TEST(WorldMagneticModel, SaysWhyItCannotLoad) {
    std::string why;
    EXPECT_EQ(WorldMagneticModel::load("/nonexistent", why), nullptr);
    EXPECT_TRUE(why.starts_with("no magnetic model: ")) << why;
    EXPECT_NE(why.find("/nonexistent/wmm2025.wmm"), std::string::npos) << why;
    EXPECT_EQ(WorldMagneticModel::load("", why), nullptr);
}

}  // namespace
}  // namespace bearfix
