// File > Export...: the window's observers and tracks go out through the save dialog.
#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "app/bearing_log_tab.h"
#include "german_locale.h"
#include "tracks/track_store.h"
#include "window_fixture.h"

namespace bearfix::testing {
namespace {

class ExportWindowTest : public WindowTest {
protected:
    std::unique_ptr<TBearfix> startExporting(const std::string& chosen, int filter) {
        clearTracks();
        auto w = start();
        w->dialogs.chooseExportFile = [chosen, filter](QString* file, int* format) {
            *file = QString::fromStdString(chosen);
            *format = filter;
            return true;
        };
        w->dialogs.warn = [this](const QString& text) { warnings << text; };
        return w;
    }
    void TearDown() override { clearTracks(); }
    std::string read(const std::string& name) const {
        std::ifstream in(dir.path() / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    QStringList warnings;
};

// A name without extension takes the filter's; the numbers keep their '.'
// under a German locale. A logged bearing has its station's colour as the map
// draws it, the slots counted over the log alone: "Car 7" hashes to slot 0
// (FNV-1a modulo 12, in Python), #1f77b4, which observer A's row would take
// first were it counted; A's row has A's teal.
TEST_F(ExportWindowTest, WritesTheObserversAndTracksOfTheWindow) {
    auto w = startExporting((dir.path() / "hunt").string(), 2);
    Ui::TBearfix& f = w->form();
    f.Ed_Pos1->setText("N50.25 E8.125");
    f.Ed_Brg1X->setText("45");
    f.Ed_Pos2->setText("N50.25 E9");
    f.Ed_Brg2X->setText("315");
    giveBearings(*w);  // as the user types them: only then they are the log's
    beginTrackSegment("Walk", -1);
    TrackPoint p;
    for (int i = 0; i < 2; ++i) {
        initTrackPoint(p);
        p.lat = degreesToUnits(50.5);
        p.lon = degreesToUnits(8.5 + i / 64.0);
        p.valid = 1;
        appendTrackRecord(p);
    }
    Bearing car;
    car.station = "Car 7";
    car.position = {8.5 * kDegToRad, 50 * kDegToRad};
    w->bearingLog().append({car});
    ASSERT_TRUE(useGermanLocale()) << "no German locale: scripts/install-deps installs 'locales'";
    f.MI_Export->trigger();
    std::setlocale(LC_ALL, "C");
    const std::string text = read("hunt.geojson");
    EXPECT_NE(text.find(R"("name":"A",)"), std::string::npos);
    EXPECT_NE(text.find(R"({"type":"Point","coordinates":[8.125,50.25]})"), std::string::npos);
    EXPECT_NE(text.find(R"("coordinates":[[8.5,50.5],[8.515625,50.5]])"), std::string::npos);
    EXPECT_NE(text.find(R"("name":"X",)"), std::string::npos);
    EXPECT_NE(text.find(R"("kind":"log_bearing","name":"Car 7","description":"0° ±1°","colour":"#1f77b4")"),
              std::string::npos) << text;
    EXPECT_NE(text.find(R"("kind":"log_bearing","name":"A","description":"45° ±1°","colour":"#008080")"),
              std::string::npos);
    EXPECT_TRUE(warnings.isEmpty());
}

// A file that cannot be written completely stays as it was, and a warning names it.
TEST_F(ExportWindowTest, AFailedExportKeepsTheOldFileAndWarns) {
    const std::string old = dir.write("old.kml", "<kml/>");
    auto w = startExporting(old, 1);
    {
        FileSizeLimit limit(16);
        w->form().MI_Export->trigger();
    }
    EXPECT_EQ(read("old.kml"), "<kml/>");
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains(QString::fromStdString(old))) << warnings[0].toStdString();
}

// The dialog starts in the folder of the last export, after a restart too;
// before the first export, or with that folder gone, in the home folder.
TEST_F(ExportWindowTest, TheDialogStartsWhereTheLastExportWent) {
    std::filesystem::create_directories(dir.path() / "trip");
    const QString trip = QString::fromStdString((dir.path() / "trip").string());
    auto w = startExporting((dir.path() / "trip/hunt.kml").string(), 0);
    EXPECT_EQ(w->exportFolder(), QDir::homePath());
    w->form().MI_Export->trigger();
    EXPECT_EQ(w->exportFolder(), trip);
    w->close();
    EXPECT_EQ(start()->exportFolder(), trip);
    std::filesystem::remove_all(dir.path() / "trip");
    EXPECT_EQ(start()->exportFolder(), QDir::homePath());
}

}  // namespace
}  // namespace bearfix::testing
