#include <QtTest/QTest>

#include "german_locale.h"
#include "support/message_log.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

using testing::WindowTest;

const QString kLocX = QString::fromUtf8("N51°04'05\" E000°58'50\"");

TEST_F(WindowTest, StartsWithDefaultsAndTheFirstTickFillsTheResults) {
    auto w = start();
    Ui::TBearfix& f = w->form();
    EXPECT_EQ(w->windowTitle(), "Bearfix");
    EXPECT_EQ(f.Ed_Pos1->text(), QString::fromUtf8("N52°08'26\" E008°28'57\""));
    EXPECT_EQ(f.Ed_Brg2X->text(), "288");
    EXPECT_EQ(f.CB_MapCenter->currentIndex(), 1);
    EXPECT_EQ(f.PageControl1->currentWidget(), f.TS_MapScreen);
    EXPECT_TRUE(f.Ed_LocX->text().isEmpty()) << "nothing is computed during creation";

    w->Timer1Timer();
    EXPECT_EQ(f.Ed_LocX->text(), kLocX);
    EXPECT_EQ(f.Ed_DistAB->text(), "348 km");
    EXPECT_EQ(f.Ed_BrgAB->text(), QString::fromUtf8("148.4 °"));
    EXPECT_EQ(f.Ed_BrgBA->text(), QString::fromUtf8("330.4 °"));
    EXPECT_TRUE(w->statusPanel(0).text().isEmpty());
    EXPECT_FALSE(w->resultsPending || w->overlayPending || w->initialDrawPending);
}

TEST_F(WindowTest, EditsRecomputeAtOnce) {
    auto w = start();
    Ui::TBearfix& f = w->form();
    w->Timer1Timer();

    f.Ed_Brg2X->clear();
    EXPECT_EQ(f.Ed_LocX->text(), kLocX) << "an empty bearing keeps the results";
    EXPECT_EQ(f.Ed_DistAB->text(), "348 km");

    QTest::keyClicks(f.Ed_Brg2X, "290");
    EXPECT_EQ(f.Ed_LocX->text(), QString::fromUtf8("N51°11'57\" E001°43'41\""));
    EXPECT_EQ(w->updateGuard, 0);

    f.Ed_Brg1X->setText("90");
    f.Ed_Brg2X->setText("200");
    EXPECT_EQ(f.Ed_LocX->text(), "no intersection found");
    EXPECT_TRUE(f.Ed_LocApprox->text().isEmpty());
    EXPECT_EQ(f.Ed_DistAB->text(), "348 km");
    EXPECT_NEAR(w->locationX.lon * kRadToDeg, 1.72826, 1e-5) << "X stays where it was last found";
}

TEST_F(WindowTest, ZoomAndApplyRedrawTheMap) {
    auto w = start();
    Ui::TBearfix& f = w->form();
    w->Timer1Timer();
    EXPECT_EQ(w->form().Img_Map->picture().size(), f.Img_Map->size());
    f.Btn_ZoomOut->click();
    EXPECT_EQ(f.Ed_MapRange->text(), "1200");
    f.Btn_ZoomIn->click();
    f.Btn_ZoomIn->click();
    EXPECT_EQ(f.Ed_MapRange->text(), "300");
    EXPECT_EQ(w->composer().currentRange(), 300.0);

    f.CB_MapCenter->setCurrentIndex(0);
    f.Ed_MapCenter->setText("S33.9 E151.2");
    f.PageControl1->setCurrentWidget(f.TabSheet3);
    f.Btn_UpdateMap->click();
    EXPECT_EQ(f.PageControl1->currentWidget(), f.TS_MapScreen);
    EXPECT_NEAR(w->composer().view().center.lat * kRadToDeg, -33.9, 1e-9);
}

