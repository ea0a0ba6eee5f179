#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QtTest/QTest>

#include <QMouseEvent>
#include <filesystem>

#include "geo/great_circle.h"
#include "map/elevation.h"
#include "map/qt_convert.h"
#include "support/message_log.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

using testing::WindowTest;

class MapWindowTest : public WindowTest {
protected:
    std::unique_ptr<TBearfix> startShown() {
        auto w = start();
        w->show();
        QApplication::setActiveWindow(w.get());
        w->Timer1Timer();
        return w;
    }
};

TEST_F(MapWindowTest, MouseReadOutAndPopup) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    const QSize size = f.Img_Map->size();
    w->Img_MapMouseMove(size.width() / 2, size.height() / 2);
    EXPECT_TRUE(w->mousePositionValid);
    EXPECT_EQ(w->statusPanel(0).text(), toQString(format_position(w->mousePosition, PosFormat::Dms)));
    EXPECT_TRUE(w->statusPanel(1).text().contains(" km ")) << w->statusPanel(1).text().toStdString();

    // Beyond the azimuthal disc that holds the whole earth.
    f.CB_MapProjection->setCurrentIndex(1);
    f.Ed_MapRange->setText("20000");
    f.Btn_UpdateMap->click();
    w->Img_MapMouseMove(1, 1);
    EXPECT_EQ(w->statusPanel(0).text(), "X=1,Y=1 ?");
    EXPECT_EQ(w->statusPanel(1).text(), "not on map");
    w->Img_MapClick();
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    EXPECT_FALSE(w->mapPopup().isVisible());

    w->Img_MapMouseMove(size.width() / 2, size.height() / 2);
    w->Img_MapClick();
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    ASSERT_TRUE(w->mapPopup().isVisible());
    QAction* coordinate = w->mapPopup().actions().at(0);
    EXPECT_EQ(coordinate->text(), w->statusPanel(0).text());
    coordinate->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), coordinate->text());
    w->mapPopup().close();
}

TEST_F(MapWindowTest, ZoomSteps) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    w->Img_MapMouseMove(10, 10);
    w->PM_ZoomOutClick();
    EXPECT_EQ(f.Ed_MapRange->text(), "2400") << "the menu zooms out two steps";
    EXPECT_EQ(f.CB_MapCenter->currentIndex(), 0);
    f.Btn_ZoomOut->click();
    EXPECT_EQ(f.Ed_MapRange->text(), "4800") << "the navigator one";

    f.Ed_MapRange->setText("20000");
    f.Btn_UpdateMap->click();
    f.Mem_Msgs->clear();
    const qint64 before = w->baseBitmap.cacheKey();
    f.Btn_ZoomOut->click();
    EXPECT_EQ(f.Mem_Msgs->toPlainText(), "Min. zoom step exceeded");
    EXPECT_EQ(w->baseBitmap.cacheKey(), before) << "nothing is redrawn";

    f.Ed_MapRange->setText("0.02");
    f.Btn_UpdateMap->click();
    f.Btn_ZoomIn->click();
    f.Btn_ZoomIn->click();
    EXPECT_EQ(f.Ed_MapRange->text(), "0.01");
    EXPECT_TRUE(f.Mem_Msgs->toPlainText().endsWith("Max. zoom step exceeded")) << f.Mem_Msgs->toPlainText().toStdString();
}

TEST_F(MapWindowTest, TheWheelZoomsAboutTheMouse) {
    auto w = startShown();
    double lon, lat, lon2, lat2;
    ASSERT_TRUE(screen_to_geo(w->composer().view(), 100, 80, &lon, &lat));
    w->Img_MapWheel(+1, 100, 80);
    EXPECT_EQ(w->form().Ed_MapRange->text(), "300");
    ASSERT_TRUE(screen_to_geo(w->composer().view(), 100, 80, &lon2, &lat2));
    double apart;
    gc_distance_course(lon, lat, lon2, lat2, &apart, nullptr);
    EXPECT_LT(apart * kEarthRadiusKm, 1.0) << "the place under the mouse stays there";
    w->Img_MapWheel(-2, 100, 80);
    EXPECT_EQ(w->form().Ed_MapRange->text(), "1200");
}

TEST_F(MapWindowTest, ArrowKeysScrollFromAnyField) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    const MapView before = w->composer().view();
    f.Ed_Pos1->setFocus();
    f.Ed_Pos1->setCursorPosition(3);
    QTest::keyClick(f.Ed_Pos1, Qt::Key_Up);
    EXPECT_NEAR(w->mapCenter.lat - before.center.lat, (before.lat_max - before.lat_min) / 4, 1e-12);
    EXPECT_EQ(f.Ed_Pos1->cursorPosition(), 3);
    EXPECT_EQ(f.CB_MapCenter->currentIndex(), 0);
    EXPECT_EQ(w->updateGuard, 0);
    QTest::keyClick(f.Ed_Pos1, Qt::Key_A);
    EXPECT_TRUE(f.Ed_Pos1->text().contains('a')) << "other keys reach the field";

    // Scrolling keeps the centre a valid position.
    for (int i = 0; i < 20; ++i) w->Btn_MapScrollUpClick();
    EXPECT_DOUBLE_EQ(w->mapCenter.lat, std::numbers::pi / 2);
    w->scrollMap(0, 3.5);
    EXPECT_LT(w->mapCenter.lon, std::numbers::pi);
    EXPECT_GE(w->mapCenter.lon, -std::numbers::pi);
}

