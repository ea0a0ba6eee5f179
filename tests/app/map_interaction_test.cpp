#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QtTest/QTest>
#include <filesystem>
#include <random>
#include <QTimer>

#include "session/data_files.h"
#include "app/map_image.h"
#include "geo/great_circle.h"
#include "map/elevation.h"
#include "map/qt_convert.h"
#include "real_tile.h"
#include "tracks/track_store.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;

using MapWindowTest = testing::WindowTest;

double kmApart(GeoPosition a, GeoPosition b) {
    double d;
    gc_distance_course(a.lon, a.lat, b.lon, b.lat, &d, nullptr);
    return d * kEarthRadiusKm;
}

QString dms(GeoPosition p) { return toQString(format_position(p, PosFormat::Dms)); }

// Beyond the azimuthal disc that holds the whole earth the read-out says so;
// on the map it ends in the distance from X. (Its position and the menu's:
// the tests of the chosen form and of the menu.)
TEST_F(MapWindowTest, MouseReadOutOffAndOnTheMap) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    f.CB_MapProjection->setCurrentIndex(1);
    f.Ed_MapRange->setText("20000");
    f.Btn_UpdateMap->click();
    w->Img_MapMouseMove(1, 1);
    EXPECT_EQ(w->statusPanel(0).text(), "X=1,Y=1 ?");
    EXPECT_EQ(w->statusPanel(1).text(), "not on map");
    w->Img_MapMouseMove(f.Img_Map->width() / 2, f.Img_Map->height() / 2);
    EXPECT_EQ(w->statusPanel(0).text(), dms(w->mousePosition));
    EXPECT_TRUE(w->statusPanel(1).text().contains(" km ")) << w->statusPanel(1).text().toStdString();
}

TEST_F(MapWindowTest, ZoomStepsLimitsAndApply) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    GeoPosition before, after;
    ASSERT_TRUE(screen_to_geo(w->composer().view(), 100, 80, &before.lon, &before.lat));
    w->Img_MapWheel(+1, 100, 80);
    EXPECT_EQ(f.Ed_MapRange->text(), "300");
    ASSERT_TRUE(screen_to_geo(w->composer().view(), 100, 80, &after.lon, &after.lat));
    EXPECT_LT(kmApart(before, after), 1.0) << "the place under the mouse stays there";
    w->Img_MapWheel(-2, 100, 80);
    EXPECT_EQ(f.Ed_MapRange->text(), "1200");
    w->Img_MapMouseMove(10, 10);
    w->PM_ZoomOutClick();
    EXPECT_EQ(f.Ed_MapRange->text(), "4800") << "the menu zooms out two steps";
    f.Btn_ZoomOut->click();
    EXPECT_EQ(f.Ed_MapRange->text(), "9600") << "the navigator one";

    f.Ed_MapRange->setText("20000");
    f.Btn_UpdateMap->click();
    f.Mem_Msgs->clear();
    const qint64 key = w->baseBitmap.cacheKey();
    f.Btn_ZoomOut->click();
    EXPECT_EQ(f.Mem_Msgs->toPlainText(), "Min. zoom step exceeded");
    EXPECT_EQ(w->baseBitmap.cacheKey(), key) << "nothing is redrawn";
    f.Ed_MapRange->setText("0.02");
    f.Btn_UpdateMap->click();
    f.Btn_ZoomIn->click();
    f.Btn_ZoomIn->click();
    EXPECT_EQ(f.Ed_MapRange->text(), "0.01");
    EXPECT_TRUE(f.Mem_Msgs->toPlainText().endsWith("\nMax. zoom step exceeded"));

    // Zooming about a place made the centre a typed one; "Apply" reads it and shows the map.
    f.Ed_MapCenter->setText("S33.9 E151.2");
    f.PageControl1->setCurrentWidget(f.TabSheet3);
    f.Btn_UpdateMap->click();
    EXPECT_EQ(f.PageControl1->currentWidget(), f.TS_MapScreen);
    EXPECT_NEAR(w->composer().view().center.lat * kRadToDeg, -33.9, 1e-9);
}

// Scrolling stops at the pole and wraps at the date line.
TEST_F(MapWindowTest, ScrollingKeepsTheCentreAValidPosition) {
    auto w = startShown();
    for (int i = 0; i < 20; ++i) w->Btn_MapScrollUpClick();
    EXPECT_DOUBLE_EQ(w->mapCenter.lat, std::numbers::pi / 2);
    w->scrollMap(0, 3.5);
    EXPECT_LT(w->mapCenter.lon, std::numbers::pi);
    EXPECT_GE(w->mapCenter.lon, -std::numbers::pi);
}

