#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "cities/cities.h"
#include "geo/great_circle.h"

namespace bearfix {
namespace {

CityRecord place(const char* name, float lat, float lon) {
    CityRecord r{lat, lon, {}, kCityOrdinary};
    std::strncpy(r.name, name, sizeof r.name - 1);
    return r;
}

TEST(DescribeNearCity, DistanceDirectionAndName) {
    const std::vector<CityRecord> table = {place("Alpha", 10.0f, 20.0f), place("Beta", 40.0f, -30.0f)};
    const PlaceIndex index(table);
    const struct {
        double km, course;
        const char* text;
    } cases[] = {
        {0.0, 0.0, "Alpha"}, {0.4999, 90.0, "Alpha"}, {0.5001, 90.0, "1 km E of Alpha"},
        {12.4999, 0.0, "12 km N of Alpha"}, {12.5001, 0.0, "13 km N of Alpha"},  // rounded half up
        {100, 22.5, "100 km N of Alpha"}, {100, 22.6, "100 km NE of Alpha"}, {100, 180.0, "100 km S of Alpha"},
        {100, 337.5, "100 km NW of Alpha"}, {100, 337.6, "100 km N of Alpha"},
        {899.9, 270.0, "900 km W of Alpha"}, {900.0001, 270.0, ""},
    };
    for (const auto& c : cases) {
        GeoPosition p;
        gc_destination(static_cast<float>(20.0f * kDegToRad), static_cast<float>(10.0f * kDegToRad),
                       c.km / kEarthRadiusKm, c.course * kDegToRad, &p.lon, &p.lat);
        EXPECT_EQ(index.describe(p.lon, p.lat), c.text) << c.km << " km at " << c.course;
    }
}

TEST(DescribeNearCity, TiesEmptyTablesAndTheBuiltInOne) {
    // Two places mirrored about the meridian of the point: the earlier wins.
    const std::vector<CityRecord> table = {place("West", 50.0f, -1.0f), place("East", 50.0f, 1.0f)};
    const double lat = 50.0 * kDegToRad;
    EXPECT_EQ(PlaceIndex(table).describe(0.0, lat), "71 km E of West");
    EXPECT_EQ(PlaceIndex(std::vector<CityRecord>(table.rbegin(), table.rend())).describe(0.0, lat), "71 km W of East");
    EXPECT_EQ(PlaceIndex(std::vector<CityRecord>{}).describe(0.0, lat), "");
    EXPECT_EQ(PlaceIndex(table).describe(NAN, lat), "");

    // The built-in table, asked again and again as keystrokes do, over more
    // places than it remembers answers for.
    const struct {
        double lonDeg, latDeg;
        const char* text;
    } asked[] = {{6.0, 50.78, "Aachen"}, {-30.0, -40.0, ""}, {8.4825, 52.1406, "5 km W of Enger"},
                 {6.0, 50.78, "Aachen"}, {8.4825, 52.1406, "5 km W of Enger"}};
    for (int round = 0; round < 3; ++round) {
        for (const auto& a : asked) {
            EXPECT_EQ(describe_near_city(a.lonDeg * kDegToRad, a.latDeg * kDegToRad), a.text) << a.lonDeg;
            describe_near_city((a.lonDeg + round + 1) * kDegToRad, a.latDeg * kDegToRad);  // one more to remember
        }
    }
}

}  // namespace
}  // namespace bearfix
