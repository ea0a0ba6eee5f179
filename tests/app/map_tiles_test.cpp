#include <QProcess>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "window_fixture.h"

namespace bearfix {
namespace {

using MapTilesWindowTest = testing::WindowTest;

TEST_F(MapTilesWindowTest, TilesChosenInMapSettingsAreDrawnWhenTheyArrive) {
    // One tile of the whole world, blue.
    const std::filesystem::path tiles = dir.path() / "tiles";
    std::filesystem::create_directories(tiles / "0" / "0");
    QImage world(256, 256, QImage::Format_RGB32);
    world.fill(QColor(0, 0, 200));
    ASSERT_TRUE(world.save(QString::fromStdString((tiles / "0" / "0" / "0.png").string())));
    writeIni("[MAP]\nCenterHow=0\nCenterAt=N50 E10\nRange_km=5000\nShowTopo=0\nShowCities=0\nShowCoasts=0\n"
             "ShowBorders=0\nShowRivers=0\n");
    auto w = start();
    Ui::TBearfix& f = w->form();
    EXPECT_TRUE(f.Ck_HideOverlappingLabels->isChecked()) << "on by default";
    EXPECT_FALSE(f.Ck_ShowTiles->isChecked());
    w->dialogs.chooseTiles = [&](bool folder, const QString&, QString* chosen) {
        EXPECT_TRUE(folder);
        *chosen = QString::fromStdString(tiles.string());
        return true;
    };
    w->Timer1Timer();

    f.Btn_TilesFolder->click();
    EXPECT_EQ(f.Ed_TilesPath->text().toStdString(), tiles.string());
    EXPECT_TRUE(f.Ck_ShowTiles->isChecked()) << "a chosen source is switched on";
    f.Ed_TilesOpacity->setValue(50);
    f.Btn_UpdateMap->click();
    // Half of the blue over the white page.
    auto tinted = [&] {
        const QRgb p = w->baseBitmap.pixel(w->baseBitmap.width() / 2, w->baseBitmap.height() / 2);
        return qRed(p) >= 120 && qRed(p) <= 135 && qBlue(p) >= 220;
    };
    EXPECT_TRUE(QTest::qWaitFor(tinted, 10000)) << "the picture follows when the tile has been read";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w->composer().tiles().loading(); }, 10000));

    w->close();
    EXPECT_TRUE(iniHas("TilesPath=" + tiles.string() + "\nShowTiles=1\nTilesOpacity=50\n"));
    EXPECT_FALSE(iniHas("HideOverlappingLabels")) << "left at its default: an old file stays as it was";
}

// The command line draws the tiles before it writes the picture, and draws
// the map without them, saying why, when the file is no tile file.
TEST_F(MapTilesWindowTest, TheCommandLineWaitsForTheTiles) {
    const std::filesystem::path tiles = dir.path() / "tiles", broken = dir.path() / "broken.mbtiles";
    std::filesystem::create_directories(tiles / "0" / "0");
    QImage world(256, 256, QImage::Format_RGB32);
    world.fill(QColor(0, 0, 200));
    ASSERT_TRUE(world.save(QString::fromStdString((tiles / "0" / "0" / "0.png").string())));
    std::ofstream(broken) << "no database";
    for (const auto& [path, blue, error] : {std::tuple{tiles, true, ""}, {broken, false, "Error: Cannot use the tiles"}}) {
        const std::string ini = (dir.path() / "render.ini").string(), png = (dir.path() / "render.png").string();
        std::ofstream(ini) << "[PREV_SESSION]\nPos1=\nPos2=\n[MAP]\nCenterHow=0\nCenterAt=N50 E10\nRange_km=3000\n"
                              "ShowTopo=0\nShowCities=0\nShowCoasts=0\nShowBorders=0\nShowRivers=0\nShowTiles=1\n"
                              "TilesPath="
                           << path.string() << "\n";
        QProcess cli;
        cli.setWorkingDirectory(BEARFIX_SOURCE_DIR);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("XDG_RUNTIME_DIR");  // as under cron or ssh: nothing to say about it
        cli.setProcessEnvironment(environment);
        cli.start(BEARFIX_CLI, {"render", QString::fromStdString(png), "--width", "300", "--height", "200", "--config",
                                QString::fromStdString(ini)});
        ASSERT_TRUE(cli.waitForFinished(30000));
        EXPECT_EQ(cli.exitCode(), 0);
        const QString said = QString::fromUtf8(cli.readAllStandardError());
        EXPECT_TRUE(*error ? said.contains(error) : said.isEmpty()) << said.toStdString();
        const QImage picture(QString::fromStdString(png));
        ASSERT_FALSE(picture.isNull());
        EXPECT_EQ(picture.pixel(150, 100) == qRgb(0, 0, 200), blue) << path;
    }
}

}  // namespace
}  // namespace bearfix
