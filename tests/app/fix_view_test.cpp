// The fix in the window: its result fields, and "Zoom to fix" with the
// markers drawn at X.
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QtTest/QTest>
#include <algorithm>
#include <cmath>

#include "geo/great_circle.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

using FixWindowTest = testing::WindowTest;

bool dark(QRgb p) { return qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90; }

// X's ring (radius 7) and the arms of its cross (to 12) around `at`.
bool xMarkerAt(const QImage& picture, QPoint at) {
    for (QPoint d : {QPoint(7, 0), QPoint(-7, 0), QPoint(0, 7), QPoint(0, -7), QPoint(10, 0), QPoint(-10, 0),
                     QPoint(0, 10), QPoint(0, -10)}) {
        bool found = false;  // within a pixel of where it belongs (antialiased)
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy) found = found || dark(picture.pixel(at + d + QPoint(dx, dy)));
        if (!found) return false;
    }
    return true;
}

TEST_F(FixWindowTest, ResultFieldsFollowTheObserversAndTheAmbiguitySwitches) {
    writeIni("[PREV_SESSION]\nPos1=N50 E8\nPos2=N50 E9\nBrg1X=45\nBrg2X=315\nBrg1Tol=1\nBrg2Tol=1\n");
    auto w = start();
    Ui::TBearfix& f = w->form();
    ASSERT_TRUE(firstMapDrawn(*w));
    // X about 0.32 degrees north of the middle: 36 km east and 35 km north
    // of A, 50 km. The lines leave at 45 and 315 degrees and turn towards
    // each other as the meridians converge, by 0.5 sin 50 = 0.38 degrees
    // each: they cross at 90.8 degrees.
    EXPECT_EQ(f.Ed_DistAX->text(), f.Ed_DistBX->text());
    EXPECT_TRUE(f.Ed_DistAX->text().startsWith("50.")) << f.Ed_DistAX->text().toStdString();
    EXPECT_EQ(f.Ed_CrossingAngle->text(), QString::fromUtf8("90.8 °"));
    EXPECT_TRUE(QRegularExpression(QString::fromUtf8("^\\d+\\.\\d+ km², \\d\\.\\d\\d km across$"))
                    .match(f.Ed_SearchArea->text())
                    .hasMatch())
        << f.Ed_SearchArea->text().toStdString();
    EXPECT_TRUE(f.Lab_ShallowCrossing->text().isEmpty());
    EXPECT_TRUE(f.Mem_BackBearings->toPlainText().isEmpty());

    f.Ed_Brg2X->setText("75");  // 10 degrees apart: the lines run almost side by side
    f.Ed_Brg1X->setText("85");
    EXPECT_EQ(f.Lab_ShallowCrossing->text(), "shallow crossing");
    f.Ed_Brg1Tol->setText("30");
    EXPECT_EQ(f.Ed_SearchArea->text(), "unbounded");

    // Back bearings 225 and 135 from X's bearings 45 and 315: only both reversed meet, to the north.
    f.Ed_Brg1X->setText("225");
    f.Ed_Brg2X->setText("135");
    EXPECT_EQ(f.Ed_LocX->text(), "no intersection found");
    EXPECT_TRUE(f.Ed_SearchArea->text().isEmpty() && f.Ed_CrossingAngle->text().isEmpty());
    f.Chk_Ambi1->setChecked(true);
    EXPECT_TRUE(f.Mem_BackBearings->toPlainText().isEmpty());
    f.Chk_Ambi2->setChecked(true);
    EXPECT_TRUE(f.Mem_BackBearings->toPlainText().startsWith(QString::fromUtf8("X' A+180 × B+180: N50°")))
        << f.Mem_BackBearings->toPlainText().toStdString();
}

