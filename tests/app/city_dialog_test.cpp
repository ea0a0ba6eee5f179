#include <QTimer>
#include <QtTest/QTest>

#include "app/city_dialog.h"
#include "cities/cities.h"
#include "ui_city_dialog.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

using testing::WindowTest;

// Presses a dialog button as soon as the modal dialog runs.
void pressLater(QPushButton* button) {
    QTimer::singleShot(0, button, [button] { button->click(); });
}

TEST(CityDialog, PreselectionAndOk) {
    TCitySelForm dialog;
    Ui::TCitySelForm& f = dialog.form();
    dialog.prepare(6.0 * kDegToRad, 50.78 * kDegToRad);
    EXPECT_EQ(f.ListBox1->count(), city_count());
    EXPECT_EQ(f.ListBox1->currentRow(), 0) << "Aachen";
    double lon = -30.0 * kDegToRad, lat = -40.0 * kDegToRad;
    dialog.prepare(lon, lat);
    EXPECT_EQ(f.ListBox1->currentRow(), -1) << "nothing within 500 km of the South Atlantic";
    pressLater(f.BitBtn1);
    EXPECT_EQ(dialog.select_city(&lon, &lat, nullptr), 1);
    EXPECT_EQ(lon, -30.0 * kDegToRad) << "OK with nothing selected changes nothing";

    lon = 6.01 * kDegToRad;
    lat = 50.77 * kDegToRad;
    char name[21] = {};
    pressLater(f.BitBtn1);
    EXPECT_EQ(dialog.select_city(&lon, &lat, name), 1);
    CityInfo aachen;
    city_get(0, aachen);
    EXPECT_EQ(lon, aachen.lon);
    EXPECT_EQ(lat, aachen.lat);
    EXPECT_STREQ(name, "Aachen");
}

TEST(CityDialog, InitialsSearch) {
    TCitySelForm dialog;
    Ui::TCitySelForm& f = dialog.form();
    dialog.prepare(0.0, 0.0);
    const std::pair<const char*, const char*> cases[] = {
        {"bER", "Berber"},
        {"vienna", "Wien (Vienna)"},  // after the qualifier mark
        {"Cologne", "Köln (Cologne)"},
        {"osn.", "Piesberg/Osn."},
        {"xqzv", "Piesberg/Osn."},  // no match keeps the selection
        {"", "Aachen"},
    };
    for (const auto& [typed, expected] : cases) {
        f.Ed_Initials->setText(typed);
        ASSERT_NE(f.ListBox1->currentItem(), nullptr) << typed;
        EXPECT_EQ(f.ListBox1->currentItem()->text(), QString::fromUtf8(expected)) << typed;
    }
    EXPECT_TRUE(f.Ed_LatLon->text().isEmpty()) << "only a click shows the position";
    f.ListBox1->setCurrentRow(0);
    dialog.ListBox1Click();
    EXPECT_EQ(f.Ed_LatLon->text(), QString::fromUtf8("N50°46'48\" E006°00'00\""));
}

TEST_F(WindowTest, ObserverPickedFromTheTable) {
    auto w = start();
    Ui::TBearfix& f = w->form();
    ASSERT_TRUE(firstMapDrawn(*w));
    f.Ed_Pos1->setText("N50.7 E6.1");
    pressLater(w->cityDialog().form().BitBtn1);
    f.SpeedButton1->click();
    EXPECT_EQ(f.Ed_Pos1->text(), QString::fromUtf8("N50°46'48\" E006°00'00\""));
    EXPECT_EQ(f.Ed_Inf1->text(), "Aachen");
    EXPECT_EQ(w->updateGuard, 0);

    pressLater(w->cityDialog().form().BitBtn2);
    f.Ed_Pos2->setText("n49.45 e11");
    QTest::mouseDClick(f.Ed_Pos2, Qt::LeftButton);
    EXPECT_EQ(f.Ed_Pos2->text(), QString::fromUtf8("N49°27'00\" E011°00'00\"")) << "Cancel still normalises";
}

}  // namespace
}  // namespace bearfix
