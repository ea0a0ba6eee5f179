#include "export/export_model.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "cities/cities.h"
#include "fix/multi_fix.h"
#include "geo/great_circle.h"
#include "support/cp1252.h"
#include "support/number_format.h"
#include "tracks/track_store.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kMaxReach = 0.49 * kPi;  // as the map: short of the antipode
constexpr const char* kDegree = "\xC2\xB0";

// 0x00BBGGRR, the map's where it has one.
constexpr uint32_t kCrossingColour = 0x000000DC;      // the search area's red
constexpr uint32_t kBackCrossingColour = 0x00007FFF;  // orange
constexpr uint32_t kLogColour = 0x000064C8;
constexpr uint32_t kFixColour = 0x00DC0000;

ExportProperty textProperty(std::string key, std::string utf8) {
    ExportProperty p;
    p.key = std::move(key);
    p.text = std::move(utf8);
    return p;
}
ExportProperty numberProperty(std::string key, double value) {
    ExportProperty p;
    p.key = std::move(key);
    p.type = ExportProperty::kNumber;
    p.number = value;
    return p;
}
ExportProperty flagProperty(std::string key, bool value) {
    ExportProperty p;
    p.key = std::move(key);
    p.type = ExportProperty::kFlag;
    p.flag = value;
    return p;
}

ExportFeature feature(FeatureKind kind, ExportFeature::Shape shape, std::string name) {
    ExportFeature f;
    f.kind = kind;
    f.shape = shape;
    f.name = std::move(name);
    return f;
}

std::string degreesShown(double degrees) { return formatPicture(degrees, "##0.#") + kDegree; }

// What made a bearing true, for one that is not plainly true: its
// properties and " (magnetic +3.7°)"; nothing otherwise.
std::string referenceShown(BearingReference reference, double correction, std::vector<ExportProperty>& properties) {
    if (reference == BearingReference::True && correction == 0.0) return {};
    properties.push_back(textProperty("reference", bearingReferenceName(reference)));
    properties.push_back(numberProperty("correction_deg", correction));
    return std::string(" (") + bearingReferenceName(reference) + " " + (correction < 0.0 ? "" : "+") +
           formatPicture(correction, "##0.#") + kDegree + ")";
}
std::string kmShown(double km) { return formatPicture(km, km >= 100 ? "##0" : km >= 1 ? "##0.0" : "0.000") + " km"; }

std::string near(GeoPosition p) { return cp1252ToUtf8(describe_near_city(p.lon, p.lat)); }

double distance(GeoPosition a, GeoPosition b) {
    double d;
    gc_distance_course(a.lon, a.lat, b.lon, b.lat, &d, nullptr);
    return d;
}

// How far the lines from `from` reach to pass the farthest of `targets`.
double reachFor(GeoPosition from, const std::vector<GeoPosition>& targets) {
    double reach = 0.0;
    for (const GeoPosition& t : targets) reach = std::max(reach, kReachFactor * distance(from, t));
    if (!(reach > 0.0)) reach = kDefaultReachKm / kEarthRadiusKm;
    return std::min(reach, kMaxReach);
}

bool onEarth(GeoPosition p) { return std::isfinite(p.lon) && std::isfinite(p.lat) && std::fabs(p.lat) <= kPi / 2; }

class Builder {
public:
    ExportModel model;

    void note(std::string text) { model.notes.push_back(std::move(text)); }

    // Only shapes every reader can take: finite, on the earth, enough points.
    void add(ExportFeature f) {
        const std::size_t least = f.shape == ExportFeature::kPolygon ? 3 : f.shape == ExportFeature::kLine ? 2 : 1;
        bool good = f.points.size() >= least;
        for (const LonLat& p : f.points)
            good = good && std::isfinite(p.lon) && std::isfinite(p.lat) && std::fabs(p.lat) <= 90.0;
        if (!good) {
            note(f.name + " left out: no shape to draw");
            return;
        }
        std::erase_if(f.properties, [&](const ExportProperty& p) {
            const bool bad = p.type == ExportProperty::kNumber && !std::isfinite(p.number);
            if (bad) note(f.name + ": " + p.key + " left out, not a number");
            return bad;
        });
        model.features.push_back(std::move(f));
    }

