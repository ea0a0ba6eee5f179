#include "map/map_view.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "geo/great_circle.h"

namespace bearfix {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kHalfEarthRadius = 3185.5;
// A cylindric map centred on a pole would need an infinite longitude extent.
constexpr double kMaxCylindricLat = 89.9 * kDegToRad;

int toPixel(double v) { return static_cast<int>(std::clamp(v, -32767.0, 32767.0)); }

// An angle into [-pi, pi], however far outside it lies.
double aroundZero(double a) { return a - kTwoPi * std::round(a / kTwoPi); }

}  // namespace

double wrap_pi(double a) {
    if (a > kTwoPi) return std::fmod(a, kTwoPi);
    if (a > kPi) return a - kTwoPi;
    if (a < -kTwoPi) return -std::fmod(-a, kTwoPi);
    if (a < -kPi) return a + kTwoPi;
    return a;
}

bool map_view_setup(MapView& v, int projection, double lon0, double lat0, double range_km, int width, int height) {
    v.projection = projection;
    v.center = {lon0, lat0};
    v.range_km = range_km >= 0.001 ? range_km : 0.001;
    v.center_x = width * 0.5;
    v.center_y = height * 0.5;
    v.width = std::max(1.0, static_cast<double>(width));
    v.height = std::max(1.0, static_cast<double>(height));
    const double aspect = v.width / v.height;
    v.scale = kHalfEarthRadius * v.height / v.range_km;
    v.sin_lat0 = std::sin(lat0);
    v.cos_lat0 = std::cos(lat0);
    const double d = v.range_km / kEarthRadiusKm;
    v.lat_min = lat0 - d;
    v.lat_max = lat0 + d;
    double e = d * aspect / std::cos(std::clamp(lat0, -kMaxCylindricLat, kMaxCylindricLat));
    // Near a pole the extent grows without bound and squeezes the earth into
    // a few pixels: no more than once round, unless the map is that wide at
    // the equator already.
    e = std::min(e, std::max(kPi, d * aspect));
    v.lon_min = lon0 - e;
    v.lon_max = lon0 + e;
    return true;
}

bool azimuthal_forward(const MapView& v, double lon, double lat, double* x, double* y) {
    const double dlon = wrap_pi(lon - v.center.lon);
    const double s = std::sin(lat), c = std::cos(lat), cd = std::cos(dlon);
    const double cosd = v.sin_lat0 * s + v.cos_lat0 * c * cd;
    double k = 1.0;
    if (std::fabs(std::fabs(cosd) - 1.0) >= 1e-10) {
        const double dist = std::acos(cosd);
        k = dist / std::sin(dist);
    } else if (cosd < 0.0) {
        return false;  // the antipode projects onto the whole boundary circle
    }
    *x = v.center_x + v.scale * k * c * std::sin(dlon);
    *y = v.center_y - v.scale * k * (v.cos_lat0 * s - v.sin_lat0 * c * cd);
    return true;
}

bool azimuthal_inverse(const MapView& v, double x, double y, double* lon, double* lat) {
    const double dx = x - v.center_x, dy = v.center_y - y;
    const double rho = std::sqrt(dx * dx + dy * dy);
    if (rho > kPi * v.scale) return false;
    const double c = rho / v.scale, sc = std::sin(c), cc = std::cos(c);
    *lon = v.center.lon;
    if (std::fabs(rho) <= 1e-10) {
        *lat = v.center.lat;
        return true;
    }
    *lat = clamped_asin(cc * v.sin_lat0 + dy * sc * v.cos_lat0 / rho);
    if (std::fabs(std::fabs(v.center.lat) - kPi / 2) <= 1e-10) {
        *lon = v.center.lat >= 0 ? wrap_pi(v.center.lon + std::atan2(dx, -dy))
                                 : wrap_pi(v.center.lon - std::atan2(-dx, dy));
        return true;
    }
    const double t = cc - v.sin_lat0 * std::sin(*lat);
    if (std::fabs(t) < 1e-10 && std::fabs(dx) < 1e-10) return true;
    *lon = wrap_pi(v.center.lon + std::atan2(dx * sc * v.cos_lat0, t * rho));
    return true;
}

bool geo_to_pixel(const MapView& v, double lon, double lat, double* x, double* y) {
    if (v.projection == kAzimuthal) return azimuthal_forward(v, lon, lat, x, y);
    const double lonExtent = v.lon_max - v.lon_min, latExtent = v.lat_max - v.lat_min;
    // Measured from the centre the short way, so that a map around the
    // antimeridian shows both of its sides.
    const double east = v.center.lon + aroundZero(lon - v.center.lon);
    *x = lonExtent > 0 ? (east - v.lon_min) * v.width / lonExtent : 0.0;
    *y = latExtent > 0 ? (v.lat_max - lat) * v.height / latExtent : 0.0;
    return true;
}

bool geo_to_screen(const MapView& v, double lon, double lat, int* x, int* y) {
    double px, py;
    if (!geo_to_pixel(v, lon, lat, &px, &py) || std::isnan(px) || std::isnan(py)) return false;
    *x = toPixel(px);
    *y = toPixel(py);
    return true;
}

bool screen_to_geo(const MapView& v, int x, int y, double* lon, double* lat) {
    if (v.projection == kAzimuthal) return azimuthal_inverse(v, x, y, lon, lat);
    *lon = aroundZero(v.width > 0 ? v.lon_min + x * (v.lon_max - v.lon_min) / v.width : v.lon_min);
    *lat = v.height > 0 ? v.lat_min + (1.0 - y / v.height) * (v.lat_max - v.lat_min) : v.lat_min;
    return true;
}

}  // namespace bearfix