TEST_F(MapWindowTest, BearingsForAPoint) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    w->Img_MapClick(20, 30);
    f.Mem_Msgs->clear();
    w->PM_CalcBrgsClick();
    const QString bearing = f.Ed_Brg1X->text();
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d\\d$").match(bearing).hasMatch()) << bearing.toStdString();
    const QString log = f.Mem_Msgs->toPlainText();
    EXPECT_TRUE(log.startsWith("Accuracy check: TestLon=") && !log.contains('\n')) << log.toStdString();
    EXPECT_LT(kmApart(w->locationX, w->clickPosition), 2.0) << "both bearings point at the place";
    w->PM_SetPosAClick();
    EXPECT_EQ(f.Ed_Pos1->text(), dms(w->clickPosition));
}

TEST_F(MapWindowTest, ResizesRedrawTheBaseMapOnceAfterFourTicks) {
    auto w = startShown();
    const qint64 first = w->baseBitmap.cacheKey();
    for (int i = 0; i < 3; ++i) {
        w->resize(700 + 10 * i, 500);
        QApplication::processEvents();
        w->Timer1Timer();
    }
    EXPECT_EQ(w->baseBitmap.cacheKey(), first) << "the countdown restarts with every resize";
    for (int i = 0; i < 3; ++i) w->Timer1Timer();
    const qint64 redrawn = w->baseBitmap.cacheKey();
    EXPECT_NE(redrawn, first);
    EXPECT_EQ(w->baseBitmap.size(), w->form().Img_Map->size());
    w->Timer1Timer();
    EXPECT_EQ(w->baseBitmap.cacheKey(), redrawn) << "once";
}

// Typing repaints only where the overlay changed. What the window shows
// must still be the picture, after an immediate repaint and after the event
// loop's own, over random edits of both observers.
TEST_F(MapWindowTest, WhatIsShownIsThePictureAfterEveryKeystroke) {
    writeIni("[PREV_SESSION]\nPos1=N52.1 E8.75\nPos2=N52.0 E8.9\n[MAP]\nShowTopo=0\nRange_km=30\n");
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    MapImage* map = f.Img_Map;
    const QPoint origin = map->mapTo(w.get(), QPoint(0, 0));
    // Where the map shows: not under the widgets drawn over it (the navigator).
    QRegion shown(QRect(QPoint(0, 0), map->size()));
    for (QWidget* other : w->findChildren<QWidget*>()) {
        if (other == map || !other->isVisible() || other->window() != w.get() || other->isAncestorOf(map)) continue;
        shown -= QRect(other->mapTo(w.get(), QPoint(0, 0)) - origin, other->size());
    }
    auto differing = [&] {
        const QImage screen = w->screen()->grabWindow(w->winId(), origin.x(), origin.y(), map->width(), map->height())
                                  .toImage()
                                  .convertToFormat(QImage::Format_RGB32);
        const QImage picture = map->picture().convertToFormat(QImage::Format_RGB32);
        int count = 0;
        for (int y = 0; y < std::min(screen.height(), picture.height()); ++y)
            for (int x = 0; x < std::min(screen.width(), picture.width()); ++x)
                count += shown.contains(QPoint(x, y)) && screen.pixel(x, y) != picture.pixel(x, y);
        return count;
    };
    MapComposer whole;
    whole.setTrackSource(forEachTrackBatch, trackChanges);
    whole.setMapDataDirectory(findDataFile("map_data"));
    QImage base(w->baseBitmap.size(), w->baseBitmap.format());
    GeoPosition centre = w->mapCenter;
    whole.drawBaseMap(base, w->mapSettings(), centre);
    ASSERT_TRUE(base == w->baseBitmap);
    std::mt19937 random(7);
    QLineEdit* const fields[] = {f.Ed_Brg1X, f.Ed_Brg2X, f.Ed_Brg1Tol, f.Ed_Brg2Tol, f.Ed_Pos1};
    for (int step = 0; step < 40; ++step) {
        SCOPED_TRACE(step);
        QLineEdit* field = fields[std::uniform_int_distribution<int>(0, step % 7 == 6 ? 4 : 3)(random)];
        const int value = std::uniform_int_distribution<int>(1, 359)(random);
        field->setText(field == f.Ed_Pos1      ? QString("N52.%1 E8.75").arg(value % 90 + 10)
                       : field == f.Ed_Brg1Tol || field == f.Ed_Brg2Tol ? QString::number(value % 15 + 1)
                                                                         : QString::number(value));
        if (step % 2) {
            map->repaintNow();
            EXPECT_EQ(differing(), 0);
        } else {
            EXPECT_TRUE(QTest::qWaitFor([&] { return differing() == 0; }, 5000)) << differing() << " pixels";
        }
        // And the picture is the overlay drawn whole, by a composer of its own.
        QImage once = base;
        whole.drawOverlayOnce(once, w->mapSettings(), w->observerA, w->observerB);
        EXPECT_TRUE(once == map->picture());
    }
}

