// The GPS arrow points along the course: on an azimuthal map centred on the
// car, course c points to (sin c, -cos c) on the screen, north up.
#include "map/gps_arrow.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

namespace bearfix {
namespace {

constexpr QRgb kArrowBlue = 0x005AFF;

bool blue(const QImage& image, double x, double y) {
    return (image.pixel(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))) & 0xFFFFFF) == kArrowBlue;
}

TEST(GpsArrow, PointsAlongTheCourse) {
    const GeoPosition car{8.43 * kDegToRad, 52.12 * kDegToRad};
    MapView view;
    map_view_setup(view, kAzimuthal, car.lon, car.lat, 2.0, 101, 101);
    for (double course : {0.0, 45.0, 90.0, 135.0, 215.0, 300.0}) {
        QImage image(101, 101, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        drawGpsArrow(painter, view, car, course);
        painter.end();
        const double dx = std::sin(course * kDegToRad), dy = -std::cos(course * kDegToRad);
        EXPECT_TRUE(blue(image, 50 + 5 * dx, 50 + 5 * dy)) << course << ": ahead is the arrow";
        EXPECT_TRUE(blue(image, 50, 50)) << course;
        EXPECT_FALSE(blue(image, 50 - 9 * dx, 50 - 9 * dy)) << course << ": behind is the notch";
        EXPECT_FALSE(blue(image, 50 + 9 * dy, 50 - 9 * dx)) << course << ": narrow across";
    }
}

TEST(GpsArrow, ARingWithoutACourseAndNothingOffThePicture) {
    const GeoPosition car{8.43 * kDegToRad, 52.12 * kDegToRad};
    MapView view;
    map_view_setup(view, kCylindric, car.lon, car.lat, 2.0, 101, 101);
    QImage image(101, 101, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    drawGpsArrow(painter, view, car, NAN);
    drawGpsArrow(painter, view, {car.lon + 0.01, car.lat}, 90.0);  // 39 km east: off the picture
    painter.end();
    int painted = 0;
    for (int y = 0; y < 101; ++y)
        for (int x = 0; x < 101; ++x) painted += (image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    EXPECT_TRUE(blue(image, 50, 50));
    for (auto [x, y] : {std::pair{45, 50}, {55, 50}, {50, 45}, {50, 55}}) EXPECT_TRUE(blue(image, x, y));
    EXPECT_LT(painted, 300) << "a ring of 7 pixels and its halo";
}

}  // namespace
}  // namespace bearfix
