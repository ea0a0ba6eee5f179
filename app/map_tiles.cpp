// The offline tiles and the label option of the "Map Settings" tab, and the
// redraw when tiles read in the background arrive.
#include <QFile>
#include <QFileDialog>
#include <QTimer>

#include "app/line_edits.h"
#include "app/main_window.h"
#include "support/cp1252.h"
#include "ui_bearfix.h"

namespace bearfix {

namespace {

constexpr int kArrivalPoll = 80;  // ms between looks for newly read tiles

}  // namespace

void TBearfix::connectTileHandlers() {
    Ui::TBearfix& f = *ui_;
    if (!dialogs.chooseTiles) {
        dialogs.chooseTiles = [this](bool folder, const QString& current, QString* chosen) {
            *chosen = folder ? QFileDialog::getExistingDirectory(this, "Folder of map tiles ({z}/{x}/{y}.png)", current)
                             : QFileDialog::getOpenFileName(this, "MBTiles file", current,
                                                            "MBTiles (*.mbtiles *.sqlite *.db);;All files (*)");
            return !chosen->isEmpty();
        };
    }
    connect(f.Btn_TilesFile, &QToolButton::clicked, this, [this] { chooseTiles(false); });
    connect(f.Btn_TilesFolder, &QToolButton::clicked, this, [this] { chooseTiles(true); });
    connect(f.Ed_TilesPath, &QLineEdit::returnPressed, this, &TBearfix::Btn_UpdateMapClick);
    composer_.tiles().setAsynchronous(true);
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &TBearfix::TilesArrived);
    poll->start(kArrivalPoll);
}

void TBearfix::showTileSettings(const SessionSettings& s) {
    Ui::TBearfix& f = *ui_;
    setPathText(f.Ed_TilesPath, s.tilesPath);
    f.Ck_ShowTiles->setChecked(s.showTiles);
    f.Ed_TilesOpacity->setValue(s.tilesOpacity);
    f.Ck_HideOverlappingLabels->setChecked(s.hideOverlappingLabels);
}

void TBearfix::takeTileSettings(SessionSettings& s) const {
    const Ui::TBearfix& f = *ui_;
    s.tilesPath = truncateUtf8(pathIn(f.Ed_TilesPath), kMaxDirectory);
    s.showTiles = f.Ck_ShowTiles->isChecked();
    s.tilesOpacity = f.Ed_TilesOpacity->value();
    s.hideOverlappingLabels = f.Ck_HideOverlappingLabels->isChecked();
}

// A chosen file or folder is shown and switched on; "Apply !" draws it.
void TBearfix::chooseTiles(bool folder) {
    QString chosen;
    if (!dialogs.chooseTiles(folder, ui_->Ed_TilesPath->text(), &chosen)) return;
    setPathText(ui_->Ed_TilesPath, QFile::encodeName(chosen).toStdString());
    ui_->Ck_ShowTiles->setChecked(true);
}

// Not while terrain loads: the window is then inside a drawing already.
void TBearfix::TilesArrived() {
    if (loadingElevation_ || initialDrawPending || baseBitmap.isNull() || !composer_.tiles().arrived()) return;
    drawBaseMap(baseBitmap);
    drawOverlay();
}

}  // namespace bearfix
