#include "app/bearing_log_tab.h"

#include <QDateTime>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <optional>
#include <utility>

#include "app/gps_panel.h"
#include "app/line_edits.h"
#include "app/main_window.h"
#include "fix/bearing_log.h"
#include "map/bearing_log_overlay.h"
#include "session/settings.h"
#include "support/cp1252.h"
#include "support/message_log.h"
#include "support/whole_file.h"
#include "ui_bearfix.h"
#include "ui_bearing_dialog.h"

namespace bearfix {

namespace {

constexpr int kSaveDelayMs = 2000;  // a burst of changes is written once
const char* const kCsvFilter = "Bearings (*.csv);;All files (*)";

std::string oneLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    for (std::size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, "; ");
    return text;
}

std::string fileBytes(const QString& file) { return QFile::encodeName(file).toStdString(); }

QString countText(std::size_t n) { return n == 1 ? QString("1 bearing") : QString("%1 bearings").arg(n); }

// The dialog of Add and Edit: the fields as the table shows them for
// editing; OK only with texts that make a bearing.
bool runBearingDialog(QWidget* parent, const QString& title, Bearing* bearing) {
    QDialog dialog(parent);
    Ui::TBearingDialog ui;
    ui.setupUi(&dialog);
    dialog.setWindowTitle(title);
    QLineEdit* const fields[] = {ui.Ed_BrgStation, ui.Ed_BrgTime, ui.Ed_BrgPosition, ui.Ed_BrgValue,
                                 ui.Ed_BrgTolerance};
    const BearingColumn columns[] = {BearingColumn::Station, BearingColumn::Time, BearingColumn::Position,
                                     BearingColumn::Bearing, BearingColumn::Tolerance};
    for (int i = 0; i < 5; ++i) setText(fields[i], bearingText(*bearing, columns[i], true));
    Bearing result = *bearing;
    QObject::connect(ui.Btns_Bearing, &QDialogButtonBox::accepted, &dialog, [&] {
        std::string why;
        if (bearingFromTexts(text(ui.Ed_BrgStation), text(ui.Ed_BrgTime), positionText(ui.Ed_BrgPosition),
                             text(ui.Ed_BrgValue), text(ui.Ed_BrgTolerance), result, why)) {
            dialog.accept();
        } else {
            ui.Lab_BrgProblem->setText(toQString(why));
        }
    });
    QObject::connect(ui.Btns_Bearing, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    (bearing->station.empty() ? ui.Ed_BrgStation : ui.Ed_BrgValue)->setFocus();
    if (dialog.exec() != QDialog::Accepted) return false;
    *bearing = std::move(result);
    return true;
}

}  // namespace

BearingLogTab::BearingLogTab(TBearfix& window)
    : QObject(&window), window_(window), form_(window.form()), path_(bearingLogPath()) {
    model_ = new BearingLogModel(this);
    saveTimer_ = new QTimer(this);
    saveTimer_->setSingleShot(true);
    saveTimer_->setInterval(kSaveDelayMs);
    connect(saveTimer_, &QTimer::timeout, this, [this] { save(false); });

    TBearfix::Dialogs& d = window_.dialogs;
    if (!d.chooseBearingFile) {
        d.chooseBearingFile = [&window](bool save, QString* file) {
            *file = save ? QFileDialog::getSaveFileName(&window, "Export bearings", QString(), kCsvFilter)
                         : QFileDialog::getOpenFileName(&window, "Import bearings", QString(), kCsvFilter);
            return !file->isEmpty();
        };
    }
    if (!d.editBearing) {
        d.editBearing = [&window](const QString& title, Bearing* bearing) {
            return runBearingDialog(&window, title, bearing);
        };
    }

    QTableView* table = form_.Tbl_Bearings;
    table->setModel(model_);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);  // no row measured: quick with many rows
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    const int widths[] = {110, 150, 170, 70, 50, 70, 75, 40};
    for (int i = 0; i < static_cast<int>(std::size(widths)); ++i) table->setColumnWidth(i, widths[i]);
    table->horizontalHeader()->setStretchLastSection(false);