    void observers(const ExportInput& in, const Fix& fix) {
        struct Observer {
            const char* letter;
            GeoPosition p;
            bool valid;
            const std::string& bearing;
            const std::string& tolerance;
            bool ambiguity;
            uint32_t colour;
            BearingReference reference;
            double correction;
        };
        const FixTexts& t = in.observers;
        const Observer list[] = {
            {"A", fix.observerA, fix.validA, t.brg1x, t.tol1, t.ambiguity1, in.colourA, t.reference1, t.correction1},
            {"B", fix.observerB, fix.validB, t.brg2x, t.tol2, t.ambiguity2, in.colourB, t.reference2, t.correction2}};
        std::vector<GeoPosition> targets;
        const bool found = fix.computed && fix.crossing.status == 0;
        if (found) targets.push_back(fix.crossing.x);
        if (found && fix.area.kind == SearchArea::kBounded)
            targets.insert(targets.end(), fix.area.polygon.begin(), fix.area.polygon.end());
        for (const BackBearingCrossing& c : fix.alternatives) targets.push_back(c.x);

        for (const Observer& o : list) {
            if (!o.valid || !onEarth(o.p)) {
                note(std::string("Observer ") + o.letter + " left out: not a position");
                continue;
            }
            ExportFeature f = feature(FeatureKind::Observer, ExportFeature::kPoint, o.letter);
            f.points = {toDegrees(o.p)};
            f.colour = o.colour;
            const double bearing = read_bearing_degrees(o.bearing, o.correction);
            const double tolerance = std::fabs(scan_decimal(o.tolerance));
            const bool hasBearing = !o.bearing.empty() && std::isfinite(bearing) && std::isfinite(tolerance);
            if (hasBearing) {
                f.properties = {numberProperty("bearing_deg", bearing), numberProperty("tolerance_deg", tolerance),
                                flagProperty("back_bearing", o.ambiguity)};
                f.description = "Bearing " + degreesShown(bearing) + " \xC2\xB1" + degreesShown(tolerance) +
                                referenceShown(o.reference, o.correction, f.properties);
            }
            const std::string place = near(o.p);
            f.properties.push_back(textProperty("near", place));
            if (!place.empty()) f.description += (f.description.empty() ? "" : "; ") + place;
            add(f);
            if (hasBearing) sectors(o.letter, o.p, bearing, tolerance, o.ambiguity, o.colour, reachFor(o.p, targets));
        }
    }

    void sectors(const char* letter, GeoPosition p, double bearing, double tolerance, bool ambiguity, uint32_t colour,
                 double reach) {
        for (int back = 0; back <= (ambiguity ? 1 : 0); ++back) {
            const double direction = back ? reduce_bearing_degrees(bearing + 180.0) : bearing;
            ExportFeature f = feature(FeatureKind::Sector, ExportFeature::kPolygon,
                                      std::string("Sector ") + letter + (back ? "+180" : ""));
            if (!(tolerance < 90.0)) {
                note(f.name + " left out: a tolerance of 90" + kDegree + " or more is half the earth");
                continue;
            }
            const double half = tolerance * kDegToRad;
            if (half == 0.0) {
                f.shape = ExportFeature::kLine;
                f.points = bearingLine(p, direction * kDegToRad, reach);
            } else {
                f.points = sectorRing(p, direction * kDegToRad, half, reach);
            }
            f.colour = colour;
            f.properties = {textProperty("observer", letter), numberProperty("bearing_deg", direction),
                            numberProperty("tolerance_deg", tolerance),
                            numberProperty("length_km", reach * kEarthRadiusKm)};
            f.description = std::string("From ") + letter + " at " + degreesShown(direction) + " \xC2\xB1" +
                            degreesShown(tolerance) + ", " + kmShown(reach * kEarthRadiusKm) + " long";
            add(f);
        }
    }

