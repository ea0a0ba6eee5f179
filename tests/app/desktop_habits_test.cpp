// The window as a desktop user expects it: positions typed and pasted, the
// form positions are shown in, keys, dragging the map, the window's size.
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest/QTest>
#include <cmath>

#include "session/data_files.h"
#include "geo/great_circle.h"
#include "geo/position_patterns.h"
#include "map/elevation.h"
#include "map/qt_convert.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

using HabitsTest = testing::WindowTest;

const QString kNotAPosition = QString::fromUtf8("Not a position: try N50°20'15\" E008°45'19\", 50.3375, 8.7553 or JO40hf");

// A field whose text is no position turns red and says what would do; the
// results are not computed from it. Pasted primes read as ' and ".
TEST_F(HabitsTest, PositionFieldsSayWhenTheyHoldNoPosition) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    const QString x = f.Ed_LocX->text();
    const struct { QString text; bool position; const char* info; } cases[] = {
        {"N52", false, "not a position"},
        // Bad Homburg, 50.23 N 8.62 E in the table: 12.0 km south and 9.6 km
        // west of 50.3375 N 8.7553 E (15.3 km), 13.8 and 12.2 km (18.4 km)
        // of JO40ji's centre, 50°21.25' N 8°47.5' E.
        {"50.3375N 8.7553E", true, "15 km NE of Bad Homburg"},  // read as 50.48 N 0 E before
        {"JO40ji", true, "18 km NE of Bad Homburg"},
        {"N 50.33", false, "not a position"},
        {QString::fromUtf8("N52°08′26″ E008°28′57″"), true, "5 km W of Enger"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        f.Ed_Pos1->selectAll();
        QGuiApplication::clipboard()->setText(c.text);
        f.Ed_Pos1->paste();
        EXPECT_EQ(f.Ed_Inf1->text(), c.info);
        EXPECT_EQ(isRed(f.Ed_Pos1), !c.position);
        EXPECT_EQ(f.Ed_Pos1->toolTip(), c.position ? "position of observer A" : kNotAPosition);
        if (!c.position) {
            EXPECT_EQ(f.Ed_LocX->text(), "no intersection found");
        }
    }
    EXPECT_EQ(f.Ed_LocX->text(), x) << "the pasted default position gives X again";

    // The map centre: red, and "Apply !" leaves the map where it is.
    const GeoPosition centre = w->mapCenter;
    f.CB_MapCenter->setCurrentIndex(0);
    f.Ed_MapCenter->setText("JO40h");
    EXPECT_EQ(f.Ed_MapCenter->toolTip(), kNotAPosition);
    f.Btn_UpdateMap->click();
    EXPECT_TRUE(w->mapCenter.lat == centre.lat && w->mapCenter.lon == centre.lon);
    f.Ed_MapCenter->setText("50.3375, 8.7553");
    EXPECT_EQ(f.Ed_MapCenter->toolTip(), "double-click to select from database");
    QTest::keyClick(f.Ed_MapCenter, Qt::Key_Return);  // Enter applies
    EXPECT_NEAR(w->composer().view().center.lat * kRadToDeg, 50.3375, 1e-9);
    EXPECT_EQ(f.PageControl1->currentWidget(), f.TS_MapScreen);
}

// The "Positions" option: X, the read-out, the menu's caption and what it
// copies. X of the default session is N51°04'05" E000°58'50" (GeographicLib,
// see the command-line tests): 51.068 N is field O, square 1, subsquare
// 1.63 x 2.5' (b); 0.981 E is J, 0, 11.8 x 5' (l).
TEST_F(HabitsTest, PositionsInTheChosenForm) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    QWidget* map = f.Img_Map;
    const QPoint at(map->width() / 2, map->height() / 2);
    GeoPosition there;
    ASSERT_TRUE(screen_to_geo(w->composer().view(), at.x(), at.y(), &there.lon, &there.lat));
    const QString dms = QString::fromUtf8("N51°04'05\" E000°58'50\"");
    const struct { int option; QString x, readOut, caption; } cases[] = {
        {0, dms, toQString(format_position(there, PosFormat::Dms)), toQString(format_position(there, PosFormat::Dms))},
        {1, dms, toQString(format_position(there, PosFormat::Dms)), toQString(format_position(there, PosFormat::Dms))},
        {2, "JO01lb",
         toQString(maidenhead_locator(there, 6) + " (" + maidenhead_locator(there, 10) + ")"),
         toQString(maidenhead_locator(there, 6))},
        {3, "N51.06831 E000.98055", toQString(decimal_degrees_text(there)), toQString(decimal_degrees_text(there))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        f.Cb_PosFormat->setCurrentIndex(c.option);
        EXPECT_EQ(f.Ed_LocX->text(), c.x);
        w->Img_MapMouseMove(at.x(), at.y());
        EXPECT_TRUE(w->statusPanel(0).text().startsWith(c.readOut)) << w->statusPanel(0).text().toStdString();
        w->Img_MapClick(at.x(), at.y());
        ASSERT_TRUE(QTest::qWaitFor([&] { return w->mapPopup().isVisible(); }, 10000));
        QAction* coordinate = w->mapPopup().actions().at(0);
        EXPECT_EQ(coordinate->text(), c.caption);
        coordinate->trigger();
        w->mapPopup().close();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), c.caption);
    }
}

