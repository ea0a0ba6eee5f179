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

// The point `km` from (lat, lon) in degrees on `courseDeg`.
GeoPosition from(float lat, float lon, double km, double courseDeg) {
    GeoPosition p;
    gc_destination(static_cast<float>(lon * kDegToRad), static_cast<float>(lat * kDegToRad), km / kEarthRadiusKm,
                   courseDeg * kDegToRad, &p.lon, &p.lat);
    return p;
}

TEST(DescribeNearCity, DistanceDirectionAndName) {
    const std::vector<CityRecord> table = {place("Alpha", 10.0f, 20.0f), place("Beta", 40.0f, -30.0f)};
    const PlaceIndex index(table);
    struct Case {
        double km, course;
        const char* text;
    };
    const Case cases[] = {
        {0.0, 0.0, "Alpha"},
        {0.4999, 90.0, "Alpha"},
        {0.5001, 90.0, "1 km E of Alpha"},
        {12.4999, 0.0, "12 km N of Alpha"},  // rounded half up
        {12.5001, 0.0, "13 km N of Alpha"},
        {100, 22.5, "100 km N of Alpha"},
        {100, 22.6, "100 km NE of Alpha"},
        {100, 180.0, "100 km S of Alpha"},
        {100, 337.5, "100 km NW of Alpha"},
        {100, 337.6, "100 km N of Alpha"},
        {899.9, 270.0, "900 km W of Alpha"},
        {900.0001, 270.0, ""},
    };
    for (const auto& c : cases) {
        GeoPosition p = from(10.0f, 20.0f, c.km, c.course);
        EXPECT_EQ(index.describe(p.lon, p.lat), c.text) << c.km << " km at " << c.course;
    }
}

TEST(DescribeNearCity, TiesAndEmptyTables) {
    // Two places mirrored about the meridian of the point: the earlier wins.
    const std::vector<CityRecord> table = {place("West", 50.0f, -1.0f), place("East", 50.0f, 1.0f)};
    const double lat = 50.0 * kDegToRad;
    EXPECT_TRUE(PlaceIndex(table).describe(0.0, lat).ends_with(" km E of West"));
    std::vector<CityRecord> reversed(table.rbegin(), table.rend());
    EXPECT_TRUE(PlaceIndex(reversed).describe(0.0, lat).ends_with(" km W of East"));
    EXPECT_EQ(PlaceIndex(std::vector<CityRecord>{}).describe(0.0, lat), "");
    EXPECT_EQ(PlaceIndex(table).describe(NAN, lat), "");
}

TEST(DescribeNearCity, BuiltInTable) {
    EXPECT_EQ(describe_near_city(6.0 * kDegToRad, 50.78 * kDegToRad), "Aachen");
    EXPECT_EQ(describe_near_city(-30.0 * kDegToRad, -40.0 * kDegToRad), "") << "the South Atlantic";
    const std::string nearA = describe_near_city(8.4825 * kDegToRad, 52.1406 * kDegToRad);
    EXPECT_NE(nearA.find(" km "), std::string::npos) << nearA;
}

}  // namespace
}  // namespace bearfix
