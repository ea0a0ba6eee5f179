// The committed table of places: size, categories, the entries users rely on,
// order and names.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cities/cities.h"
#include "geo/position.h"

namespace bearfix {
namespace {

std::string nameOf(const CityRecord& r) { return std::string(r.name, strnlen(r.name, sizeof r.name)); }

std::vector<CityRecord> entries() { return std::vector<CityRecord>(kCityTable, kCityTable + city_count()); }

// The alphabetical key: case ignored, cp1252 letters as their base letters.
std::string sortKey(const std::string& name) {
    static const std::map<unsigned char, std::string> folds = [] {
        std::map<unsigned char, std::string> m{{0x8A, "s"}, {0x9A, "s"},   {0x8E, "z"}, {0x9E, "z"},
                                               {0x8C, "oe"}, {0x9C, "oe"}, {0x9F, "y"}};
        std::istringstream latin1("a a a a a a ae c e e e e i i i i d n o o o o o \xD7 o u u u u y th ss "
                                  "a a a a a a ae c e e e e i i i i d n o o o o o \xF7 o u u u u y th y");
        std::string base;
        for (int b = 0xC0; latin1 >> base; ++b) m[static_cast<unsigned char>(b)] = base;
        return m;
    }();
    std::string key;
    for (unsigned char b : name) {
        if (auto it = folds.find(b); it != folds.end()) key += it->second;
        else key += static_cast<char>(b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
    }
    return key;
}

TEST(CityTable, SizeAndCategories) {
    ASSERT_EQ(city_count(), 3722);
    std::map<int, int> perBit;
    for (const CityRecord& r : entries()) {
        const std::string name = nameOf(r);
        for (int bit = 1; bit <= 0x40; bit <<= 1) perBit[bit] += (r.flags & bit) ? 1 : 0;
        EXPECT_TRUE(__builtin_popcount(static_cast<unsigned>(r.flags)) == 1 || name == "Saterland") << name;
        EXPECT_FALSE(r.lat == 0.0f && r.lon == 0.0f) << name << " would end the table";
        if ((r.flags & kCityLocal) && name != "Jan Mayen" && name != "Troms\xF8") {
            EXPECT_TRUE(r.lat >= 50.8f && r.lat <= 53.2f && r.lon >= 7.5f && r.lon <= 9.4f) << name;
        }
    }
    EXPECT_EQ(perBit, (std::map<int, int>{{1, 3654}, {2, 26}, {4, 0}, {8, 2}, {0x10, 35}, {0x20, 2}, {0x40, 4}}));
}

TEST(CityTable, NamedEntries) {
    const struct {
        const char* name;
        float lat, lon;
        int flags;
    } named[] = {
        // Capitals in every quarter of the world, and the entries of the other kinds.
        {"Berlin", 52.53f, 13.4f, 0x10}, {"London (Gr.Brit.)", 51.5f, -0.1f, 0x10}, {"Dakar", 14.63f, -17.4f, 0x10},
        {"Mexico City", 19.4f, -99.1f, 0x10}, {"Tokyo", 35.67f, 139.7f, 0x10}, {"Wien (Vienna)", 48.22f, 16.373f, 0x10},
        {"Washington DC", 38.9f, -77.0f, 0x10}, {"Los Angeles CA", 34.05f, -118.2f, 0x08},
        {"New York NY", 40.43f, -74.0f, 0x08}, {"Gran Canaria", 27.9f, -15.5f, 0x20}, {"Tenerife", 28.26f, -16.58f, 0x20},
        {"Criggion", 52.72f, -3.07f, 0x40}, {"Le Blanc", 46.62f, 1.08f, 0x40}, {"Tavolara", 40.92f, 9.75f, 0x40},
        {"Saterland", 53.16f, 7.97f, 0x42}, {"Detmold", 51.93f, 8.875f, 0x02}, {"Soest", 51.5718f, 8.1088f, 0x02},
        {"Piesberg/Osn.", 52.31f, 8.0f, 0x02}, {"B\xFCnde", 52.198f, 8.586f, 0x02}, {"Jan Mayen", 71.0f, -8.33f, 0x02},
        {"Troms\xF8", 69.67f, 18.97f, 0x02}, {"Aba (Nigeria)", 5.12f, 7.3f, 0x01}, {"Aba (Zaire)", 3.87f, 30.23f, 0x01},
        {"Hot Springs AR", 34.5f, -93.06f, 0x01}, {"K\xF6ln (Cologne)", 50.93f, 6.95f, 0x01},
    };
    std::map<std::string, CityRecord> byName;
    for (const CityRecord& r : entries()) byName[nameOf(r)] = r;
    for (const auto& n : named) {
        ASSERT_TRUE(byName.count(n.name)) << n.name;
        const CityRecord& r = byName[n.name];
        EXPECT_EQ(std::tuple(r.lat, r.lon, r.flags), std::tuple(n.lat, n.lon, n.flags)) << n.name;
    }
}

TEST(CityTable, OrderAndNames) {
    const auto all = entries();
    std::set<std::string> names;
    std::vector<std::string> ordered;  // without the placements of old
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string name = nameOf(all[i]);
        EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
        EXPECT_TRUE(!name.empty() && name.size() <= 20u) << name;
        for (std::size_t k = name.size(); k < sizeof all[i].name; ++k) EXPECT_EQ(all[i].name[k], '\0') << name;
        for (unsigned char c : name)
            EXPECT_TRUE(c >= 0x20 && c != 0x7F && c != 0x81 && c != 0x8D && c != 0x8F && c != 0x90 && c != 0x9D)
                << name << " holds a byte outside the code page";
        if (name == "B\xFCnde") EXPECT_EQ(nameOf(all[i + 1]), "Buenaventura (Col.)");
        else if (name == "Wien (Vienna)") EXPECT_EQ(nameOf(all[i + 1]), "Vientiane (Vianchan)");
        else if (name != "Z\xFCrich") ordered.push_back(name);
    }
    for (std::size_t i = 1; i < ordered.size(); ++i)
        EXPECT_LE(sortKey(ordered[i - 1]), sortKey(ordered[i])) << ordered[i - 1] << " / " << ordered[i];
    const std::size_t n = all.size();
    EXPECT_EQ((std::vector<std::string>{nameOf(all[0]), nameOf(all[1]), nameOf(all[2]), nameOf(all[n - 3]),
                                        nameOf(all[n - 2]), nameOf(all[n - 1])}),
              (std::vector<std::string>{"Aachen", "Aalst", "Aba (Nigeria)", "Zwickau", "Zwolle", "Z\xFCrich"}));
}

TEST(CityTable, GetHandsOutRadians) {
    CityInfo info{};
    info.flags = 99;
    EXPECT_FALSE(city_get(-1, info) || city_get(city_count(), info));
    EXPECT_EQ(info.flags, 99) << "a refused index leaves the output alone";
    ASSERT_TRUE(city_get(0, info));
    EXPECT_STREQ(info.name, "Aachen");
    EXPECT_EQ(std::pair(info.lat, info.lon),
              std::pair(static_cast<float>(50.78f * kDegToRad), static_cast<float>(6.0f * kDegToRad)));
}

}  // namespace
}  // namespace bearfix
