#include <QMessageBox>

#include "map/elevation.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

using testing::WindowTest;

// A window whose dialogs answer as the test says and record what they were asked.
class DialogWindowTest : public WindowTest {
protected:
    std::unique_ptr<TBearfix> startWithDialogs() {
        clearTracks();
        auto w = start();
        w->dialogs.chooseTrackFiles = [this](QStringList* chosen, int* filter) {
            *chosen = files;
            *filter = filterIndex;
            return !files.isEmpty();
        };
        w->dialogs.ask = [this](const QString& question) {
            questions << question;
            return answer;
        };
        w->dialogs.chooseColour = [this](const QString& title, QColor* colour) {
            colourTitles << title;
            if (colours.isEmpty()) return false;
            *colour = colours.takeFirst();
            return colour->isValid();
        };
        w->dialogs.inform = [this](const QString& text) { informed << text; };
        w->Timer1Timer();
        return w;
    }
    void TearDown() override { clearTracks(); }

    QStringList files;
    int filterIndex = 0;
    int answer = QMessageBox::Yes;
    QStringList questions, colourTitles, informed;
    QList<QColor> colours;
};

TEST_F(DialogWindowTest, PositionFormatIsKeptAndChangesNoText) {
    {
        auto w = startWithDialogs();
        const QString before = w->form().Ed_Pos1->text();
        w->form().Cb_PosFormat->setCurrentIndex(2);  // "Maidenhead Locator"
        EXPECT_EQ(w->trackSettings.posFormat, 2);
        EXPECT_EQ(w->form().Ed_Pos1->text(), before);
        w->close();
    }
    auto w = startWithDialogs();
    EXPECT_EQ(w->form().Cb_PosFormat->currentIndex(), 2);
}

TEST_F(DialogWindowTest, SwitchingTheElevationSource) {
    auto w = startWithDialogs();
    ASSERT_EQ(elevation().source(), kSrtm);
    qint64 key = w->baseBitmap.cacheKey();
    w->form().RB_UseSRTM3->click();
    EXPECT_EQ(w->baseBitmap.cacheKey(), key) << "the source in use: nothing happens";
    w->form().RB_UseGTOPO30->click();
    EXPECT_EQ(elevation().source(), kGtopo30);
    EXPECT_NE(w->baseBitmap.cacheKey(), key) << "redrawn in full";
    w->close();
    EXPECT_NE(readIni().find("UseSRTM3=0"), std::string::npos);
    elevation().setSource(kSrtm);
}

TEST_F(DialogWindowTest, TypedDirectoriesAreUsedAndSaved) {
    auto w = startWithDialogs();
    const std::string directory = (dir.path() / "my tiles").string();
    w->form().Ed_SRTM3_Dir->setText(QString::fromStdString(directory));
    emit w->form().Ed_SRTM3_Dir->editingFinished();
    EXPECT_EQ(elevation().srtmDirectory(), directory);
    w->close();
    EXPECT_NE(readIni().find("SRTM3_dir=" + directory + "\n"), std::string::npos);
}

TEST_F(DialogWindowTest, AboutBox) {
    auto w = startWithDialogs();
    w->form().MI_About->trigger();
    ASSERT_EQ(informed.size(), 1);
    const QStringList lines = informed[0].split('\n');
    ASSERT_EQ(lines.size(), 8) << "seven lines, each ended by a line feed";
    EXPECT_EQ(lines[0], "Bearfix by the Bearfix developers.");
    EXPECT_EQ(lines[1], "Details in the help system ..html/bearfix.htm or here:");
    EXPECT_TRUE(lines[3].startsWith("  file:///") && lines[3].endsWith("html/bearfix.htm"));
    EXPECT_EQ(lines[5], QString("Compiled: ") + __DATE__);
    EXPECT_TRUE(lines[2].isEmpty() && lines[4].isEmpty() && lines[6].isEmpty());
}