// Fixes whose search areas call for ranges from 1 to about 2000 km: after
// "Zoom to fix" the map is centred on X, X's marker is drawn there, and the
// area (drawn in red) fills about half the picture.
TEST_F(FixWindowTest, ZoomToFixCentresOnXAndShowsTheArea) {
    const struct {
        const char *posA, *brgA, *posB, *brgB, *tolerance;
        double minRange, maxRange;
    } cases[] = {
        {"N52.14 E8.48", "260", "N49.45 E11", "288", "0", 1, 1},  // the area is the point X
        {"N52.14 E8.48", "260", "N49.45 E11", "288", "0.01", 1, 2},
        {"N52.14 E8.48", "260", "N49.45 E11", "288", "1", 20, 200},
        {"N0 E0", "30", "N0 E60", "330", "2", 200, 2000},
        {"N0 E0", "30", "N0 E60", "330", "7", 1000, 2000},
    };
    writeIni("[MAP]\nShowTopo=0\nShowCities=0\nShowBorders=0\nShowRivers=0\n");
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tolerance);
        f.Ed_Pos1->setText(c.posA);
        f.Ed_Pos2->setText(c.posB);
        f.Ed_Brg1X->setText(c.brgA);
        f.Ed_Brg2X->setText(c.brgB);
        f.Ed_Brg1Tol->setText(c.tolerance);
        f.Ed_Brg2Tol->setText(c.tolerance);
        f.PageControl1->setCurrentWidget(f.TabSheet3);
        f.Ed_MapRange->setText("20000");
        w->PM_ZoomToFixClick();
        EXPECT_EQ(f.PageControl1->currentWidget(), f.TS_MapScreen);
        const double range = f.Ed_MapRange->text().toDouble();
        EXPECT_GE(range, c.minRange);
        EXPECT_LE(range, c.maxRange);

        const MapView& view = w->composer().view();
        const QImage& picture = f.Img_Map->picture();
        int x, y;
        ASSERT_TRUE(geo_to_screen(view, w->locationX.lon, w->locationX.lat, &x, &y));
        EXPECT_LE(std::abs(x - picture.width() / 2), 1);
        EXPECT_LE(std::abs(y - picture.height() / 2), 1);
        EXPECT_TRUE(xMarkerAt(picture, {x, y}));

        // The area's outline (red; nothing else on this map is): inside the
        // picture, reaching about half way out.
        double reach = 0;
        int red = 0;
        for (int py = 0; py < picture.height(); ++py) {
            for (int px = 0; px < picture.width(); ++px) {
                const QRgb p = picture.pixel(px, py);
                if (qRed(p) > 180 && qGreen(p) < 60 && qBlue(p) < 60) {
                    ++red;
                    reach = std::max({reach, std::abs(px - x) / (picture.width() / 2.0),
                                      std::abs(py - y) / (picture.height() / 2.0)});
                }
            }
        }
        if (range > 1) {
            EXPECT_GT(red, 20);
            EXPECT_GT(reach, 0.35);
            EXPECT_LT(reach, 0.75);
        }
    }
}

// F zooms to the fix on the Map tab, but a text field keeps its letter.
TEST_F(FixWindowTest, KeyFOnTheMapButNotInAField) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    f.PageControl1->setCurrentWidget(f.TS_MapScreen);
    const QString range = f.Ed_MapRange->text();
    f.Ed_Pos1->setFocus();
    f.Ed_Pos1->end(false);
    const QString typed = f.Ed_Pos1->text() + "f";
    QTest::keyClick(f.Ed_Pos1, Qt::Key_F);
    EXPECT_EQ(f.Ed_Pos1->text(), typed);
    EXPECT_EQ(f.Ed_MapRange->text(), range);
    f.Ed_Pos1->setText(typed.chopped(1));

    f.Img_Map->setFocus();
    QTest::keyClick(f.Img_Map, Qt::Key_F);
    EXPECT_NE(f.Ed_MapRange->text(), range);
    EXPECT_EQ(f.CB_MapCenter->currentIndex(), 0);
    EXPECT_LT(std::fabs(w->mapCenter.lat - w->locationX.lat) + std::fabs(w->mapCenter.lon - w->locationX.lon), 1e-12);
}

}  // namespace
}  // namespace bearfix