    connect(model_, &BearingLogModel::fixChanged, this, &BearingLogTab::showFix);
    connect(model_, &BearingLogModel::logChanged, this, &BearingLogTab::logChanged);
    connect(model_, &BearingLogModel::rejected, this, [this](const QString& why) { note(why, true); });
    connect(form_.Btn_AddBearing, &QPushButton::clicked, this, &BearingLogTab::addBearing);
    connect(form_.Btn_EditBearing, &QPushButton::clicked, this, &BearingLogTab::editBearing);
    connect(form_.Btn_DeleteBearings, &QPushButton::clicked, this, &BearingLogTab::deleteBearings);
    connect(form_.Btn_ClearBearings, &QPushButton::clicked, this, &BearingLogTab::clearBearings);
    connect(form_.Btn_ImportBearings, &QPushButton::clicked, this, &BearingLogTab::importBearings);
    connect(form_.Btn_ExportBearings, &QPushButton::clicked, this, &BearingLogTab::exportBearings);
    model_->setRobust(form_.Chk_RobustFix->isChecked());
    connect(form_.Chk_RobustFix, &QCheckBox::toggled, model_, &BearingLogModel::setRobust);
    // A bearing typed is given at once, and finished by Enter or by leaving
    // the field; the window's own writes (the settings, the socket) are not typing.
    QLineEdit* const bearingFields[] = {form_.Ed_Brg1X, form_.Ed_Brg2X};
    for (int i = 0; i < 2; ++i) {
        connect(bearingFields[i], &QLineEdit::textEdited, this, [this, i] {
            typing_[i] = true;
            window_.bearingGiven[i] = true;
            observersChanged(window_.observerTexts());
        });
        connect(bearingFields[i], &QLineEdit::editingFinished, this, [this, i] {
            if (std::exchange(typing_[i], false)) bearingGiven(i, BearingSource::Typed);
        });
    }
    connect(form_.Chk_FollowGps, &QCheckBox::toggled, this, [this] { observersChanged(window_.observerTexts()); });
    connect(form_.Chk_LastMinutes, &QCheckBox::toggled, this, &BearingLogTab::takeLastMinutes);
    connect(form_.Ed_LastMinutes, &QLineEdit::editingFinished, this, &BearingLogTab::takeLastMinutes);
    takeLastMinutes();
    load();
    showFix();
}

std::array<QWidget*, 4> BearingLogTab::fixFields() const {
    return {form_.Lab_Fix, form_.Ed_Fix, form_.Lab_Fix95, form_.Ed_Fix95};
}

QString BearingLogTab::displayPath(const std::string& path) const { return toQString(fileNameText(path)); }

void BearingLogTab::load() {
    removeStaleTemporaries(path_);  // left by a save that was killed
    std::vector<Bearing> read;
    std::string errors;
    switch (loadBearingCsv(path_, read, errors)) {
        case CsvLoad::Read: model_->replaceLog(std::move(read)); break;
        case CsvLoad::Missing: break;
        case CsvLoad::Bad:
            problem_ = "Cannot read " + fileNameText(path_) + ": " + oneLine(errors) +
                       "; the bearing log will not be saved";
            logMessage(MessageLevel::Error, "Error: %s", problem_.c_str());
            QTimer::singleShot(0, this, [this] { window_.dialogs.warn(toQString(problem_)); });
            note(toQString(problem_), true);
            break;
    }
    dirty_ = false;  // what was read is what the file holds
    saveTimer_->stop();
}

