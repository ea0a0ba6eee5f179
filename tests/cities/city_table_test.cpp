// The committed table of places: size, categories, the entries the program
// and its users rely on, order and names.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cities/cities.h"
#include "geo/position.h"

namespace bearfix {
namespace {

std::string nameOf(const CityRecord& r) { return std::string(r.name, strnlen(r.name, sizeof r.name)); }

std::vector<CityRecord> entries() { return std::vector<CityRecord>(kCityTable, kCityTable + city_count()); }

// The alphabetical key: case ignored, accented letters as their base letter.
std::string sortKey(const std::string& name) {
    static const std::map<unsigned char, std::string> folds = [] {
        std::map<unsigned char, std::string> m;
        auto add = [&m](const char* bytes, const char* base) {
            for (const char* p = bytes; *p; ++p) m[static_cast<unsigned char>(*p)] = base;
        };
        add("\xC0\xC1\xC2\xC3\xC4\xC5\xE0\xE1\xE2\xE3\xE4\xE5", "a");
        add("\xC7\xE7", "c");
        add("\xC8\xC9\xCA\xCB\xE8\xE9\xEA\xEB", "e");
        add("\xCC\xCD\xCE\xCF\xEC\xED\xEE\xEF", "i");
        add("\xD1\xF1", "n");
        add("\xD2\xD3\xD4\xD5\xD6\xD8\xF2\xF3\xF4\xF5\xF6\xF8", "o");
        add("\xD9\xDA\xDB\xDC\xF9\xFA\xFB\xFC", "u");
        add("\xDD\xFD\xFF\x9F", "y");
        add("\x8A\x9A", "s");
        add("\x8E\x9E", "z");
        add("\xD0\xF0", "d");
        add("\xDF", "ss");
        add("\xC6\xE6", "ae");
        add("\x8C\x9C", "oe");
        add("\xDE\xFE", "th");
        return m;
    }();
    std::string key;
    for (char c : name) {
        auto b = static_cast<unsigned char>(c);
        if (b >= 'A' && b <= 'Z') {
            key += static_cast<char>(b - 'A' + 'a');
        } else if (auto it = folds.find(b); it != folds.end()) {
            key += it->second;
        } else {
            key += c;
        }
    }
    return key;
}

struct Named {
    const char* name;
    float lat, lon;
    int flags;
};

const Named kNamed[] = {
    {"Amman", 31.95f, 35.9f, 0x10}, {"Amsterdam", 52.37f, 4.9f, 0x10},
    {"Athens (Athinai)", 37.97f, 23.72f, 0x10}, {"Belgrade (Beograd)", 44.83f, 20.5f, 0x10},
    {"Berlin", 52.53f, 13.4f, 0x10}, {"Bern", 46.95f, 7.4f, 0x10},
    {"Brussels (Bruxelles)", 50.83f, 4.3f, 0x10}, {"Bucharest (Bukarest)", 44.43f, 26.1f, 0x10},
    {"Budapest", 47.5f, 19.0f, 0x10}, {"Cairo (Al Qahirah)", 30.05f, 31.2f, 0x10},
    {"Copenhagen", 55.72f, 12.5f, 0x10}, {"Dakar", 14.63f, -17.4f, 0x10},
    {"Damascus", 33.5f, 36.3f, 0x10}, {"Dublin", 53.33f, -6.25f, 0x10},
    {"Helsinki", 60.13f, 25.0f, 0x10}, {"Jerusalem", 31.77f, 35.2f, 0x10},
    {"Lisbon (Lisboa)", 38.72f, -9.15f, 0x10}, {"London (Gr.Brit.)", 51.5f, -0.1f, 0x10},
    {"Madrid", 40.4f, -3.68f, 0x10}, {"Mexico City", 19.4f, -99.1f, 0x10},
    {"Moscow (Moskva)", 55.75f, 37.5f, 0x10}, {"Oslo", 59.93f, 10.7f, 0x10},
    {"Ottawa", 45.42f, -75.7f, 0x10}, {"Paris", 48.87f, 2.3f, 0x10},
    {"Praha (Prague)", 50.1f, 14.4f, 0x10}, {"Rabat (Marocco)", 34.03f, -6.8f, 0x10},
    {"Roma (Rome)", 41.88f, 12.48f, 0x10}, {"Sofia (Sofiya)", 42.67f, 23.3f, 0x10},
    {"Stockholm", 59.33f, 18.0f, 0x10}, {"Tirana", 41.33f, 19.83f, 0x10},
    {"Tokyo", 35.67f, 139.7f, 0x10}, {"Tunis", 36.83f, 10.18f, 0x10},
    {"Wien (Vienna)", 48.22f, 16.373f, 0x10}, {"Warsaw (Warszawa)", 52.25f, 21.0f, 0x10},
    {"Washington DC", 38.9f, -77.0f, 0x10}, {"Los Angeles CA", 34.05f, -118.2f, 0x08},
    {"New York NY", 40.43f, -74.0f, 0x08}, {"Gran Canaria", 27.9f, -15.5f, 0x20},
    {"Tenerife", 28.26f, -16.58f, 0x20}, {"Criggion", 52.72f, -3.07f, 0x40},
    {"Le Blanc", 46.62f, 1.08f, 0x40}, {"Tavolara", 40.92f, 9.75f, 0x40},
    {"Saterland", 53.16f, 7.97f, 0x42}, {"Detmold", 51.93f, 8.875f, 0x02},
    {"Minden", 52.29f, 8.922f, 0x02}, {"Soest", 51.5718f, 8.1088f, 0x02},
    {"Jan Mayen", 71.0f, -8.33f, 0x02}, {"Troms\xF8", 69.67f, 18.97f, 0x02},
    {"Aachen", 50.78f, 6.0f, 0x01}, {"Aalst", 50.95f, 4.0f, 0x01},
    {"Aba (Nigeria)", 5.12f, 7.3f, 0x01},
};

TEST(CityTable, SizeAndCategories) {
    ASSERT_EQ(city_count(), 3722);
    std::map<int, int> perBit;
    for (const CityRecord& r : entries()) {
        for (int bit = 1; bit <= 0x40; bit <<= 1) perBit[bit] += (r.flags & bit) ? 1 : 0;
        if (nameOf(r) != "Saterland") {
            EXPECT_EQ(__builtin_popcount(static_cast<unsigned>(r.flags)), 1) << nameOf(r);
        }
        EXPECT_FALSE(r.lat == 0.0f && r.lon == 0.0f) << nameOf(r) << " would end the table";
        if ((r.flags & kCityLocal) && nameOf(r) != "Jan Mayen" && nameOf(r) != "Troms\xF8") {
            EXPECT_TRUE(r.lat >= 50.8f && r.lat <= 53.2f && r.lon >= 7.5f && r.lon <= 9.4f) << nameOf(r);
        }
    }
    EXPECT_EQ(perBit[0x01], 3654);
    EXPECT_EQ(perBit[0x02], 26);
    EXPECT_EQ(perBit[0x04], 0);
    EXPECT_EQ(perBit[0x08], 2);
    EXPECT_EQ(perBit[0x10], 35);
    EXPECT_EQ(perBit[0x20], 2);
    EXPECT_EQ(perBit[0x40], 4);
}

TEST(CityTable, NamedEntries) {
    std::map<std::string, CityRecord> byName;
    for (const CityRecord& r : entries()) byName[nameOf(r)] = r;
    for (const Named& n : kNamed) {
        auto it = byName.find(n.name);
        ASSERT_NE(it, byName.end()) << n.name;
        EXPECT_EQ(it->second.lat, n.lat) << n.name;
        EXPECT_EQ(it->second.lon, n.lon) << n.name;
        EXPECT_EQ(it->second.flags, n.flags) << n.name;
    }
    for (const char* name : {"Aba (Zaire)", "Piesberg/Osn.", "Hot Springs AR", "K\xF6ln (Cologne)", "B\xFCnde",
                             "Buenaventura (Col.)", "Vientiane (Vianchan)", "Zwickau", "Zwolle", "Z\xFCrich"}) {
        EXPECT_TRUE(byName.count(name)) << name;
    }
    EXPECT_EQ(byName["Piesberg/Osn."].flags, kCityLocal);
}

TEST(CityTable, OrderAndNames) {
    const auto all = entries();
    std::set<std::string> names;
    std::vector<std::string> ordered;  // without the placements of old
    for (std::size_t i = 0; i < all.size(); ++i) {
        const CityRecord& r = all[i];
        std::string name = nameOf(r);
        EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
        EXPECT_GE(name.size(), 1u);
        EXPECT_LE(name.size(), 20u) << name;
        for (std::size_t k = name.size(); k < sizeof r.name; ++k) EXPECT_EQ(r.name[k], '\0') << name;
        for (unsigned char c : name) {
            EXPECT_TRUE(c >= 0x20 && c != 0x7F && c != 0x81 && c != 0x8D && c != 0x8F && c != 0x90 && c != 0x9D)
                << name << " holds a byte outside the code page";
        }
        if (name == "B\xFCnde") {
            EXPECT_EQ(nameOf(all[i + 1]), "Buenaventura (Col.)");
        } else if (name == "Wien (Vienna)") {
            EXPECT_EQ(nameOf(all[i + 1]), "Vientiane (Vianchan)");
        } else if (name != "Z\xFCrich") {
            ordered.push_back(name);
        }
    }
    for (std::size_t i = 1; i < ordered.size(); ++i) {
        EXPECT_LE(sortKey(ordered[i - 1]), sortKey(ordered[i])) << ordered[i - 1] << " / " << ordered[i];
    }
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(nameOf(all[0]), "Aachen");
    EXPECT_EQ(nameOf(all[1]), "Aalst");
    EXPECT_EQ(nameOf(all[2]), "Aba (Nigeria)");
    EXPECT_EQ(nameOf(all[all.size() - 3]), "Zwickau");
    EXPECT_EQ(nameOf(all[all.size() - 2]), "Zwolle");
    EXPECT_EQ(nameOf(all[all.size() - 1]), "Z\xFCrich");
}

TEST(CityTable, GetHandsOutRadians) {
    CityInfo info{};
    info.flags = 99;
    EXPECT_FALSE(city_get(-1, info));
    EXPECT_FALSE(city_get(city_count(), info));
    EXPECT_EQ(info.flags, 99) << "a refused index leaves the output alone";
    ASSERT_TRUE(city_get(0, info));
    EXPECT_STREQ(info.name, "Aachen");
    EXPECT_EQ(info.lat, static_cast<float>(50.78f * kDegToRad));
    EXPECT_EQ(info.lon, static_cast<float>(6.0f * kDegToRad));
}

}  // namespace
}  // namespace bearfix
