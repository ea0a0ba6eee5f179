#include <QMessageBox>

#include "map/elevation.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"
#include "window_fixture.h"

namespace bearfix {
namespace {

// A window whose dialogs answer as the test says and record what they were asked.
class DialogWindowTest : public testing::WindowTest {
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
            *colour = colours.value(colourTitles.size() - 1);
            return colour->isValid();
        };
        w->dialogs.inform = [this](const QString& text) { informed << text; };
        EXPECT_TRUE(firstMapDrawn(*w));
        return w;
    }
    void TearDown() override { clearTracks(); }

    QStringList files, questions, colourTitles, informed;
    int filterIndex = 0;
    int answer = QMessageBox::Yes;
    QList<QColor> colours;
};

TEST_F(DialogWindowTest, OptionsAreUsedAtOnceAndSaved) {
    auto w = startWithDialogs();
    Ui::TBearfix& f = w->form();
    ASSERT_EQ(elevation().source(), kSrtm);
    const qint64 key = w->baseBitmap.cacheKey();
    f.RB_UseSRTM3->click();
    EXPECT_EQ(w->baseBitmap.cacheKey(), key) << "the source in use: nothing happens";
    f.RB_UseGTOPO30->click();
    EXPECT_EQ(elevation().source(), kGtopo30);
    EXPECT_NE(w->baseBitmap.cacheKey(), key) << "redrawn in full";

    const std::string tiles = (dir.path() / "my tiles").string();
    f.Ed_SRTM3_Dir->setText(QString::fromStdString(tiles));
    emit f.Ed_SRTM3_Dir->editingFinished();
    EXPECT_EQ(elevation().srtmDirectory(), tiles);
    w->close();
    elevation().setSource(kSrtm);
    EXPECT_TRUE(iniHas("UseSRTM3=0\n"));
    EXPECT_TRUE(iniHas("SRTM3_dir=" + tiles + "\n"));
}

TEST_F(DialogWindowTest, AboutBox) {
    auto w = startWithDialogs();
    w->form().MI_About->trigger();
    const QString help = w->helpPage().toString();
    EXPECT_TRUE(help.startsWith("file:///") && help.endsWith("html/bearfix.htm")) << help.toStdString();
    EXPECT_EQ(informed, QStringList{"Bearfix by the Bearfix developers.\nDetails in the help system "
                                    "..html/bearfix.htm or here:\n\n  " + help + "\n\nVersion " BEARFIX_VERSION "\nCompiled: " __DATE__ "\n\n"});
}

TEST_F(DialogWindowTest, ImportingTracks) {
    const std::string track = "1 1262304000 52.1 8.5 40 0\n2 1262304001 52.2 8.6 41 0\n";
    const QString first = QString::fromStdString(dir.write("first.aux", track));
    const QString third = QString::fromStdString(dir.write("third.aux", track));
    auto w = startWithDialogs();
    filterIndex = 4;  // "Wavemill auxiliary track file": read by extension
    files = {first};
    w->form().MI_ImportGPSTrack->trigger();
    EXPECT_TRUE(questions.isEmpty()) << "an empty store: no question";
    EXPECT_EQ(trackRecordCount(), 3);

    const qint64 key = w->baseBitmap.cacheKey();
    answer = QMessageBox::Cancel;
    w->form().MI_ImportGPSTrack->trigger();
    EXPECT_EQ(questions.size(), 1);
    EXPECT_EQ(trackRecordCount(), 3);
    EXPECT_EQ(w->baseBitmap.cacheKey(), key) << "cancelled: not redrawn";

    // Appended; the unreadable second file changes nothing remembered.
    answer = QMessageBox::No;
    files = {first, QString::fromStdString((dir.path() / "missing.aux").string()), third};
    w->form().MI_ImportGPSTrack->trigger();
    EXPECT_EQ(trackRecordCount(), 9);
    EXPECT_EQ(w->trackSettings.lastFileName, third.toStdString());
    EXPECT_TRUE(w->form().Mem_Msgs->toPlainText().contains("Error loading \""));

    answer = QMessageBox::Yes;  // the old tracks go first
    files = {QString::fromStdString(dir.write(
        "walk.kml", "<kml><Document><Placemark><LineString><coordinates>8,52,0 9,53,0</coordinates>"
                    "</LineString></Placemark></Document></kml>"))};
    filterIndex = 0;  // "All supported": read as the filter for its extension reads it
    w->form().MI_ImportGPSTrack->trigger();
    EXPECT_EQ(questions.size(), 3);
    EXPECT_EQ(trackRecordCount(), 3);
    EXPECT_EQ(w->trackSettings.lastFileType, kTrackKml) << "the Google Earth filter's type";
}

