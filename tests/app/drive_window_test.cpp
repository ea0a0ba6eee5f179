// Driving to the fix in the real window, offscreen: F and "Center at" with
// the bearing log's fix, and "Follow GPS" with a gpsd of the test's own
// (gpsfake replaying the committed drive). Courses and distances expected
// from GeographicLib's geodesics on the 6371 km sphere.
#include <GeographicLib/Geodesic.hpp>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QRegularExpression>
#include <QToolButton>
#include <QtTest/QTest>
#include <cmath>

#include "../live/gpsfake.h"
#include "app/bearing_log_tab.h"
#include "app/gps_panel.h"
#include "session/drive.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

constexpr int kDriveWait = 30000;  // ms: gpsfake and reconnecting take seconds

const GeographicLib::Geodesic& driveSphere() {
    static const GeographicLib::Geodesic instance(kEarthRadiusKm * 1000.0, 0.0);
    return instance;
}

// A plain map, quick to draw, and no observer bearings: the log's fix is the only one.
const char* const kPlainMap =
    "[PREV_SESSION]\nBrg1X=\nBrg2X=\n[MAP]\nShowTopo=0\nShowCities=0\nShowBorders=0\nShowRivers=0\nCenterHow=0\n";

class DriveWindowTest : public testing::WindowTest {
protected:
    // Bearings of three stations a few km around (lat, lon), pointing at it
    // with the tolerance given (degrees).
    static void logBearingsTo(TBearfix& w, double lat, double lon, double tolerance) {
        std::vector<Bearing> bearings;
        const double stations[][2] = {{lat - 0.05, lon - 0.06}, {lat + 0.04, lon - 0.08}, {lat - 0.03, lon + 0.09}};
        int64_t utc = 1716022800;
        for (const auto& s : stations) {
            double metres, azimuth, back;
            driveSphere().Inverse(s[0], s[1], lat, lon, metres, azimuth, back);
            Bearing b;
            b.station = "Car " + std::to_string(bearings.size() + 1);
            b.position = {s[1] * kDegToRad, s[0] * kDegToRad};
            b.bearingDeg = std::fmod(azimuth + 360.0, 360.0);
            b.toleranceDeg = tolerance;
            b.utc = utc += 60;
            b.source = BearingSource::Remote;
            bearings.push_back(b);
        }
        w.bearingLog().append(std::move(bearings));
    }
    static const FixResult& logFix(TBearfix& w) { return w.bearingLog().model().rows().fix; }
    static bool at(GeoPosition a, GeoPosition b) { return std::fabs(a.lat - b.lat) + std::fabs(a.lon - b.lon) < 1e-12; }
    // How far pixels of the 95 % ellipse's blue reach from the centre: a
    // share of the half width or height, whichever is more.
    static double ellipseReach(const QImage& picture) {
        double reach = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb p = picture.pixel(x, y);
                if (qBlue(p) > 150 && qRed(p) < 40 && qGreen(p) < 90)
                    reach = std::max({reach, std::abs(x - picture.width() / 2) / (picture.width() / 2.0),
                                      std::abs(y - picture.height() / 2) / (picture.height() / 2.0)});
            }
        }
        return reach;
    }
    static void useGpsd(TBearfix& w, int port) {
        w.form().CB_SerialPort->setCurrentText(QString("gpsd 127.0.0.1:%1").arg(port));
        w.gps().start();
    }
    static void setRange(TBearfix& w, const char* km) {
        w.form().Ed_MapRange->setText(km);
        w.form().Btn_UpdateMap->click();
    }
};

// F with the log's fix (no X) centres on it with its 95 % ellipse across
// about half the picture; without any fix it says so. "Center at" offers it.
TEST_F(DriveWindowTest, ZoomToFixGoesToTheLogsFixAndFramesItsEllipse) {
    writeIni(kPlainMap);
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    f.Img_Map->setFocus();
    QTest::keyClick(f.Img_Map, Qt::Key_F);
    EXPECT_EQ(w->statusPanel(0).text(), "no intersection found");

    logBearingsTo(*w, 50.3, 8.5, 10);
    ASSERT_EQ(logFix(*w).status, FixStatus::Found);
    setRange(*w, "20000");
    QTest::keyClick(f.Img_Map, Qt::Key_F);
    EXPECT_TRUE(at(w->mapCenter, logFix(*w).x));
    const double range = f.Ed_MapRange->text().toDouble();
    EXPECT_GE(range, 1);
    EXPECT_LE(range, 20);
    const double reach = ellipseReach(f.Img_Map->picture());
    EXPECT_GT(reach, 0.35);
    EXPECT_LT(reach, 0.75);

    f.CB_MapCenter->setCurrentIndex(4);
    EXPECT_EQ(f.CB_MapCenter->currentText(), "Bearing log fix");
    w->mapCenter = {0.1, 0.9};
    f.Btn_UpdateMap->click();
    EXPECT_TRUE(at(w->mapCenter, logFix(*w).x));
    EXPECT_EQ(f.CB_MapCenter->itemText(5), "GPS position");
}

