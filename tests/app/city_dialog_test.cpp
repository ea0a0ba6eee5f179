#include <QTimer>
#include <QtTest/QTest>

#include "app/city_dialog.h"
#include "cities/cities.h"
#include "map/qt_convert.h"
#include "ui_city_dialog.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

using testing::WindowTest;

QString nameAt(int index) {
    CityInfo city;
    city_get(index, city);
    return toQString(city.name);
}

// Presses a dialog button as soon as the modal dialog runs.
void pressLater(QPushButton* button) {
    QTimer::singleShot(0, button, [button] { button->click(); });
}

TEST(CityDialog, PreselectsTheNearestPlaceWithin500Km) {
    TCitySelForm dialog;
    Ui::TCitySelForm& f = dialog.form();
    dialog.prepare(6.0 * kDegToRad, 50.78 * kDegToRad);
    EXPECT_EQ(f.ListBox1->count(), city_count());
    EXPECT_EQ(f.ListBox1->currentRow(), 0) << "Aachen";
    EXPECT_TRUE(f.Ed_LatLon->text().isEmpty());
    dialog.prepare(-30.0 * kDegToRad, -40.0 * kDegToRad);
    EXPECT_EQ(f.ListBox1->currentRow(), -1) << "nothing within 500 km of the South Atlantic";
}

TEST(CityDialog, OkAndCancel) {
    TCitySelForm dialog;
    double lon = -30.0 * kDegToRad, lat = -40.0 * kDegToRad;
    pressLater(dialog.form().BitBtn1);
    EXPECT_EQ(dialog.select_city(&lon, &lat, nullptr), 1);
    EXPECT_EQ(lon, -30.0 * kDegToRad) << "OK with nothing selected changes nothing";

    lon = 6.01 * kDegToRad;
    lat = 50.77 * kDegToRad;
    char name[21] = "unchanged";
    pressLater(dialog.form().BitBtn2);
    EXPECT_EQ(dialog.select_city(&lon, &lat, name), 0);
    EXPECT_STREQ(name, "unchanged");

    pressLater(dialog.form().BitBtn1);
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
    int firstBer = -1;
    for (int i = 0; i < city_count() && firstBer < 0; ++i) {
        if (nameAt(i).startsWith("ber", Qt::CaseInsensitive)) firstBer = i;
    }
    struct Case {
        const char* typed;
        QString expected;
    };
    const Case cases[] = {
        {"ber", nameAt(firstBer)},
        {"BER", nameAt(firstBer)},
        {"vienna", QString::fromUtf8("Wien (Vienna)")},
        {"Cologne", QString::fromUtf8("Köln (Cologne)")},
        {"osn.", "Piesberg/Osn."},
        {"xqzv", "Piesberg/Osn."},  // no match keeps the selection
        {"", "Aachen"},
    };
    for (const auto& c : cases) {
        f.Ed_Initials->setText(c.typed);
        ASSERT_NE(f.ListBox1->currentItem(), nullptr) << c.typed;
        EXPECT_EQ(f.ListBox1->currentItem()->text(), c.expected) << c.typed;
    }
    EXPECT_TRUE(f.Ed_LatLon->text().isEmpty()) << "only a click shows the position";
    f.ListBox1->setCurrentRow(0);
    dialog.ListBox1Click();
    EXPECT_EQ(f.Ed_LatLon->text(), QString::fromUtf8("N50°46'48\" E006°00'00\""));
}

TEST_F(WindowTest, ObserverPickedFromTheTable) {
    auto w = start();
    Ui::TBearfix& f = w->form();
    w->Timer1Timer();
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