TEST_F(WindowTest, MessageLogFollowsTheChosenLevel) {
    auto w = start();
    Ui::TBearfix& f = w->form();
    f.CB_MsgLevel->setCurrentIndex(2);  // "Warnings"
    logMessage(MessageLevel::Debug, "Debug: hidden");
    logMessage(MessageLevel::Error, "Error: Could not open file \"%s\".", "map_data/coast.pnt");
    EXPECT_EQ(f.Mem_Msgs->toPlainText(), "Error: Could not open file \"map_data/coast.pnt\".");
    f.Btn_ClearMsgs->click();
    EXPECT_TRUE(f.Mem_Msgs->toPlainText().isEmpty());
    f.CB_MsgLevel->setCurrentIndex(0);
    logMessage(MessageLevel::Debug, "Debug: first");
    EXPECT_EQ(f.Mem_Msgs->toPlainText(), "Debug: first");
    w->close();
    logMessage(MessageLevel::Error, "Error: after close");
    EXPECT_EQ(f.Mem_Msgs->toPlainText(), "Debug: first");
}

TEST_F(WindowTest, NumbersUseAPointUnderAGermanLocale) {
    if (!testing::useGermanLocale()) GTEST_SKIP() << "no German locale can be built on this machine";
    auto w = start();
    w->Timer1Timer();
    w->form().Mem_Msgs->clear();
    logMessage(MessageLevel::Debug, "%.1lf", 1.5);
    EXPECT_EQ(w->form().Mem_Msgs->toPlainText(), "1.5");
    EXPECT_EQ(w->form().Ed_BrgAB->text(), QString::fromUtf8("148.4 °"));
    std::setlocale(LC_ALL, "C");
}

TEST_F(WindowTest, SettingsSurviveARestart) {
    writeIni("; my notes\n[GUI]\nGeoPosFormat=7\n[MAP]\nCenterHow=9\n[Extra]\nkeep=me\n");
    {
        auto w = start();
        Ui::TBearfix& f = w->form();
        EXPECT_EQ(f.Cb_PosFormat->currentIndex(), -1);
        EXPECT_EQ(f.CB_MapCenter->currentIndex(), -1);
        f.Ed_Pos2->setText(QString::fromUtf8("S33°52'00\" E151°12'00\""));
        f.Ed_Brg1X->clear();
        f.Chk_Ambi2->setChecked(true);
        f.CB_SwCities->setCurrentIndex(3);
        f.Ed_TrackLineWidth->setText("60");
        w->move(40, 50);
        w->resize(700, 500);
        w->close();
    }
    std::string ini = readIni();
    EXPECT_NE(ini.find("; my notes"), std::string::npos);
    EXPECT_NE(ini.find("keep=me"), std::string::npos);
    EXPECT_NE(ini.find("GeoPosFormat=7"), std::string::npos);
    EXPECT_NE(ini.find("CenterHow=-1"), std::string::npos);
    EXPECT_NE(ini.find("Pos2=S33\xC2\xB0" "52'00\" E151\xC2\xB0" "12'00\"\n"), std::string::npos);

    auto w = start();
    Ui::TBearfix& f = w->form();
    EXPECT_EQ(f.Ed_Pos2->text(), QString::fromUtf8("S33°52'00\" E151°12'00\""));
    EXPECT_TRUE(f.Ed_Brg1X->text().isEmpty());
    EXPECT_TRUE(f.Chk_Ambi2->isChecked());
    EXPECT_EQ(f.CB_SwCities->currentIndex(), 3);
    EXPECT_EQ(w->trackSettings.trackLineWidth, 60);
    EXPECT_EQ(w->trackSettings.posFormat, 7);

    // Closed while maximised: the bounds of the last normal close stay.
    w->setWindowState(Qt::WindowMaximized);
    w->close();
    EXPECT_NE(readIni().find("Width=700\n"), std::string::npos);
}

TEST_F(WindowTest, AFailedSaveKeepsTheOldFile) {
    writeIni("[PREV_SESSION]\nBrg1X=123\n");
    auto w = start();
    w->form().Ed_Brg1X->setText("45");
    testing::MessageBoxCatcher boxes;
    {
        testing::FileSizeLimit full(16);
        w->close();
    }
    EXPECT_EQ(boxes.text, QString("Unable to write to %1").arg(QString::fromStdString(iniPath())));
    EXPECT_EQ(readIni(), "[PREV_SESSION]\nBrg1X=123\n");
}

}  // namespace
}  // namespace bearfix