    void crossings(const Fix& fix) {
        if (!fix.computed || !fix.validA || !fix.validB) return;
        if (fix.crossing.status == 0) {
            ExportFeature x = feature(FeatureKind::Crossing, ExportFeature::kPoint, "X");
            x.points = {toDegrees(fix.crossing.x)};
            x.colour = kCrossingColour;
            const double ax = fix.crossing.dist_ax * kEarthRadiusKm, bx = fix.crossing.dist_bx * kEarthRadiusKm;
            const std::string place = near(fix.crossing.x);
            x.properties = {textProperty("near", place), numberProperty("distance_a_km", ax),
                            numberProperty("distance_b_km", bx),
                            numberProperty("crossing_angle_deg", fix.crossingAngle * kRadToDeg),
                            flagProperty("shallow_crossing", is_shallow_crossing(fix.crossingAngle))};
            x.description = kmShown(ax) + " from A, " + kmShown(bx) + " from B, crossing at " +
                            degreesShown(fix.crossingAngle * kRadToDeg) + (place.empty() ? "" : "; " + place);
            add(x);
            searchArea(fix.area);
        }
        for (const BackBearingCrossing& c : fix.alternatives) {
            ExportFeature f = feature(FeatureKind::BackCrossing, ExportFeature::kPoint, "X' " + cp1252ToUtf8(c.label));
            f.points = {toDegrees(c.x)};
            f.colour = kBackCrossingColour;
            const std::string place = near(c.x);
            f.properties = {textProperty("combination", c.combination), textProperty("near", place)};
            f.description = place;
            add(f);
        }
    }

    void searchArea(const SearchArea& area) {
        if (area.kind == SearchArea::kUnbounded) note("Search area left out: unbounded");
        if (area.kind != SearchArea::kBounded || area.polygon.size() < 3) return;
        ExportFeature f = feature(FeatureKind::SearchArea, ExportFeature::kPolygon, "Search area");
        f.points = greatCirclePolygon(area.polygon);
        f.colour = kCrossingColour;
        f.properties = {numberProperty("area_km2", area.area_km2), numberProperty("size_km", area.size_km)};
        f.description = formatPicture(area.area_km2, "##0.#") + " km\xC2\xB2, " + kmShown(area.size_km) + " across";
        add(f);
    }

    void log(const std::vector<Bearing>& bearings, bool robust) {
        if (bearings.empty()) return;
        const FixResult r = solveFix(bearings, {.robust = robust});
        const bool found = r.status == FixStatus::Found;
        for (std::size_t i = 0; i < bearings.size(); ++i) {
            const Bearing& b = bearings[i];
            ExportFeature f = feature(FeatureKind::LogBearing, ExportFeature::kLine,
                                      b.station.empty() ? "Bearing " + std::to_string(i + 1) : cp1252ToUtf8(b.station));
            if (!onEarth(b.position) || !std::isfinite(b.bearingDeg)) {
                note(f.name + " left out: not a position or bearing");
                continue;
            }
            const double reach =
                reachFor(b.position, found ? std::vector<GeoPosition>{r.x} : std::vector<GeoPosition>{});
            f.points = bearingLine(b.position, b.bearingDeg * kDegToRad, reach);
            f.colour = kLogColour;
            f.enabled = b.enabled;
            f.properties = {textProperty("station", cp1252ToUtf8(b.station)),
                            numberProperty("bearing_deg", b.bearingDeg),
                            numberProperty("tolerance_deg", b.toleranceDeg),
                            textProperty("time", b.utc ? formatUtc(*b.utc) : ""),
                            textProperty("source", bearingSourceName(b.source)),
                            flagProperty("enabled", b.enabled)};
            if (found && r.fits[i].used) {
                f.properties.push_back(numberProperty("residual_deg", r.fits[i].residualDeg));
                f.properties.push_back(flagProperty("outlier", r.fits[i].outlier));
            }
            f.description = degreesShown(b.bearingDeg) + referenceShown(b.reference, b.correctionDeg, f.properties) +
                            " \xC2\xB1" + degreesShown(b.toleranceDeg) +
                            (b.utc ? " at " + formatUtc(*b.utc) : "") + (b.enabled ? "" : ", not used");
            add(f);
        }
        if (!found) {
            note(std::string("Fix of the bearing log left out: ") + fixStatusReason(r.status));
            return;
        }
        ExportFeature x = feature(FeatureKind::LogFix, ExportFeature::kPoint, "Fix");
        x.points = {toDegrees(r.x)};
        x.colour = kFixColour;
        const std::string place = near(r.x);
        const std::string e50 = cp1252ToUtf8(formatEllipse(r.ellipse50)),
                          e95 = cp1252ToUtf8(formatEllipse(r.ellipse95));
        x.properties = {numberProperty("bearings_used", r.used), textProperty("near", place),
                        textProperty("ellipse50", e50), textProperty("ellipse95", e95)};
        x.description = "Fix of " + std::to_string(r.used) + " bearings" + (place.empty() ? "" : "; " + place) +
                        "; 50 %: " + e50 + "; 95 %: " + e95;
        add(x);
        ellipse(r.x, r.ellipse50, 50);
        ellipse(r.x, r.ellipse95, 95);
    }

