#include "export/export_model.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tracks/track_store.h"

namespace bearfix {
namespace {

const ExportFeature* find(const ExportModel& m, const std::string& name) {
    for (const ExportFeature& f : m.features)
        if (f.name == name) return &f;
    return nullptr;
}

bool noted(const ExportModel& m, const std::string& text) {
    for (const std::string& n : m.notes)
        if (n.find(text) != std::string::npos) return true;
    return false;
}

// What goes out when a field holds less than a full fix, and what is left out
// with a note rather than written as a shape no reader can take.
TEST(ExportModel, IncompleteFieldsGiveWhatTheyCan) {
    struct Case {
        FixTexts in;
        std::vector<std::string> present, absent;
        std::string note;
    };
    const Case cases[] = {
        {{"N50 E8", "N50 E9", "45", "315", "0", "95"},
         {"A", "B", "X", "Sector A"},
         {"Sector B", "Search area"},
         "Sector B left out"},
        {{"N50 E8", "N50 E9", "45", "", "1", "1"}, {"A", "B", "Sector A"}, {"X", "Sector B"}, ""},
        {{"N" + std::string(400, '9') + " E8", "N50 E9", "45", "315", "1", "1"},
         {"B", "Sector B"},
         {"A", "X", "Sector A"},
         "Observer A left out: not a position"},
        {{"N50 E8", "N50 E9", "45", "135", "1", "1", false, true}, {"X' A \xC3\x97 B+180", "Sector B+180"}, {"X"}, ""},
    };
    for (const Case& c : cases) {
        ExportInput in;
        in.observers = c.in;
        const ExportModel m = buildExportModel(in);
        for (const std::string& name : c.present) EXPECT_TRUE(find(m, name)) << name;
        for (const std::string& name : c.absent) EXPECT_FALSE(find(m, name)) << name;
        EXPECT_TRUE(c.note.empty() || noted(m, c.note)) << c.note;
    }
    ExportInput in;
    in.observers = {"N50 E8", "N50 E9", "45", "315", "0", "1"};
    const ExportModel zero = buildExportModel(in);
    const ExportFeature* line = find(zero, "Sector A");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->shape, ExportFeature::kLine);  // a tolerance of 0 is a bearing line
}

// A bearing that is not plainly true goes out as the true bearing it stands
// for, saying what made it so; plain ones go out as before.
TEST(ExportModel, CorrectionsGoOutWithTheirBearings) {
    ExportInput in;
    in.observers = {"N50 E8", "N50 E9", "32", "315", "1", "1"};
    in.observers.reference1 = BearingReference::Magnetic;
    in.observers.correction1 = 13.0;
    in.log.resize(1);
    in.log[0].station = "Compass";
    setBearingAsTaken(in.log[0], 350.0, BearingReference::Magnetic, 13.0);
    const ExportModel m = buildExportModel(in);
    const struct {
        const char* feature;
        std::size_t properties, bearing, reference;  // count, indices; reference 0: none
        double degrees;                   // 32 + 13, 315, 350 + 13
        const char* description;
    } cases[] = {
        {"A", 6, 0, 3, 45, "Bearing 45\xC2\xB0 \xC2\xB1" "1\xC2\xB0 (magnetic +13\xC2\xB0)"},
        {"B", 4, 0, 0, 315, "Bearing 315\xC2\xB0 \xC2\xB1" "1\xC2\xB0;"},
        {"Compass", 8, 1, 6, 3, "3\xC2\xB0 (magnetic +13\xC2\xB0) \xC2\xB1" "1\xC2\xB0"},
    };
    for (const auto& c : cases) {
        const ExportFeature* f = find(m, c.feature);
        ASSERT_TRUE(f && f->properties.size() == c.properties) << c.feature;
        EXPECT_TRUE(f->description.starts_with(c.description)) << f->description;
        EXPECT_NEAR(f->properties[c.bearing].number, c.degrees, 1e-9) << c.feature;
        if (!c.reference) continue;
        const ExportProperty* r = &f->properties[c.reference];
        EXPECT_EQ(r[0].key + "=" + r[0].text + ", " + r[1].key, "reference=magnetic, correction_deg") << c.feature;
        EXPECT_EQ(r[1].number, 13.0) << c.feature;
    }
}

// Segments keep their names (a nameless one is "Track"), points off the
// earth are dropped, a one-point segment is a point; elevation 0 is none.
TEST(ExportModel, TracksAsTheStoreHoldsThem) {
    TrackBuffer store;
    const auto point = [&store](double lat, double lon, double altitude) {
        TrackPoint p;
        initTrackPoint(p);
        p.lat = degreesToUnits(lat);
        p.lon = degreesToUnits(lon);
        p.altitude = altitude;
        p.valid = 1;
        store.append(p);
    };
    point(10, 20, 5);  // before any header
    point(10.5, 20, 0);
    store.beginSegment(
        "K\xFC"
        "ste",
        -1);
    point(95, 0, 0);
    point(11, 190, 7);
    ExportInput in;
    in.observers.brg1x = in.observers.brg2x = "";
    in.tracks = &store;
    const ExportModel m = buildExportModel(in);
    const ExportFeature* first = find(m, "Track");
    const ExportFeature* second = find(m, "K\xC3\xBCste");
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->points.size(), 2u);
    EXPECT_EQ(first->points[0].ele, 5);
    EXPECT_TRUE(std::isnan(first->points[1].ele));
    EXPECT_EQ(second->shape, ExportFeature::kPoint);
    EXPECT_NEAR(second->points[0].lon, -170, 1e-9);
    EXPECT_TRUE(noted(m, "1 track points beyond the poles left out"));
}

}  // namespace
}  // namespace bearfix
