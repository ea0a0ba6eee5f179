// CoT events read back by an XML parser (TinyXML) as a TAK client reads
// them; the lines' ends checked with GeographicLib on the same sphere.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <GeographicLib/Geodesic.hpp>
#include <regex>
#include <set>

#include "cot/cot_scene.h"
#include "geo/great_circle.h"

namespace bearfix {
namespace {

constexpr int64_t kNow = 1262304000123;  // 2010-01-01T00:00:00.123Z

GeoPosition deg(double lat, double lon) { return {lon * kDegToRad, lat * kDegToRad}; }

CotScene hunt() {
    CotScene s;
    s.stations = {{"A", "A & \"B\" <1>", deg(50, 8)}, {"Köln", "K\xF6ln", deg(50.9, 6.9)}};  // the second Windows-1252
    s.fix = CotFix{deg(50.3, 8.5), 2.3, "FOX", "95 %: 2.3 x 0.8 km"};
    s.area = {deg(50.2, 8.4), deg(50.2, 8.6), deg(50.4, 8.6), deg(50.4, 8.4)};
    s.lines = {{"A", 1262300000, deg(50, 8), 45, 80}, {"K\xF6ln", {}, deg(50.9, 6.9), 135, 10}};
    return s;
}

struct Parsed {
    std::map<std::string, std::string> event, point;
    std::vector<std::string> links;  // point="lat,lon"
    std::string callsign, linkUid;
};

Parsed parse(const std::string& xml) {
    TiXmlDocument doc;
    doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
    EXPECT_FALSE(doc.Error()) << doc.ErrorDesc() << "\n" << xml;
    Parsed p;
    const TiXmlElement* e = doc.RootElement();
    if (!e || e->ValueStr() != "event") return p;
    for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) p.event[a->Name()] = a->ValueStr();
    if (const TiXmlElement* pt = e->FirstChildElement("point"))
        for (const TiXmlAttribute* a = pt->FirstAttribute(); a; a = a->Next()) p.point[a->Name()] = a->ValueStr();
    const TiXmlElement* detail = e->FirstChildElement("detail");
    for (const TiXmlElement* d = detail ? detail->FirstChildElement() : nullptr; d; d = d->NextSiblingElement()) {
        if (d->ValueStr() == "link" && d->Attribute("point")) p.links.push_back(d->Attribute("point"));
        if (d->ValueStr() == "link" && d->Attribute("uid")) p.linkUid = d->Attribute("uid");
        if (d->ValueStr() == "contact") p.callsign = d->Attribute("callsign");
    }
    return p;
}

GeoPosition linkPoint(const std::string& text) {
    return deg(std::stod(text.substr(0, text.find(','))), std::stod(text.substr(text.find(',') + 1)));
}

TEST(Cot, EventsParseAsTheBaseSchemaSays) {
    const std::vector<CotEvent> events = cotSceneEvents(hunt(), {"bearfix-test", 600}, kNow);
    ASSERT_EQ(events.size(), 6u);
    const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    std::vector<Parsed> p;
    for (const CotEvent& e : events) {
        p.push_back(parse(cotXml(e)));
        EXPECT_EQ(p.back().event["version"], "2.0");
        EXPECT_EQ(p.back().event["uid"], e.uid);
        EXPECT_TRUE(std::regex_match(p.back().event["time"], time));
        EXPECT_EQ(p.back().event["time"], "2010-01-01T00:00:00.123Z");
        EXPECT_EQ(p.back().event["start"], p.back().event["time"]);
        EXPECT_EQ(p.back().event["stale"], "2010-01-01T00:10:00.123Z");
    }
    EXPECT_EQ(p[0].event["type"], "a-f-G");
    EXPECT_EQ(p[0].callsign, "A & \"B\" <1>");
    EXPECT_EQ(p[1].callsign, "K\xC3\xB6ln");
    EXPECT_EQ(p[0].point["lat"], "50.0000000");
    EXPECT_EQ(p[2].event["type"], "b-m-p-s-m");
    EXPECT_EQ(p[2].point["ce"], "2300.0");
    EXPECT_EQ(p[2].callsign, "FOX");
    EXPECT_EQ(p[3].event["type"], "u-d-f");
    ASSERT_EQ(p[3].links.size(), 5u);  // closed: the first vertex again
    EXPECT_EQ(p[3].links.front(), p[3].links.back());
    // A line: from its station, as long as asked, along the bearing.
    const GeographicLib::Geodesic sphere(kEarthRadiusKm * 1000, 0);
    for (const std::size_t i : {4u, 5u}) {
        const CotLine l = hunt().lines[i - 4];
        ASSERT_GE(p[i].links.size(), 2u);
        const GeoPosition a = linkPoint(p[i].links.front()), b = linkPoint(p[i].links.back());
        double s12, azi1, azi2;
        sphere.Inverse(a.lat * kRadToDeg, a.lon * kRadToDeg, b.lat * kRadToDeg, b.lon * kRadToDeg, s12, azi1, azi2);
        EXPECT_NEAR(s12 / 1000, l.lengthKm, 0.01);
        EXPECT_NEAR(azi1, l.bearingDeg, 1e-4);
        EXPECT_NEAR(a.lat, l.from.lat, 1e-8);
    }
}

// A phone replaces what has the same uid: moving things keep theirs; only
// what changed is sent, gone things are deleted, the rest refreshed before
// it goes stale.
TEST(Cot, UidsStayAndOnlyChangesAreSent) {
    CotScene s = hunt();
    CotUpdates updates;
    const CotOptions options{"bearfix-test", 600};
    const std::vector<CotEvent> first = updates.next(cotSceneEvents(s, options, kNow), kNow);
    ASSERT_EQ(first.size(), 6u);
    std::set<std::string> uids;
    for (const CotEvent& e : first) uids.insert(e.uid);
    EXPECT_EQ(uids.size(), 6u);
    EXPECT_TRUE(updates.next(cotSceneEvents(s, options, kNow + 1000), kNow + 1000).empty());
    s.fix->position = deg(50.31, 8.5);
    s.stations[0].position = deg(50.01, 8);
    const std::vector<CotEvent> moved = updates.next(cotSceneEvents(s, options, kNow + 2000), kNow + 2000);
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[0].uid, first[0].uid);
    EXPECT_EQ(moved[1].uid, first[2].uid);
    s.lines.pop_back();
    const std::vector<CotEvent> gone = updates.next(cotSceneEvents(s, options, kNow + 3000), kNow + 3000);
    ASSERT_EQ(gone.size(), 1u);
    Parsed del = parse(cotXml(gone[0]));
    EXPECT_EQ(del.event["type"], "t-x-d-d");
    EXPECT_EQ(del.linkUid, first[5].uid);
    EXPECT_EQ(updates.next(cotSceneEvents(s, options, kNow + 302000), kNow + 302000).size(), 5u);
}

}  // namespace
}  // namespace bearfix