    void ellipse(GeoPosition centre, const ConfidenceEllipse& e, int percent) {
        ExportFeature f =
            feature(FeatureKind::Ellipse, ExportFeature::kPolygon, std::to_string(percent) + " % ellipse");
        if (!(e.semiMinorKm > 0.0) || !(e.semiMajorKm < kUnboundedSearchKm)) {
            note(f.name + " left out: " + (e.semiMinorKm > 0.0 ? "unbounded" : "no area"));
            return;
        }
        f.points = ellipseRing(centre, e.semiMajorKm, e.semiMinorKm, e.orientationDeg);
        f.colour = kFixColour;
        f.properties = {numberProperty("probability", percent / 100.0), numberProperty("semi_major_km", e.semiMajorKm),
                        numberProperty("semi_minor_km", e.semiMinorKm),
                        numberProperty("orientation_deg", e.orientationDeg)};
        f.description = cp1252ToUtf8(formatEllipse(e));
        add(f);
    }

    void tracks(const TrackBuffer& store, uint32_t colour) {
        ExportFeature track;
        int offEarth = 0;
        const auto finish = [&] {
            if (!track.points.empty()) {
                std::string first, last;
                for (const std::string& t : track.times) {
                    if (t.empty()) continue;
                    if (first.empty()) first = t;
                    last = t;
                }
                track.shape = track.points.size() == 1 ? ExportFeature::kPoint : ExportFeature::kLine;
                track.properties = {numberProperty("points", static_cast<double>(track.points.size())),
                                    textProperty("start_time", first), textProperty("end_time", last)};
                add(std::move(track));
            }
            track = feature(FeatureKind::Track, ExportFeature::kLine, "Track");
            track.colour = colour;
        };
        finish();
        for (int32_t i = 0; const TrackPoint* r = store.recordAt(i); ++i) {
            if (r->type == kTrackSegment) {
                finish();
                const std::string name(r->name, strnlen(r->name, sizeof r->name));
                if (!name.empty()) track.name = cp1252ToUtf8(name);
                continue;
            }
            if (r->type != kTrackPoint || !r->valid) continue;
            const double lat = r->lat / double(kUnitsPerDegree), lon = r->lon / double(kUnitsPerDegree);
            if (!(std::fabs(lat) <= 90.0)) {
                ++offEarth;
                continue;
            }
            // The store has no mark for a missing elevation: 0 is taken as none.
            track.points.push_back({std::remainder(lon, 360.0), lat,
                                    r->altitude != 0.0 && std::isfinite(r->altitude) ? r->altitude : NAN});
            track.times.push_back(timeOf(*r));
        }
        finish();
        if (offEarth > 0) note(std::to_string(offEarth) + " track points beyond the poles left out");
    }

    static std::string timeOf(const TrackPoint& p) {
        if (!p.dateValid || !p.timeValid) return {};
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", 2000 + p.yearSince2000, p.month, p.day,
                      p.hour, p.minute, p.second);
        return parseUtc(text) ? text : "";  // a field out of its range makes no time
    }
};

}  // namespace

ExportModel buildExportModel(const ExportInput& in) {
    Builder b;
    const Fix fix = compute_fix(in.observers);
    b.observers(in, fix);
    b.crossings(fix);
    b.log(in.log, in.robust);
    if (in.tracks) b.tracks(*in.tracks, in.trackColour);
    b.model.log = in.log;
    return std::move(b.model);
}

}  // namespace bearfix