TEST_F(DialogWindowTest, TrackDisplaySettings) {
    auto w = startWithDialogs();
    Ui::TBearfix& f = w->form();
    f.Ed_TrackLineWidth->setText("abc");
    f.Btn_ApplyGPS->click();
    EXPECT_EQ(w->trackSettings.trackLineWidth, 1);
    f.Ed_TrackLineWidth->setText("60");
    f.Btn_ApplyGPS->click();
    EXPECT_EQ(w->mapSettings().trackLineWidth, 60);
    EXPECT_EQ(f.PageControl1->currentWidget(), f.TS_MapScreen);

    // Both colours are asked for, the second even when the first is cancelled;
    // edits of the tab not yet applied stay.
    f.Ed_TrackLineWidth->setText("7");
    f.Chk_ReloadTracksOnStartup->setChecked(true);
    colours = {QColor(), QColor(10, 20, 30)};
    w->Pnl_TrackColorsClick();
    EXPECT_EQ(f.Ed_TrackLineWidth->text(), "7");
    EXPECT_TRUE(f.Chk_ReloadTracksOnStartup->isChecked());
    EXPECT_EQ(colourTitles, (QStringList{"Colour of TRACK LABELS", "Colour of TRACK BACKGND"}));
    EXPECT_EQ(w->trackSettings.trackLabelColour, 49280u);
    EXPECT_EQ(w->trackSettings.trackLineColour, 0x001E140Au);
    EXPECT_EQ(f.Pnl_TrackColors->palette().color(QPalette::Window), QColor(10, 20, 30));
}

// File names are the file system's bytes: they come back byte for byte, and
// so does what the program does not own.
TEST_F(DialogWindowTest, FileNamesKeepTheirBytes) {
    const std::string tiles = (dir.path() / "j\xF6rg").string(), track = "/" + std::string(300, 't') + "/walk.kml";
    writeIni("[\xFF\xFE]\nk=\xE4\n[MAP]\nSRTM3_dir=" + tiles + "\n[TrackDisplay]\nLastFileName=" + track + "\n");
    {
        auto w = startWithDialogs();
        QLineEdit* field = w->form().Ed_SRTM3_Dir;
        EXPECT_EQ(elevation().srtmDirectory(), tiles);
        EXPECT_EQ(field->text(), QString::fromStdString((dir.path() / "j%F6rg").string()));
        emit field->editingFinished();  // Enter in the unchanged field
        EXPECT_EQ(elevation().srtmDirectory(), tiles);
        field->setText(field->text() + QString::fromUtf8("/n\xC3\xB6rd"));  // typed
        emit field->editingFinished();
        EXPECT_EQ(elevation().srtmDirectory(), tiles + "/n\xC3\xB6rd");
        EXPECT_EQ(w->trackSettings.lastFileName, track);
        w->close();
    }
    EXPECT_TRUE(iniHas("[\xFF\xFE]\nk=\xE4\n"));
    EXPECT_TRUE(iniHas("SRTM3_dir=" + (dir.path() / "j%F6rg").string() + "/n\xC3\xB6rd\n"));
    EXPECT_TRUE(iniHas("LastFileName=" + track + "\n"));
    auto w = startWithDialogs();
    EXPECT_EQ(elevation().srtmDirectory(), tiles + "/n\xC3\xB6rd");
}

// An imported file is kept with the tracks: at the next start it is there
// once, not again from the file as well; after Clear tracks the file is
// loaded again at start, as it always was.
TEST_F(DialogWindowTest, ReloadOnStartDoesNotShowATrackTwice) {
    files = {QString::fromStdString(dir.write("walk.aux", "1 1262304000 52.1 8.5 40 0\n2 1262304001 52.2 8.6 41 0\n"))};
    filterIndex = 4;
    {
        auto w = startWithDialogs();
        w->form().Chk_ReloadTracksOnStartup->setChecked(true);
        w->form().MI_ImportGPSTrack->trigger();
        ASSERT_EQ(trackRecordCount(), 3);
        w->close();
    }
    {
        auto w = startWithDialogs();  // the store emptied first, as a new run begins
        EXPECT_EQ(trackRecordCount(), 3) << "from the journal, not twice";
        w->form().Btn_ClearTracks->click();
        w->close();
    }
    auto w = startWithDialogs();
    EXPECT_EQ(trackRecordCount(), 3) << "from the file";
}

TEST_F(DialogWindowTest, ReloadOnStartWithAMissingFile) {
    const std::string gone = (dir.path() / "gone.kml").string();
    writeIni("[TrackDisplay]\nOptions=16\nLastFileName=" + gone + "\nLastFileType=0\n");
    auto w = startWithDialogs();
    EXPECT_TRUE(w->form().Chk_ReloadTracksOnStartup->isChecked());
    EXPECT_TRUE(w->form().Mem_Msgs->toPlainText().contains("Error: Couldn't load anything from " +
                                                           QString::fromStdString(gone) + " ."));
    EXPECT_FALSE(w->form().Ed_LocX->text().isEmpty()) << "the window started and computed";
}

}  // namespace
}  // namespace bearfix
