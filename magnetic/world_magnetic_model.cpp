#include "magnetic/world_magnetic_model.h"

#include <GeographicLib/MagneticModel.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <exception>

#include "support/number_format.h"

namespace bearfix {

namespace {

constexpr const char* kModelFile = "wmm2025";
// The WMM is of degree and order 12; asking for no more bounds what a
// damaged file can make GeographicLib allocate.
constexpr int kDegree = 12;

// The WMM2025 error model: one standard deviation of the declination is
// sqrt(a^2 + (b / H)^2) degrees (NOAA's WMM2025 report and software).
constexpr double kSigmaConstantDeg = 0.26;
constexpr double kSigmaPerHDegNt = 5417.0;

}  // namespace

struct WorldMagneticModel::Impl {
    explicit Impl(const std::string& directory) : model(kModelFile, directory, GeographicLib::Geocentric::WGS84(), kDegree, kDegree) {}
    GeographicLib::MagneticModel model;
};

WorldMagneticModel::WorldMagneticModel(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
WorldMagneticModel::~WorldMagneticModel() = default;

std::unique_ptr<WorldMagneticModel> WorldMagneticModel::load(const std::string& directory, std::string& why) {
    // An empty directory would send GeographicLib to its own default.
    if (directory.empty()) {
        why = "no magnetic model: no directory given";
        return nullptr;
    }
    try {
        auto impl = std::make_unique<Impl>(directory);
        const auto& m = impl->model;
        if (!(m.MinTime() < m.MaxTime()) || !(m.MinHeight() < m.MaxHeight())) {
            why = "no magnetic model: " + directory + "/" + kModelFile + ".wmm states no years or heights";
            return nullptr;
        }
        return std::unique_ptr<WorldMagneticModel>(new WorldMagneticModel(std::move(impl)));
    } catch (const std::exception& e) {
        why = std::string("no magnetic model: ") + e.what();
        return nullptr;
    }
}

std::string WorldMagneticModel::name() const {
    std::string text = impl_->model.MagneticModelName();
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

double WorldMagneticModel::firstYear() const { return impl_->model.MinTime(); }
double WorldMagneticModel::lastYear() const { return impl_->model.MaxTime(); }

MagneticField WorldMagneticModel::at(double latDeg, double lonDeg, double heightKm, double year) const {
    MagneticField f;
    const auto& m = impl_->model;
    const std::string span = " (" + name() + " holds from " + formatPicture(firstYear(), "0.0") + " to " +
                             formatPicture(lastYear(), "0.0") + ")";
    if (!std::isfinite(latDeg) || !std::isfinite(lonDeg) || std::fabs(latDeg) > 90.0) {
        f.status = FieldStatus::NoPosition;
        f.reason = "not a position";
        return f;
    }
    if (!(year >= firstYear())) {
        f.status = FieldStatus::BeforeModel;
        f.reason = (std::isfinite(year) ? formatPicture(year, "0.00") : std::string("the time")) + " is before the model" + span;
        return f;
    }
    if (year > lastYear()) {
        f.status = FieldStatus::AfterModel;
        f.reason = formatPicture(year, "0.00") + " is after the model" + span;
        return f;
    }
    const double heightM = heightKm * 1000.0;
    if (!(heightM >= m.MinHeight() && heightM <= m.MaxHeight())) {
        f.status = FieldStatus::HeightOutside;
        f.reason = "the height " + (std::isfinite(heightKm) ? formatPicture(heightKm, "0.###") : std::string("?")) +
                   " km is outside the model's " + formatPicture(m.MinHeight() / 1000.0, "0.###") + " to " +
                   formatPicture(m.MaxHeight() / 1000.0, "0.###") + " km";
        return f;
    }
    double east, north, up;
    m(year, latDeg, lonDeg, heightM, east, north, up);
    GeographicLib::MagneticModel::FieldComponents(east, north, up, f.horizontalNt, f.totalNt, f.declinationDeg,
                                                  f.inclinationDeg);
    f.declinationSigmaDeg = std::hypot(kSigmaConstantDeg, kSigmaPerHDegNt / f.horizontalNt);
    const std::string h = "horizontal intensity " + formatPicture(f.horizontalNt, "0") + " nT, below ";
    if (f.horizontalNt < kBlackoutNt) {
        f.status = FieldStatus::Blackout;
        f.reason = "in the blackout zone round the magnetic pole (" + h + formatPicture(kBlackoutNt, "0") +
                   " nT): the declination is not to be relied on";
    } else if (f.horizontalNt < kCautionNt) {
        f.status = FieldStatus::Caution;
        f.reason = "near the magnetic pole (" + h + formatPicture(kCautionNt, "0") +
                   " nT): a compass may be off by degrees";
    } else {
        f.status = FieldStatus::Valid;
    }
    return f;
}

double decimalYear(int64_t utcSeconds) {
    using namespace std::chrono;
    const sys_seconds t{seconds(utcSeconds)};
    const year_month_day day{floor<days>(t)};
    const sys_seconds start{sys_days(day.year() / January / 1)};
    const sys_seconds next{sys_days((day.year() + years(1)) / January / 1)};
    return static_cast<int>(day.year()) + static_cast<double>((t - start).count()) / static_cast<double>((next - start).count());
}

std::optional<double> decimalYearOfDate(std::string_view text) {
    int parts[3] = {0, 0, 0};
    const std::size_t widths[3] = {4, 2, 2};
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && (at >= text.size() || text[at++] != '-')) return std::nullopt;
        for (std::size_t k = 0; k < widths[i]; ++k, ++at) {
            if (at >= text.size() || text[at] < '0' || text[at] > '9') return std::nullopt;
            parts[i] = parts[i] * 10 + (text[at] - '0');
        }
    }
    using namespace std::chrono;
    const year_month_day day{year(parts[0]), month(static_cast<unsigned>(parts[1])), std::chrono::day(static_cast<unsigned>(parts[2]))};
    if (at != text.size() || parts[0] < 1 || !day.ok()) return std::nullopt;
    return decimalYear(duration_cast<seconds>(sys_days(day).time_since_epoch()).count());
}

}  // namespace bearfix