// The map follows the car in both projections, moving on before it reaches
// an edge; the read-out gives the course and distance to the log's fix; the
// user's own move ends following; F keeps the car in view; Add... starts
// where the car is; the mode is kept in the settings.
TEST_F(DriveWindowTest, FollowGpsKeepsTheCarInViewAndReadsOutTheFix) {
    writeIni(kPlainMap);
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    logBearingsTo(*w, 52.16, 8.47, 3);
    testing::GpsFake gpsd;
    const int port = testing::freeTcpPort();
    ASSERT_TRUE(gpsd.start(port));
    useGpsd(*w, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->gps().currentFix() != nullptr; }, kDriveWait));
    setRange(*w, "0.1");

    auto* follow = w->mapPopup().findChild<QAction*>("PM_FollowGps");
    ASSERT_NE(follow, nullptr);
    f.Btn_FollowGps->click();
    EXPECT_TRUE(follow->isChecked()) << "the menu's item and the button are one";
    EXPECT_TRUE(w->followsGps());

    int fixes = 0, moves = 0, outside = 0;
    GeoPosition centre = w->mapCenter;
    QObject::connect(&w->gps(), &GpsPanel::fixShown, [&] {
        const GpsFix* own = w->gps().currentFix();
        if (!own) return;
        ++fixes;
        const MapView& v = w->composer().view();
        double x, y;
        if (!geo_to_pixel(v, own->position().lon, own->position().lat, &x, &y) || nearEdge(x, y, v.width, v.height))
            ++outside;
        if (!at(centre, w->mapCenter)) ++moves;
        centre = w->mapCenter;
    });
    for (int projection : {0, 1}) {
        SCOPED_TRACE(projection);
        f.CB_MapProjection->setCurrentIndex(projection);
        f.Btn_UpdateMap->click();
        moves = outside = 0;
        ASSERT_TRUE(QTest::qWaitFor([&] { return moves >= 3; }, kDriveWait)) << fixes << " fixes";
        EXPECT_EQ(outside, 0) << "the map moves on before the car nears an edge";
    }

    // "Fix: 45°, 3.2 km", from where the car is to the log's fix.
    QLabel* readout = f.Lab_DriveReadout;
    ASSERT_TRUE(QTest::qWaitFor([&] { return readout->isVisible() && readout->text().startsWith("Fix: "); }, kDriveWait));
    const QRegularExpressionMatch m =
        QRegularExpression(QString::fromUtf8("^Fix: (\\d+)°, (\\d+(\\.\\d)?) (k?m)$")).match(readout->text());
    ASSERT_TRUE(m.hasMatch()) << readout->text().toStdString();
    const GpsFix* own = w->gps().currentFix();
    ASSERT_NE(own, nullptr);
    double metres, azimuth, back;
    driveSphere().Inverse(own->latDeg, own->lonDeg, logFix(*w).x.lat * kRadToDeg, logFix(*w).x.lon * kRadToDeg, metres,
                     azimuth, back);
    EXPECT_LE(std::fabs(std::remainder(m.captured(1).toDouble() - azimuth, 360.0)), 3.0) << "within a fix or two";
    EXPECT_NEAR(m.captured(2).toDouble() * (m.captured(4) == "km" ? 1000 : 1), metres, 150.0);
    EXPECT_GE(readout->height(), 40) << "large enough to read while driving";

    // F shows the fix and the car, both away from the edges.
    f.Img_Map->setFocus();
    QTest::keyClick(f.Img_Map, Qt::Key_F);
    own = w->gps().currentFix();
    ASSERT_NE(own, nullptr);
    for (GeoPosition p : {own->position(), logFix(*w).x}) {
        const MapView& v = w->composer().view();
        double x, y;
        ASSERT_TRUE(geo_to_pixel(v, p.lon, p.lat, &x, &y));
        EXPECT_FALSE(nearEdge(x, y, v.width, v.height)) << x << "," << y;
    }
    EXPECT_TRUE(w->followsGps());

    // Add... takes the car's position.
    GeoPosition offered, car;
    w->dialogs.editBearing = [&](const QString&, Bearing* b) {
        offered = b->position;
        car = w->gps().currentFix()->position();
        return false;
    };
    f.Btn_AddBearing->click();
    EXPECT_TRUE(at(offered, car));

    // Kept in the settings.
    w->close();
    EXPECT_TRUE(iniHas("\nFollowGps=1\n"));
    w.reset();
    w = startShown();
    EXPECT_TRUE(w->form().Btn_FollowGps->isChecked());

    // Dragging the map is the user's own move: following ends, the read-out goes.
    w->Img_MapDragged(100, 100, 160, 140);
    EXPECT_FALSE(w->followsGps());
    EXPECT_FALSE(w->mapPopup().findChild<QAction*>("PM_FollowGps")->isChecked());
    EXPECT_TRUE(w->form().Lab_DriveReadout->isHidden());
}

}  // namespace
}  // namespace bearfix