// Left, Right, Home and End move the cursor in a text field; Up and Down,
// and every arrow elsewhere, scroll the map; with Ctrl or Alt none scrolls.
// + and - zoom on the Map tab, the wheel leaves lists it passes over alone.
TEST_F(HabitsTest, KeysAndTheWheel) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    QLineEdit* field = f.Ed_Pos1;  // N52°08'26" E008°28'57"
    field->setFocus();
    constexpr int kWordBack = -1;  // somewhere left of where it was
    const struct { Qt::Key key; Qt::KeyboardModifiers modifiers; int cursor; int north; } keys[] = {
        {Qt::Key_Left, {}, 4, 0},  {Qt::Key_Right, {}, 5, 0}, {Qt::Key_Home, {}, 0, 0},
        {Qt::Key_End, {}, 22, 0},  {Qt::Key_Up, {}, 22, 1},   {Qt::Key_Down, {}, 22, -1},
        {Qt::Key_Left, Qt::ControlModifier, kWordBack, 0},   {Qt::Key_Up, Qt::AltModifier, kWordBack, 0},
        {Qt::Key_Down, Qt::MetaModifier, kWordBack, 0},
    };
    field->setCursorPosition(5);
    for (const auto& k : keys) {
        SCOPED_TRACE(static_cast<int>(k.key));
        const MapView before = w->composer().view();
        QTest::keyClick(field, k.key, k.modifiers);
        if (k.cursor == kWordBack) {
            EXPECT_LT(field->cursorPosition(), 22);
        } else {
            EXPECT_EQ(field->cursorPosition(), k.cursor);
        }
        EXPECT_NEAR(w->mapCenter.lat - before.center.lat, k.north * (before.lat_max - before.lat_min) / 4, 1e-12);
        EXPECT_DOUBLE_EQ(w->mapCenter.lon, before.center.lon);
    }
    QTest::keyClick(field, Qt::Key_Plus);
    EXPECT_TRUE(field->text().contains('+')) << "typed into the field";

    // On the map the arrows scroll either way, + and - zoom.
    QTest::mouseClick(f.Img_Map, Qt::LeftButton, {}, QPoint(5, 5));  // takes the focus
    w->findChild<QTimer*>("MapMenuDelay")->stop();
    ASSERT_TRUE(f.Img_Map->hasFocus());
    const double lon = w->mapCenter.lon;
    QTest::keyClick(f.Img_Map, Qt::Key_Left);
    EXPECT_LT(w->mapCenter.lon, lon);
    QTest::keyClick(f.Img_Map, Qt::Key_Plus);
    EXPECT_EQ(f.Ed_MapRange->text(), "300");
    QTest::keyClick(f.Img_Map, Qt::Key_Minus);
    QTest::keyClick(f.Img_Map, Qt::Key_Minus);
    EXPECT_EQ(f.Ed_MapRange->text(), "1200");
    f.Ed_MapRange->setFocus();
    f.Ed_MapRange->setText("250");
    QTest::keyClick(f.Ed_MapRange, Qt::Key_Enter);
    EXPECT_DOUBLE_EQ(w->composer().currentRange(), 250);

    // The wheel turns a list only when it has the focus.
    f.PageControl1->setCurrentWidget(f.TS_MapSettings);
    QComboBox* list = f.CB_MapProjection;
    auto turn = [list] {
        const QPointF at(list->width() / 2.0, list->height() / 2.0);
        QWheelEvent wheel(at, list->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(list, &wheel);
    };
    turn();
    EXPECT_EQ(list->currentIndex(), 0);
    list->setFocus();
    turn();
    EXPECT_EQ(list->currentIndex(), 1);
}

// Ticking the ambiguity or the ruler draws at once; the ruler leaves the
// navigator as it was.
TEST_F(HabitsTest, TicksDrawAtOnce) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    ASSERT_TRUE(f.Pnl_MapNav->isVisible() && !f.Chk_ShowMapNavigator->isChecked());
    for (QCheckBox* box : {f.Chk_Ambi1, f.Ck_ShowMapRuler}) {
        SCOPED_TRACE(box->objectName().toStdString());
        const QImage before = f.Img_Map->picture();
        box->click();
        EXPECT_NE(f.Img_Map->picture(), before);
    }
    EXPECT_TRUE(f.Pnl_MapNav->isVisible());
}