TEST_F(MapWindowTest, BearingsForAPoint) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    w->Img_MapMouseMove(20, 30);
    f.Mem_Msgs->clear();
    w->PM_CalcBrgsClick();
    QRegularExpression twoDecimals("^\\d+\\.\\d\\d$");
    EXPECT_TRUE(twoDecimals.match(f.Ed_Brg1X->text()).hasMatch()) << f.Ed_Brg1X->text().toStdString();
    EXPECT_TRUE(twoDecimals.match(f.Ed_Brg2X->text()).hasMatch()) << f.Ed_Brg2X->text().toStdString();
    EXPECT_TRUE(f.Mem_Msgs->toPlainText().startsWith("Accuracy check: TestLon="));
    EXPECT_EQ(f.Mem_Msgs->toPlainText().count('\n'), 0) << "one line";
    // Both bearings point at the clicked place, so X is that place.
    IntersectionResult r;
    bearing_intersection(r, w->observerA.lon, w->observerA.lat, f.Ed_Brg1X->text().toDouble() * kDegToRad,
                         w->observerB.lon, w->observerB.lat, f.Ed_Brg2X->text().toDouble() * kDegToRad);
    double miss;
    gc_distance_course(r.x.lon, r.x.lat, w->mousePosition.lon, w->mousePosition.lat, &miss, nullptr);
    EXPECT_LT(miss * kEarthRadiusKm, 2.0);
    EXPECT_EQ(w->updateGuard, 0);

    w->PM_SetPosAClick();
    EXPECT_EQ(f.Ed_Pos1->text(), toQString(format_position(w->mousePosition, PosFormat::Dms)));
}

TEST_F(MapWindowTest, CentringOnXBeforeAnyIntersection) {
    writeIni("[PREV_SESSION]\nBrg1X=90\nBrg2X=200\n");  // bearings that never cross
    auto w = startShown();
    w->PM_CenterOnXClick();
    EXPECT_EQ(w->mapCenter.lat, 0.0);
    EXPECT_EQ(w->mapCenter.lon, 0.0);
    EXPECT_EQ(w->form().Ed_MapCenter->text(), QString::fromUtf8("N00°00'00\" E000°00'00\""));
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

TEST_F(MapWindowTest, Navigator) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    EXPECT_TRUE(f.Pnl_MapNav->isVisible());
    EXPECT_FALSE(f.Chk_ShowMapNavigator->isChecked());
    f.Btn_HideMapNavigator->click();
    EXPECT_FALSE(f.Pnl_MapNav->isVisible());
    EXPECT_EQ(w->updateGuard, 0);
    f.Chk_ShowMapNavigator->click();
    EXPECT_TRUE(f.Pnl_MapNav->isVisible());
}

}  // namespace
}  // namespace bearfix

namespace bearfix {
namespace {

const std::string kRealTiles = std::string(BEARFIX_SOURCE_DIR) + "/../shared/data/srtm";

class TerrainWindowTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (!std::filesystem::exists(kRealTiles + "/N50E008.hgt")) GTEST_SKIP() << "no real SRTM3 tiles in " << kRealTiles;
        writeIni("[MAP]\nCenterHow=0\nCenterAt=N50.5 E8.5\nRange_km=40\nShowTopo=1\nSRTM3_dir=" + kRealTiles + "\n");
    }
};

TEST_F(TerrainWindowTest, MouseShowsTheHeight) {
    auto w = start();
    w->show();
    w->Timer1Timer();
    const QSize size = w->form().Img_Map->size();
    w->Img_MapMouseMove(size.width() / 2, size.height() / 2);
    EXPECT_TRUE(QRegularExpression("^N50.*E008.* \\d+m$").match(w->statusPanel(0).text()).hasMatch())
        << w->statusPanel(0).text().toStdString();
}

TEST_F(TerrainWindowTest, EscapeAbortsTheLoadAndNothingElseGetsThrough) {
    auto w = start();
    w->show();
    QApplication::setActiveWindow(w.get());
    Ui::TBearfix& f = w->form();
    elevation().forceReload();
    // Waiting when the load begins: a click on "zoom out", then Escape.
    const QPoint button = f.Btn_ZoomOut->rect().center();
    QCoreApplication::postEvent(f.Btn_ZoomOut, new QMouseEvent(QEvent::MouseButtonPress, button, f.Btn_ZoomOut->mapToGlobal(button),
                                                               Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(f.Btn_ZoomOut, new QMouseEvent(QEvent::MouseButtonRelease, button, f.Btn_ZoomOut->mapToGlobal(button),
                                                               Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    QCoreApplication::postEvent(w.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    w->Timer1Timer();
    EXPECT_EQ(elevation().loadedSamples(), 0) << "aborted at once";
    QApplication::processEvents();
    EXPECT_EQ(f.Ed_MapRange->text(), "40") << "the click was held back, not replayed";
    w->fullMapRedraw();
    EXPECT_EQ(elevation().loadedSamples(), 0) << "the same view is not loaded again";
    elevation().forceReload();
    w->fullMapRedraw();
    EXPECT_GT(elevation().loadedSamples(), 0);
}

}  // namespace
}  // namespace bearfix
