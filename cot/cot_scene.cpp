#include "cot/cot_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <set>

#include "geo/great_circle.h"

namespace bearfix {

namespace {

constexpr int32_t kYellow = -256;               // 0xFFFFFF00, as the map's fix
constexpr int32_t kYellowFill = 0x40FFFF00;     // a quarter opaque
constexpr double kLineStepKm = 25.0;            // a vertex of a bearing's line at least this often

std::string point(GeoPosition p) { return cotNumber(p.lat * kRadToDeg, 7) + "," + cotNumber(p.lon * kRadToDeg, 7); }

std::string link(GeoPosition p) { return "<link point=\"" + point(p) + "\"/>"; }

std::string contact(const std::string& name) { return "<contact callsign=\"" + cotText(name) + "\"/>"; }

CotEvent event(const CotOptions& options, std::string uid, const char* type, const char* how, GeoPosition at,
               int64_t nowMs) {
    CotEvent e;
    e.uid = options.uidPrefix + "." + uid;
    e.type = type;
    e.how = how;
    e.timeMs = nowMs;
    e.staleMs = nowMs + options.staleSeconds * 1000;
    e.point.latDeg = at.lat * kRadToDeg;
    e.point.lonDeg = at.lon * kRadToDeg;
    return e;
}

// The middle of a few points on the sphere (of their unit vectors).
GeoPosition middle(const std::vector<GeoPosition>& points) {
    double x = 0, y = 0, z = 0;
    for (const GeoPosition& p : points) {
        x += std::cos(p.lat) * std::cos(p.lon);
        y += std::cos(p.lat) * std::sin(p.lon);
        z += std::sin(p.lat);
    }
    if (points.empty() || std::hypot(x, y, z) < 1e-12) return points.empty() ? GeoPosition{} : points.front();
    return {std::atan2(y, x), std::atan2(z, std::hypot(x, y))};
}

// FNV-1a, 64 bits: a uid part that stays the same for the same bearing.
std::string hashText(const std::string& text) {
    uint64_t h = 14695981039346656037ull;
    for (char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    char out[20];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
    return out;
}

std::string degrees(double value) {
    return cotNumber(value, 1) + "\xC2\xB0";  // UTF-8 degree sign
}

}  // namespace

std::vector<CotEvent> cotSceneEvents(const CotScene& scene, const CotOptions& options, int64_t nowMs) {
    std::vector<CotEvent> out;
    for (const CotStation& s : scene.stations) {
        CotEvent e = event(options, "station." + s.key, "a-f-G", "h-e", s.position, nowMs);
        e.detail = contact(s.name);
        out.push_back(std::move(e));
    }
    if (scene.fix) {
        const CotFix& f = *scene.fix;
        CotEvent e = event(options, "fix", "b-m-p-s-m", "m-f", f.position, nowMs);
        if (f.semiMajor95Km > 0 && std::isfinite(f.semiMajor95Km)) e.point.ceM = f.semiMajor95Km * 1000.0;
        e.detail = contact(f.name) + "<color argb=\"" + std::to_string(kYellow) +
                   "\"/><usericon iconsetpath=\"COT_MAPPING_SPOTMAP/b-m-p-s-m/" + std::to_string(kYellow) + "\"/>";
        if (!f.remarks.empty()) e.detail += "<remarks>" + cotText(f.remarks) + "</remarks>";
        out.push_back(std::move(e));
    }
    if (scene.area.size() >= 3) {
        const std::size_t step = (scene.area.size() + kMaxCotShapePoints - 1) / kMaxCotShapePoints;
        std::vector<GeoPosition> outline;
        for (std::size_t i = 0; i < scene.area.size(); i += step) outline.push_back(scene.area[i]);
        CotEvent e = event(options, "area", "u-d-f", "m-f", middle(outline), nowMs);
        for (const GeoPosition& p : outline) e.detail += link(p);
        e.detail += link(outline.front());  // closed: the first vertex again
        e.detail += "<strokeColor value=\"" + std::to_string(kYellow) + "\"/><strokeWeight value=\"3.0\"/><fillColor value=\"" +
                    std::to_string(kYellowFill) + "\"/>" + contact(scene.areaName) + "<labels_on value=\"false\"/>";
        out.push_back(std::move(e));
    }
    std::set<std::string> uids;
    for (const CotLine& l : scene.lines) {
        const std::string identity = l.station + "|" + (l.utc ? std::to_string(*l.utc) : "") + "|" + point(l.from) + "|" +
                                     cotNumber(l.bearingDeg, 3);
        std::string uid = "bearing." + hashText(identity);
        for (int n = 2; !uids.insert(uid).second; ++n) uid = "bearing." + hashText(identity) + "." + std::to_string(n);
        CotEvent e = event(options, uid, "u-d-f", "h-e", l.from, nowMs);
        const double length = std::clamp(l.lengthKm, 0.0, 0.49 * std::numbers::pi * kEarthRadiusKm);
        const auto segments = static_cast<int>(std::clamp(std::ceil(length / kLineStepKm), 1.0,
                                                          static_cast<double>(kMaxCotLinePoints - 1)));
        for (int k = 0; k <= segments; ++k) {
            GeoPosition p;
            gc_destination(l.from.lon, l.from.lat, length * k / segments / kEarthRadiusKm, l.bearingDeg * kDegToRad, &p.lon,
                           &p.lat);
            e.detail += link(p);
        }
        e.detail += "<strokeColor value=\"" + std::to_string(l.argb) + "\"/><strokeWeight value=\"2.0\"/>" +
                    contact(l.station + " " + degrees(l.bearingDeg)) + "<labels_on value=\"false\"/>";
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<CotEvent> CotUpdates::next(const std::vector<CotEvent>& events, int64_t nowMs) {
    std::vector<CotEvent> out;
    std::set<std::string> present;
    for (const CotEvent& e : events) {
        present.insert(e.uid);
        const std::string content = e.type + "\n" + e.how + "\n" + cotNumber(e.point.latDeg, 7) + "," +
                                    cotNumber(e.point.lonDeg, 7) + "," + cotNumber(e.point.ceM, 1) + "\n" + e.detail;
        const auto it = sent_.find(e.uid);
        if (it != sent_.end() && it->second.content == content && nowMs < it->second.refreshMs) continue;
        sent_[e.uid] = {e.type, content, nowMs + (e.staleMs - e.timeMs) / 2};
        out.push_back(e);
    }
    for (auto it = sent_.begin(); it != sent_.end();) {
        if (present.count(it->first)) {
            ++it;
            continue;
        }
        out.push_back(cotDeleteEvent(it->first, it->second.type, nowMs));
        it = sent_.erase(it);
    }
    return out;
}

}  // namespace bearfix
