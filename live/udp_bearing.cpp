#include "live/udp_bearing.h"

#include <map>

#include "live/json_object.h"

namespace bearfix {

namespace {

FeedItem verdict(FeedVerdict v, std::string why) {
    FeedItem item;
    item.verdict = v;
    item.why = std::move(why);
    return item;
}

const JsonValue* member(const std::map<std::string, JsonValue>& o, const char* name) {
    const auto it = o.find(name);
    return it == o.end() || it->second.kind == JsonValue::Kind::Null ? nullptr : &it->second;
}

}  // namespace

FeedItem parseBearingDatagram(std::string_view bytes, const FeedContext& context) {
    using Kind = JsonValue::Kind;
    if (bytes.size() > kMaxDatagramBytes) return verdict(FeedVerdict::Skipped, "larger than 64 KiB");
    std::map<std::string, JsonValue> o;
    std::string why;
    if (!parseJsonObject(bytes, o, why, {.maxBytes = kMaxDatagramBytes})) return verdict(FeedVerdict::Skipped, why);

    const JsonValue* type = member(o, "type");
    if (!type || type->kind != Kind::String) return verdict(FeedVerdict::Skipped, "no \"type\"");
    if (type->text != "BEARING") return verdict(FeedVerdict::Ignored, "of type \"" + type->text.substr(0, 40) + "\"");

    const JsonValue* bearing = member(o, "bearing");
    if (!bearing || bearing->kind != Kind::Number) return verdict(FeedVerdict::Skipped, "no number \"bearing\"");
    if (bearing->number < -360 || bearing->number > 360)
        return verdict(FeedVerdict::Skipped, "\"bearing\" is not in -360..360");

    bool relative = false;
    if (const JsonValue* t = member(o, "bearing_type")) {
        if (t->kind != Kind::String || (t->text != "absolute" && t->text != "relative"))
            return verdict(FeedVerdict::Skipped, "\"bearing_type\" is neither \"absolute\" nor \"relative\"");
        relative = t->text == "relative";
    }
    if (const JsonValue* c = member(o, "confidence")) {
        if (c->kind != Kind::Number || c->number < 0 || c->number > 100)
            return verdict(FeedVerdict::Skipped, "\"confidence\" is not a number in 0..100");
    }

    FeedItem item;
    Bearing& b = item.bearing;
    b.station = "udp";
    if (const JsonValue* s = member(o, "source")) {
        if (s->kind != Kind::String) return verdict(FeedVerdict::Skipped, "\"source\" is not a string");
        if (!feedStationName(s->text, b.station, why)) return verdict(FeedVerdict::Skipped, why);
        if (b.station.empty()) b.station = "udp";
    }

    const JsonValue* lat = member(o, "latitude");
    const JsonValue* lon = member(o, "longitude");
    const bool ownFix = context.own && context.own->hasPosition();
    if (relative) {
        // The course and the place of the car the antenna sits on.
        if (!ownFix) return verdict(FeedVerdict::Ignored, "a relative bearing without a GPS fix");
        if (!std::isfinite(context.own->courseDeg))
            return verdict(FeedVerdict::Ignored, "a relative bearing without a GPS course");
        b.position = context.own->position();
        b.bearingDeg = normalisedBearing(bearing->number + context.own->courseDeg);
        b.reference = BearingReference::Relative;  // the log shows the course it was turned by
        b.correctionDeg = context.own->courseDeg;
    } else {
        if ((lat != nullptr) != (lon != nullptr)) return verdict(FeedVerdict::Skipped, "a latitude without longitude");
        if (lat) {
            if (lat->kind != Kind::Number || lon->kind != Kind::Number || std::fabs(lat->number) > 90 ||
                std::fabs(lon->number) > 180)
                return verdict(FeedVerdict::Skipped, "\"latitude\" or \"longitude\" is not a number in range");
        }
        if (lat && (lat->number != 0 || lon->number != 0)) {
            b.position = {lon->number * kDegToRad, lat->number * kDegToRad};
        } else if (ownFix) {
            b.position = context.own->position();
        } else {
            return verdict(FeedVerdict::Skipped, "no position and no GPS fix");
        }
        b.bearingDeg = normalisedBearing(bearing->number);
    }
    b.toleranceDeg = context.toleranceDeg;
    b.utc = context.nowUtc;
    b.source = BearingSource::Udp;
    item.verdict = FeedVerdict::Accepted;
    return item;
}

}  // namespace bearfix
