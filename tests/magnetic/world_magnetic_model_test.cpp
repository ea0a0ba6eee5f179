// The World Magnetic Model against NOAA's own test values of WMM2025
// (tests/data/wmm2025_test_values.csv, see tests/data/README.md) and the
// model's limits in time, height and field strength.
#include "magnetic/world_magnetic_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
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

// The rows of numbers of the table, after its header line:
// date,alt,lat,lon,x,y,z,h,f,incl,decl,gv.
std::vector<std::vector<double>> noaaRows() {
    std::ifstream in(BEARFIX_SOURCE_DIR "/tests/data/wmm2025_test_values.csv");
    std::vector<std::vector<double>> rows;
    std::string line;
    for (std::getline(in, line); std::getline(in, line);) {
        std::vector<double>& row = rows.emplace_back();
        for (std::size_t at = 0, end; at <= line.size(); at = end + 1) {
            end = std::min(line.find(',', at), line.size());
            std::from_chars(line.data() + at, line.data() + end, row.emplace_back());
        }
    }
    return rows;
}

TEST(WorldMagneticModel, GivesNoaasTestValues) {
    const std::vector<std::vector<double>> rows = noaaRows();
    ASSERT_EQ(rows.size(), 100u);
    int blackout = 0, caution = 0;
    for (const std::vector<double>& p : rows) {
        ASSERT_EQ(p.size(), 12u);
        SCOPED_TRACE(::testing::Message() << p[0] << " " << p[1] << " km " << p[2] << " " << p[3]);
        const MagneticField f = wmm().at(p[2], p[3], p[1], p[0]);
        // D and I are rounded to 0.01 degrees in the table; H has six decimals,
        // of which NOAA's generator gets the fourth wrong now and then.
        EXPECT_NEAR(f.declinationDeg, p[10], 0.0051);
        EXPECT_NEAR(f.inclinationDeg, p[9], 0.0051);
        EXPECT_NEAR(f.horizontalNt, p[7], 1e-3);
        const FieldStatus expected =
            p[7] < 2000.0 ? FieldStatus::Blackout : p[7] < 6000.0 ? FieldStatus::Caution : FieldStatus::Valid;
        EXPECT_EQ(f.status, expected);
        EXPECT_EQ(f.reason.empty(), expected == FieldStatus::Valid);
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
        {50, 850, 2027, FieldStatus::Valid, ""},
        {50, 0, 2024.99, FieldStatus::BeforeModel, "2024.99 is before the model (WMM2025 holds from 2025.0 to 2030.0)"},
        {50, 0, 2030.01, FieldStatus::AfterModel, "2030.01 is after the model (WMM2025 holds from 2025.0 to 2030.0)"},
        {50, 0, NAN, FieldStatus::BeforeModel, "the time is before the model (WMM2025 holds from 2025.0 to 2030.0)"},
        {50, -1.5, 2027, FieldStatus::HeightOutside, "the height -1.5 km is outside the model's -1 to 850 km"},
        {50, 851, 2027, FieldStatus::HeightOutside, "the height 851 km is outside the model's -1 to 850 km"},
        {91, 0, 2027, FieldStatus::NoPosition, "not a position"},
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
    std::string why;
    EXPECT_EQ(WorldMagneticModel::load("/nonexistent", why), nullptr);
    EXPECT_TRUE(why.starts_with("no magnetic model: ") && why.find("/nonexistent/wmm2025.wmm") != std::string::npos) << why;
}

TEST(WorldMagneticModel, CountsYearsAsNoaaDoes) {
    // By hand: the year + (day of the year - 1) / days in the year; -1: no date.
    const std::pair<const char*, double> dates[] = {
        {"2025-01-01", 2025.0}, {"2027-07-02", 2027.0 + 182.0 / 365.0}, {"2028-12-31", 2028.0 + 365.0 / 366.0},
        {"2027-02-29", -1},     {"2027-7-02", -1},                      {"0000-01-01", -1},
    };
    for (const auto& [date, year] : dates) EXPECT_EQ(decimalYearOfDate(date).value_or(-1), year) << date;
    EXPECT_DOUBLE_EQ(decimalYear(1814529600), 2027.5);  // 2027-07-02 12:00 UTC
}

}  // namespace
}  // namespace bearfix