TEST_F(DialogWindowTest, ImportingTracks) {
    const std::string track = "1 1262304000 52.1 8.5 40 0\n2 1262304001 52.2 8.6 41 0\n";
    const QString first = QString::fromStdString(dir.write("first.aux", track));
    const QString third = QString::fromStdString(dir.write("third.aux", track));
    auto w = startWithDialogs();
    filterIndex = 3;  // "Wavemill auxiliary track file": read by extension

    // An empty store: no question.
    files = {first};
    w->form().MI_ImportGPSTrack->trigger();
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(trackRecordCount(), 3);

    // Cancel in the question imports nothing and does not redraw.
    const qint64 key = w->baseBitmap.cacheKey();
    answer = QMessageBox::Cancel;
    w->form().MI_ImportGPSTrack->trigger();
    EXPECT_EQ(questions.size(), 1);
    EXPECT_EQ(trackRecordCount(), 3);
    EXPECT_EQ(w->baseBitmap.cacheKey(), key);

    // No: append; the unreadable second file changes nothing remembered.
    answer = QMessageBox::No;
    files = {first, QString::fromStdString((dir.path() / "missing.aux").string()), third};
    w->form().Mem_Msgs->clear();
    w->form().MI_ImportGPSTrack->trigger();
    EXPECT_EQ(trackRecordCount(), 9);
    EXPECT_EQ(w->trackSettings.lastFileName, third.toStdString());
    EXPECT_EQ(w->trackSettings.lastFileType, kTrackByExtension);
    EXPECT_TRUE(w->form().Mem_Msgs->toPlainText().contains("Error loading \""));

    // "Clear tracks" empties the store, and the next import asks nothing.
    w->form().Btn_ClearTracks->click();
    EXPECT_EQ(trackRecordCount(), 0);
    questions.clear();
    files = {QString::fromStdString(dir.write(
        "walk.kml", "<kml><Document><Placemark><LineString><coordinates>8,52,0 9,53,0</coordinates>"
                    "</LineString></Placemark></Document></kml>"))};
    filterIndex = 0;
    w->form().MI_ImportGPSTrack->trigger();
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(trackRecordCount(), 3);
    EXPECT_EQ(w->trackSettings.lastFileType, kTrackKml) << "the first filter's type";
}

TEST_F(DialogWindowTest, TrackDisplaySettings) {
    auto w = startWithDialogs();
    Ui::TBearfix& f = w->form();
    f.Ed_TrackLineWidth->setText("abc");
    f.Btn_ApplyGPS->click();
    EXPECT_EQ(w->trackSettings.trackLineWidth, 1);
    f.Ed_TrackLineWidth->setText("60");
    f.Btn_ApplyGPS->click();
    EXPECT_EQ(w->trackSettings.trackLineWidth, 60);
    EXPECT_EQ(w->mapSettings().trackLineWidth, 60) << "the drawing makes 2 of it";
    EXPECT_EQ(f.PageControl1->currentWidget(), f.TS_MapScreen);

    // The colour panel asks for both colours, the second even when the first is cancelled.
    colours = {QColor(), QColor(10, 20, 30)};
    w->Pnl_TrackColorsClick();
    EXPECT_EQ(colourTitles, (QStringList{"Colour of TRACK LABELS", "Colour of TRACK BACKGND"}));
    EXPECT_EQ(w->trackSettings.trackLabelColour, 49280u);
    EXPECT_EQ(w->trackSettings.trackLineColour, 0x001E140Au);
    EXPECT_EQ(f.Pnl_TrackColors->palette().color(QPalette::Window), QColor(10, 20, 30));
}

TEST_F(DialogWindowTest, ReloadOnStartWithAMissingFile) {
    writeIni("[TrackDisplay]\nOptions=16\nLastFileName=" + (dir.path() / "gone.kml").string() + "\nLastFileType=0\n");
    auto w = startWithDialogs();
    EXPECT_TRUE(w->form().Chk_ReloadTracksOnStartup->isChecked());
    const QStringList lines = w->form().Mem_Msgs->toPlainText().split('\n');
    EXPECT_TRUE(lines.contains(QString("Error: Couldn't load anything from %1 .").arg(
        QString::fromStdString((dir.path() / "gone.kml").string()))));
    EXPECT_TRUE(lines.filter("Error loading \"").size() == 1);
    EXPECT_FALSE(w->form().Ed_LocX->text().isEmpty()) << "the window started and computed";
}

}  // namespace
}  // namespace bearfix
