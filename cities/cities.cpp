#include "cities/cities.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "geo/great_circle.h"

namespace bearfix {

namespace {

constexpr double kMaxKm = 900.0;
constexpr double kWindow = kMaxKm / kEarthRadiusKm;  // radians of latitude
constexpr const char* kCompass[8] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};

float toRadians(float degrees) { return static_cast<float>(degrees * kDegToRad); }

int countTable() {
    int n = 0;
    while (!(kCityTable[n].lat == 0.0f && kCityTable[n].lon == 0.0f)) ++n;
    return n;
}

const PlaceIndex& builtInIndex() {
    static const PlaceIndex index(std::span<const CityRecord>(kCityTable, static_cast<std::size_t>(city_count())));
    return index;
}

}  // namespace

int city_count() {
    static const int count = countTable();
    return count;
}

bool city_get(int index, CityInfo& out) {
    if (index < 0 || index >= city_count()) return false;
    const CityRecord& r = kCityTable[index];
    out.lat = toRadians(r.lat);
    out.lon = toRadians(r.lon);
    std::memset(out.name, 0, sizeof out.name);
    std::memcpy(out.name, r.name, sizeof out.name);
    out.flags = r.flags;
    return true;
}

std::string describe_near_city(double lon, double lat) {
    // A keystroke describes A, B and X again, of which usually only X moved.
    struct Described {
        uint64_t lon, lat;  // the bits: -0 is not 0 to a course
        std::string text;
    };
    thread_local std::array<Described, 4> recent{};
    thread_local std::size_t next = 0, filled = 0;
    const auto lonBits = std::bit_cast<uint64_t>(lon), latBits = std::bit_cast<uint64_t>(lat);
    for (std::size_t i = 0; i < filled; ++i) {
        if (recent[i].lon == lonBits && recent[i].lat == latBits) return recent[i].text;
    }
    std::string text = builtInIndex().describe(lon, lat);
    recent[next] = {lonBits, latBits, text};
    next = (next + 1) % recent.size();
    filled = std::min(filled + 1, recent.size());
    return text;
}

PlaceIndex::PlaceIndex(std::span<const CityRecord> places) : records_(places) {
    places_.reserve(places.size());
    for (const CityRecord& r : places) {
        float lat = toRadians(r.lat), lon = toRadians(r.lon);
        places_.push_back({lat, lon, std::cos(double(lat)) * std::cos(double(lon)),
                           std::cos(double(lat)) * std::sin(double(lon)), std::sin(double(lat))});
    }
}

int PlaceIndex::nearest(double lon, double lat, double* angle) const {
    // The nearest place has the largest cosine of the angle, i.e. the largest
    // dot product of unit vectors; no trigonometry per place.
    const double x = std::cos(lat) * std::cos(lon), y = std::cos(lat) * std::sin(lon), z = std::sin(lat);
    int best = -1;
    double bestCos = -2.0;
    for (std::size_t i = 0; i < places_.size(); ++i) {
        const Place& p = places_[i];
        if (!(std::fabs(lat - p.lat) < kWindow)) continue;
        double c = x * p.x + y * p.y + z * p.z;
        if (c > bestCos) {
            bestCos = c;
            best = static_cast<int>(i);
        }
    }
    if (best >= 0 && angle) gc_distance_course(places_[best].lon, places_[best].lat, lon, lat, angle, nullptr);
    return best;
}

std::string PlaceIndex::describe(double lon, double lat) const {
    double angle = 0.0;
    int best = nearest(lon, lat, &angle);
    if (best < 0) return {};
    const double km = angle * kEarthRadiusKm;
    if (!(km < kMaxKm)) return {};

    const Place& p = places_[static_cast<std::size_t>(best)];
    std::string name(records_[static_cast<std::size_t>(best)].name,
                     strnlen(records_[static_cast<std::size_t>(best)].name, sizeof(CityRecord::name)));
    const int n = static_cast<int>(km + 0.5);
    if (n < 1) return name;

    // The side of the place on which the position lies.
    double course = 0.0;
    gc_distance_course(p.lon, p.lat, lon, lat, nullptr, &course);
    double deg = course * kRadToDeg;
    if (deg < 0) deg += 360.0;
    const int sector = static_cast<int>(deg * 8.0 / 360.0 + 0.499) % 8;

    char text[80];
    std::snprintf(text, sizeof text, "%d km %s of %s", n, kCompass[sector], name.c_str());
    return text;
}

}  // namespace bearfix