void BearingLogTab::save(bool closing) {
    saveTimer_->stop();
    if (!dirty_ || !problem_.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    if (saveBearingCsv(path_, model_->rows().log())) {
        dirty_ = false;
        saveFailed_ = false;
        return;
    }
    const QString text = "Unable to write to " + displayPath(path_) + ": the bearing log is not saved";
    if (closing) {
        window_.dialogs.inform(text);
    } else if (!saveFailed_) {
        saveFailed_ = true;
        logMessage(MessageLevel::Error, "Error: %s", toCp1252(text).c_str());
        note(text, true);
    }
}

void BearingLogTab::logChanged() {
    dirty_ = true;
    if (!saveTimer_->isActive()) saveTimer_->start();
}

bool BearingLogTab::following() const { return form_.Chk_FollowGps->isChecked(); }

std::array<bool, 2> BearingLogTab::observersShown() const {
    return {window_.bearingGiven[0] && !following(), window_.bearingGiven[1] && !following()};
}

void BearingLogTab::observersChanged(const ObserverTexts& in) {
    model_->setObservers(in, observersShown());
}

void BearingLogTab::bearingGiven(int index, BearingSource source) {
    typing_[index] = false;
    window_.bearingGiven[index] = true;
    if (following()) {
        const std::optional<Bearing> b = pinnedObserverBearing(window_.observerTexts(), static_cast<char>('A' + index),
                                                               QDateTime::currentSecsSinceEpoch(), source);
        if (b) {
            model_->append({*b});
            window_.bearingGiven[index] = false;  // it is in the log now, where it was taken
        }
    }
    observersChanged(window_.observerTexts());
}

void BearingLogTab::finishTyping() {
    for (int i = 0; i < 2; ++i)
        if (typing_[i]) bearingGiven(i, BearingSource::Typed);
}

std::size_t BearingLogTab::append(std::vector<Bearing> bearings, bool skipKnown) {
    std::size_t skipped = 0;
    model_->append(std::move(bearings), skipKnown, &skipped);
    return skipped;
}

void BearingLogTab::showFix() {
    const BearingRows& rows = model_->rows();
    const FixSummary s = fixSummary(rows);
    form_.Lab_Fix->setText(toQString(s.title));
    setText(form_.Ed_Fix, s.place.empty() ? s.position : s.position + ", " + s.place);
    form_.Ed_Fix->setToolTip(toQString(s.leftOut));
    const std::string ellipse95 = s.scaled.empty() ? s.ellipse95 : s.ellipse95 + ", " + s.scaled;
    setText(form_.Ed_Fix95, ellipse95);
    std::string line = s.title + ": " + s.position;
    if (!s.place.empty()) line += ", " + s.place;
    if (rows.fix.status == FixStatus::Found)
        line += ";  50 %: " + formatEllipse(rows.fix.ellipse50) + ";  95 %: " + ellipse95;
    if (!s.leftOut.empty()) line += ";  " + s.leftOut;
    form_.Lab_BearingFix->setText(toQString(line));
    // With the observers alone the fix is X: Numeric Results and the map stay as they were.
    const bool inUse = logShowsOnMap(rows);
    if (form_.Ed_Fix->isHidden() == inUse) {
        for (QWidget* field : fixFields()) field->setHidden(!inUse);
        form_.Lay_ResultsGrid->invalidate();  // a page not shown would keep the row's room
    }
    if (onMap_ || inUse) window_.overlayPending = true;
}

bool BearingLogTab::draw(QPainter& painter, const MapView& view, bool overMarkers) {
    const BearingRows& rows = model_->rows();
    onMap_ = logShowsOnMap(rows);
    if (!onMap_) return false;
    if (overMarkers) {
        drawBestFix(painter, view, rows.fix);
    } else {
        drawBearingLines(painter, view, rows.log(), rows.notBeforeUtc);
    }
    return true;
}

// "only the last N min": a text that is no number of minutes counts all.
void BearingLogTab::takeLastMinutes() {
    model_->setLastMinutes(countedMinutes(form_.Chk_LastMinutes->isChecked(), text(form_.Ed_LastMinutes)));
}

void BearingLogTab::note(const QString& text, bool problem) {
    form_.Lab_BearingProblem->setStyleSheet(problem ? "color: #c00000;" : "");
    form_.Lab_BearingProblem->setText(text);
}

// ---- buttons -----------------------------------------------------------------

void BearingLogTab::addBearing() {
    const BearingRows& rows = model_->rows();
    Bearing b;
    if (rows.logSize() > 0) {  // the next bearing of the same car, most likely
        const Bearing& last = rows.rows.back();
        b.station = last.station;
        b.position = last.position;
        b.toleranceDeg = last.toleranceDeg;
    } else {
        read_position(positionText(form_.Ed_Pos1), b.position);
    }
    if (const GpsFix* own = window_.gps().currentFix()) b.position = own->position();  // taken where the car is
    b.utc = QDateTime::currentSecsSinceEpoch();
    b.bearingDeg = std::nan("");  // to be typed
    b.source = BearingSource::Typed;
    if (!window_.dialogs.editBearing("Add a bearing", &b)) return;
    if (model_->append({std::move(b)}) == 1) {
        note({}, false);
        form_.Tbl_Bearings->scrollToBottom();
    }
}

void BearingLogTab::editBearing() {
    const QModelIndex current = form_.Tbl_Bearings->currentIndex();
    if (!current.isValid()) {
        note("Select the bearing to change.", true);
        return;
    }
    const int row = current.row();
    if (model_->rows().isObserver(static_cast<std::size_t>(row))) {
        note("The bearings of A and B come from the observer fields: change them there.", true);
        return;
    }
    Bearing b = model_->rows().rows[static_cast<std::size_t>(row)];
    if (!window_.dialogs.editBearing("Change a bearing", &b)) return;
    model_->replaceRow(row, std::move(b));
    note({}, false);
}

void BearingLogTab::deleteBearings() {
    std::vector<int> rows;
    for (const QModelIndex& index : form_.Tbl_Bearings->selectionModel()->selectedRows()) rows.push_back(index.row());
    if (model_->removeRows(rows) == 0 && !rows.empty()) {
        note("The bearings of A and B come from the observer fields: empty a field, or untick Use, to leave one out.",
             true);
        return;
    }
    note({}, false);
}

void BearingLogTab::clearBearings() {
    const std::size_t n = model_->rows().logSize();
    if (n == 0) return;
    if (window_.dialogs.ask("Delete the " + countText(n) +
                            " of the bearing log?\n(The bearings of A and B stay with their fields.)") !=
        QMessageBox::Yes)
        return;
    model_->replaceLog({});
    note({}, false);
}

void BearingLogTab::importBearings() {
    QString file;
    if (!window_.dialogs.chooseBearingFile(false, &file)) return;
    const std::string path = fileBytes(file);
    std::vector<Bearing> read;
    std::string errors;
    const CsvLoad load = loadBearingCsv(path, read, errors);
    if (load != CsvLoad::Read) {
        const std::string why = load == CsvLoad::Missing ? std::string("no such file") : oneLine(errors);
        note("Cannot import " + displayPath(path) + ": " + toQString(why), true);
        return;
    }
    if (model_->rows().logSize() > 0) {
        switch (window_.dialogs.ask("The bearing log holds " + countText(model_->rows().logSize()) +
                                    ".\nClear it before importing?\n ( Select 'YES' to replace the log,\n"
                                    "   or 'NO' to add the file's bearings to it)")) {
            case QMessageBox::Yes: model_->replaceLog({}); break;
            case QMessageBox::No: break;
            default: return;
        }
    }
    std::size_t skipped = 0;
    const std::size_t added = model_->append(std::move(read), true, &skipped);
    QString text = countText(added) + " imported from " + displayPath(path);
    if (skipped > 0) text += QString(", %1 already in the table").arg(skipped);
    logMessage(MessageLevel::Info, "%s", toCp1252(text).c_str());
    note(text, false);
}

void BearingLogTab::exportBearings() {
    QString file;
    if (!window_.dialogs.chooseBearingFile(true, &file)) return;
    const std::string path = fileBytes(file);
    // As the fix takes them, so that the file gives the same fix.
    const std::vector<Bearing> rows = rowsAsFitted(model_->rows());
    if (!saveBearingCsv(path, rows)) {
        note("Unable to write to " + displayPath(path), true);
        return;
    }
    note(countText(rows.size()) + " written to " + displayPath(path), false);
}

}  // namespace bearfix