// The menu opens a moment after the click; by then the mouse has moved on.
TEST_F(MapWindowTest, TheMenuActsWhereTheMapWasClicked) {
    auto w = startShown();
    QWidget* map = w->form().Img_Map;
    const QPoint clicked(map->width() / 3, map->height() / 3), later(2 * map->width() / 3, 2 * map->height() / 3);
    GeoPosition there;
    ASSERT_TRUE(screen_to_geo(w->composer().view(), clicked.x(), clicked.y(), &there.lon, &there.lat));
    QTest::mouseMove(map, clicked);
    QTest::mouseClick(map, Qt::LeftButton, {}, clicked);
    QTest::mouseMove(map, later);
    w->Img_MapMouseMove(later.x(), later.y());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->mapPopup().isVisible(); }, 10000));
    EXPECT_EQ(w->mapPopup().actions().at(0)->text(), dms(there));
    w->mapPopup().close();
    w->mapPopup().findChild<QAction*>("PM_Center")->trigger();
    EXPECT_LT(kmApart(w->mapCenter, there), 1e-6);

    // A double-click redraws; its second release opens no menu. Through the
    // window, as the window system delivers it: press, release, press with
    // the double-click, release.
    const QTimer* menuDelay = w->findChild<QTimer*>("MapMenuDelay");
    const qint64 key = w->baseBitmap.cacheKey();
    QTest::mouseDClick(w->windowHandle(), Qt::LeftButton, {}, map->mapTo(w.get(), clicked));
    EXPECT_NE(w->baseBitmap.cacheKey(), key) << "redrawn";
    EXPECT_FALSE(menuDelay->isActive());
}

// Loading terrain keeps the window busy. Keys, clicks and a close request
// that arrive meanwhile wait for the end of the load and then come in their
// order; Escape aborts the load at once.
TEST_F(MapWindowTest, InputDuringATerrainLoadWaitsForItsEnd) {
    // One synthetic SRTM3 tile: rows from north to south, big-endian.
    fs::create_directories(dir.path() / "srtm");
    std::string tile(2 * 1201 * 1201, '\0');
    for (std::size_t i = 0; i < tile.size(); i += 2) tile[i + 1] = static_cast<char>(50 + i / 2 % 100);
    dir.write("srtm/N50E008.hgt", tile);
    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "with Escape" : "without Escape");
        writeIni("[MAP]\nCenterHow=0\nCenterAt=N50.5 E8.5\nRange_km=40\nShowTopo=1\nSRTM3_dir=" +
                 (dir.path() / "srtm").string() + "\n");
        auto w = start();
        w->show();
        QApplication::setActiveWindow(w.get());
        Ui::TBearfix& f = w->form();
        f.Ed_Brg1X->setFocus();
        elevation().forceReload();
        // Waiting when the load begins: a click on "zoom out", a key for the
        // bearing field, Escape perhaps, and a request to close.
        const QPoint at = f.Btn_ZoomOut->rect().center(), global = f.Btn_ZoomOut->mapToGlobal(at);
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QCoreApplication::postEvent(f.Btn_ZoomOut, new QMouseEvent(type, at, global, Qt::LeftButton,
                                                                       type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                                       Qt::NoModifier));
        }
        QCoreApplication::postEvent(f.Ed_Brg1X, new QKeyEvent(QEvent::KeyPress, Qt::Key_7, Qt::NoModifier, "7"));
        if (escape) QCoreApplication::postEvent(w.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        QCoreApplication::postEvent(w.get(), new QCloseEvent);
        w->Timer1Timer();  // the first drawing loads the tile
        EXPECT_EQ(elevation().loadedSamples() == 0, escape) << "Escape aborted at once";
        EXPECT_EQ(f.Ed_MapRange->text(), "40") << "nothing got through during the load";
        EXPECT_TRUE(w->isVisible());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w->isVisible(); }, 20000)) << "closed after the load";
        EXPECT_EQ(f.Ed_MapRange->text(), "80") << "the click came";
        EXPECT_EQ(f.Ed_Brg1X->text(), "7260") << "and the key";
        EXPECT_TRUE(iniHas("Brg1X=7260\n")) << "both before the close";
        EXPECT_TRUE(iniHas("Range_km=80\n"));
    }
}

}  // namespace
}  // namespace bearfix