// With a grid, the ruler's corner is free for its labels only while the
// ruler is off: a tick draws the base map again, as a fresh drawing has it.
// Without a grid the base map stays.
TEST_F(HabitsTest, TheRulerTickRedrawsTheGridAroundIt) {
    writeIni("[MAP]\nShowTopo=0\nShowGrids=1\nShowRuler=1\n");
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    for (int tick = 0; tick < 3; ++tick) {
        SCOPED_TRACE(tick);
        if (tick == 2) {
            f.CB_SwGrids->setCurrentIndex(0);
            w->fullMapRedraw();
        }
        const qint64 before = w->baseBitmap.cacheKey();
        f.Ck_ShowMapRuler->click();
        EXPECT_EQ(w->baseBitmap.cacheKey() != before, tick < 2);
        MapComposer fresh;
        fresh.setMapDataDirectory(findDataFile("map_data"));
        QImage base(w->baseBitmap.size(), w->baseBitmap.format());
        GeoPosition centre = w->mapCenter;
        fresh.drawBaseMap(base, w->mapSettings(), centre);
        EXPECT_TRUE(base == w->baseBitmap);
    }
}

void sendMouse(QWidget* to, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, to->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(to, &event);
}

// The picture follows the mouse; on release the map is redrawn with the
// place grabbed under the mouse, in either projection, and no menu opens.
TEST_F(HabitsTest, DraggingPansTheMap) {
    auto w = startShown();
    Ui::TBearfix& f = w->form();
    MapImage* map = f.Img_Map;
    for (const int projection : {0, 1}) {
        SCOPED_TRACE(projection);
        f.CB_MapProjection->setCurrentIndex(projection);
        f.Ed_MapRange->setText("2000");
        f.Btn_UpdateMap->click();
        const QPoint from(map->width() / 3, map->height() / 3), to = from + QPoint(150, 90);
        GeoPosition grabbed;
        ASSERT_TRUE(screen_to_geo(w->composer().view(), from.x(), from.y(), &grabbed.lon, &grabbed.lat));
        const QImage picture = map->picture();
        sendMouse(map, QEvent::MouseButtonPress, from, Qt::LeftButton);
        for (int step = 1; step <= 5; ++step) sendMouse(map, QEvent::MouseMove, from + (to - from) * step / 5, Qt::LeftButton);
        EXPECT_EQ(map->grab().toImage().pixel(to), picture.pixel(from)) << "the picture follows";
        sendMouse(map, QEvent::MouseButtonRelease, to, Qt::NoButton);
        double x, y;
        ASSERT_TRUE(geo_to_pixel(w->composer().view(), grabbed.lon, grabbed.lat, &x, &y));
        EXPECT_LT(std::hypot(x - to.x(), y - to.y()), 1.0);
        EXPECT_NE(map->picture(), picture) << "redrawn";
        EXPECT_FALSE(w->findChild<QTimer*>("MapMenuDelay")->isActive()) << "a drag opens no menu";
    }
}

// Terrain loaded while the map is redrawn: its progress goes from the status bar.
TEST_F(HabitsTest, StatusPanelIsClearedAfterATerrainLoad) {
    std::filesystem::create_directories(dir.path() / "srtm");
    dir.write("srtm/N50E008.hgt", std::string(2 * 1201 * 1201, '\x01'));
    writeIni("[MAP]\nCenterHow=0\nCenterAt=N50.5 E8.5\nRange_km=40\nShowTopo=1\nSRTM3_dir=" +
             (dir.path() / "srtm").string() + "\n");
    auto w = startShown();
    elevation().forceReload();
    w->form().Btn_UpdateMap->click();
    EXPECT_GT(elevation().loadedSamples(), 0u);
    EXPECT_TRUE(w->statusPanel(0).text().isEmpty()) << w->statusPanel(0).text().toStdString();
}

TEST_F(HabitsTest, HelpWithoutABrowserSaysSo) {
    auto w = start();
    QStringList told;
    w->dialogs.inform = [&told](const QString& text) { told << text; };
    w->dialogs.openUrl = [](const QUrl&) { return false; };
    w->form().MI_Index->trigger();
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].contains(w->helpPage().toLocalFile())) << told[0].toStdString();
}

// A first run takes two thirds of the screen, centred; an old file's size
// stays; a maximised window is remembered.
TEST_F(HabitsTest, WindowSizeAndMaximised) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    {
        TBearfix w;
        EXPECT_EQ(w.size(), screen.size() * 2 / 3);
        EXPECT_EQ(w.geometry().center(), screen.center());
        w.setWindowState(Qt::WindowMaximized);
        w.close();
    }
    EXPECT_TRUE(iniHas("Maximized=1\n"));
    {
        TBearfix w;
        EXPECT_TRUE(w.windowState() & Qt::WindowMaximized);
    }
    writeIni("[PREV_SESSION]\nWidth=541\nHeight=406\n");
    TBearfix old;
    EXPECT_EQ(old.size(), QSize(541, 406));
    EXPECT_FALSE(old.windowState() & Qt::WindowMaximized);
}

}  // namespace
}  // namespace bearfix
