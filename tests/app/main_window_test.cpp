#include <QTimer>
#include <QtTest/QTest>

#include "german_locale.h"
#include "support/message_log.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

using testing::WindowTest;

TEST_F(WindowTest, FirstMapFillsTheResultsAndEditsRecomputeAtOnce) {
    auto w = start();
    Ui::TBearfix& f = w->form();
    EXPECT_EQ(w->windowTitle(), "Bearfix");
    EXPECT_TRUE(f.Ed_LocX->text().isEmpty()) << "nothing is computed during creation";
    w->findChild<QTimer*>("Timer1")->stop();
    ASSERT_TRUE(firstMapDrawn(*w)) << "without waiting for the timer's first tick";
    const QString x = QString::fromUtf8("N51°04'05\" E000°58'50\"");
    EXPECT_EQ(f.Ed_LocX->text(), x);
    EXPECT_EQ(f.Ed_BrgAB->text(), QString::fromUtf8("148.4 °"));
    EXPECT_EQ(f.Ed_BrgBA->text(), QString::fromUtf8("330.4 °"));
    EXPECT_TRUE(w->statusPanel(0).text().isEmpty()) << "no \"Drawing....\" left";

    f.Ed_Brg2X->clear();
    EXPECT_EQ(f.Ed_LocX->text(), x) << "an empty bearing keeps the results";
    QTest::keyClicks(f.Ed_Brg2X, "290");
    EXPECT_EQ(f.Ed_LocX->text(), QString::fromUtf8("N51°11'57\" E001°43'41\""));

    f.Ed_Brg1X->setText("90");
    f.Ed_Brg2X->setText("200");
    EXPECT_EQ(f.Ed_LocX->text(), "no intersection found");
    EXPECT_TRUE(f.Ed_LocApprox->text().isEmpty());
    EXPECT_EQ(f.Ed_DistAB->text(), "348 km");
    EXPECT_NEAR(w->locationX.lon * kRadToDeg, 1.72826, 1e-5) << "X stays where it was last found";
}

// What the window reads from a bearing or a position field, typed or set by
// a remote "set" command: whole turns taken off, too large is no number.
TEST_F(WindowTest, BearingsOutsideOneTurnAndNumbersTooLarge) {
    auto w = start();
    Ui::TBearfix& f = w->form();
    ASSERT_TRUE(firstMapDrawn(*w));
    const QString x = f.Ed_LocX->text();
    post(*w, "set brg1x=980");  // 260 + 2 turns
    w->Timer1Timer();
    EXPECT_EQ(f.Ed_Brg1X->text(), "980") << "the field shows what was sent";
    EXPECT_EQ(f.Ed_LocX->text(), x);
    f.Ed_Brg2X->setText("-72");
    EXPECT_EQ(f.Ed_LocX->text(), x);

    const QString big = "1" + QString(400, '0');
    f.Ed_Brg2X->setText(big);
    EXPECT_EQ(f.Ed_LocX->text(), "no intersection found");
    EXPECT_EQ(f.Ed_DistAB->text(), "348 km");
    f.Ed_Brg2X->setText("288");
    f.Ed_Pos2->setText("N" + big + " E11");
    EXPECT_EQ(f.Ed_Inf2->text(), "not a position");
    EXPECT_EQ(f.Ed_LocX->text(), "no intersection found");
    EXPECT_TRUE(f.Ed_DistAB->text().isEmpty() && f.Ed_BrgAB->text().isEmpty());
}

TEST_F(WindowTest, MessageLogFollowsTheChosenLevel) {
    auto w = start();
    Ui::TBearfix& f = w->form();
    f.CB_MsgLevel->setCurrentIndex(2);  // "Warnings"
    logMessage(MessageLevel::Debug, "Debug: hidden");
    logMessage(MessageLevel::Error, "Error: Could not open file \"%s\".", "map_data/coast.pnt");
    EXPECT_EQ(f.Mem_Msgs->toPlainText(), "Error: Could not open file \"map_data/coast.pnt\".");
    f.Btn_ClearMsgs->click();
    f.CB_MsgLevel->setCurrentIndex(0);
    logMessage(MessageLevel::Debug, "Debug: first");
    w->close();
    logMessage(MessageLevel::Error, "Error: after close");
    EXPECT_EQ(f.Mem_Msgs->toPlainText(), "Debug: first");
}

TEST_F(WindowTest, NumbersUseAPointUnderAGermanLocale) {
    ASSERT_TRUE(testing::useGermanLocale()) << "no German locale: scripts/install-deps installs 'locales'";
    auto w = start();
    ASSERT_TRUE(firstMapDrawn(*w));
    w->form().Mem_Msgs->clear();
    logMessage(MessageLevel::Debug, "%.1lf", 1.5);
    EXPECT_EQ(w->form().Mem_Msgs->toPlainText(), "1.5");
    EXPECT_EQ(w->form().Ed_BrgAB->text(), QString::fromUtf8("148.4 °"));
    std::setlocale(LC_ALL, "C");
}

TEST_F(WindowTest, SettingsSurviveARestart) {
    const QString sydney = QString::fromUtf8("S33°52'00\" E151°12'00\"");
    writeIni("; my notes\n[GUI]\nGeoPosFormat=7\n[MAP]\nCenterHow=9\n");
    {
        auto w = start();
        Ui::TBearfix& f = w->form();
        f.Ed_Pos2->setText(sydney);
        f.Ed_Brg1X->clear();
        f.Ed_TrackLineWidth->setText("60");
        w->resize(700, 500);
        w->close();
    }
    EXPECT_TRUE(iniHas("; my notes"));
    EXPECT_TRUE(iniHas("GeoPosFormat=7")) << "kept though the list has no such item";
    EXPECT_TRUE(iniHas("CenterHow=-1")) << "the list showed nothing";
    EXPECT_TRUE(iniHas("Pos2=S33\xC2\xB0" "52'00\" E151\xC2\xB0" "12'00\"\n"));

    auto w = start();
    Ui::TBearfix& f = w->form();
    EXPECT_EQ(f.Ed_Pos2->text(), sydney);
    EXPECT_TRUE(f.Ed_Brg1X->text().isEmpty());
    EXPECT_EQ(w->trackSettings.trackLineWidth, 60);
    // Closed while maximised: the bounds of the last normal close stay.
    w->setWindowState(Qt::WindowMaximized);
    w->close();
    EXPECT_TRUE(iniHas("Width=700\n"));
}

}  // namespace
}  // namespace bearfix
