#include "app/bearing_log_model.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <algorithm>

#include "geo/position_patterns.h"
#include "map/bearing_log_overlay.h"
#include "map/qt_convert.h"

namespace bearfix {

namespace {

constexpr int kColumns = static_cast<int>(BearingColumn::Count);

const QColor kOutlierText(160, 0, 0);
const QColor kOutlierBackground(255, 205, 205);
const QColor kObserverBackground(232, 238, 238);
const QColor kAgedText(150, 150, 150);

BearingColumn columnOf(const QModelIndex& index) { return static_cast<BearingColumn>(index.column()); }

bool isNumeric(BearingColumn c) {
    return c == BearingColumn::Bearing || c == BearingColumn::Tolerance || c == BearingColumn::Residual;
}

}  // namespace

BearingLogModel::BearingLogModel(QObject* parent) : QAbstractTableModel(parent) { refit(r_); }

int BearingLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(r_.rows.size());
}

int BearingLogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant BearingLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    const BearingColumn column = columnOf(index);
    // Between a change of the rows and its fix a view may ask: the old fit
    // does not reach the new rows.
    const bool leftOut = r_.isLeftOut(row);
    const bool outlier =
        leftOut || (r_.fix.status == FixStatus::Found && row < r_.fix.fits.size() && r_.fix.fits[row].outlier);
    switch (role) {
        case Qt::DisplayRole:
            if (column == BearingColumn::Use) return {};
            return toQString(cellText(r_, row, column));
        case Qt::EditRole: return toQString(cellText(r_, row, column, true));
        case Qt::DecorationRole:
            if (column != BearingColumn::Station || r_.isObserver(row)) return {};
            if (row - static_cast<std::size_t>(r_.observers) >= colourSlots_.size()) return {};
            return stationColour(colourSlots_[row - static_cast<std::size_t>(r_.observers)]);
        case Qt::CheckStateRole:
            if (column != BearingColumn::Use) return {};
            return r_.rows[row].enabled ? Qt::Checked : Qt::Unchecked;
        case Qt::ForegroundRole:
            if (outlier) return QBrush(kOutlierText);
            if (r_.isAgedOut(row)) return QBrush(kAgedText);
            return {};
        case Qt::BackgroundRole:
            if (outlier) return QBrush(kOutlierBackground);
            if (r_.isObserver(row)) return QBrush(kObserverBackground);
            return {};
        case Qt::FontRole:
            if (r_.isObserver(row)) {
                QFont font;
                font.setItalic(true);
                return font;
            }
            return {};
        case Qt::TextAlignmentRole:
            return isNumeric(column) ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
        case Qt::ToolTipRole:
            if (leftOut)
                return QString("left out of the fix: with it, %1").arg(fixStatusReason(r_.withObservers));
            if (outlier) return QString("an outlier: more than three standard deviations from the fix of the others");
            if (r_.isAgedOut(row)) return QString("older than the last minutes that count: left out of the fix");
            if (r_.isObserver(row)) return QString("from the observer fields of %1: change it there").arg(QChar(r_.letters[row]));
            return {};
        default: return {};
    }
}

QVariant BearingLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    static const char* const kTitles[kColumns] = {"Station", "Time (UTC)", "Position", "Bearing °",
                                                  "± °",     "Source",     "Residual °", "Use"};
    return section >= 0 && section < kColumns ? QString(kTitles[section]) : QVariant();
}

Qt::ItemFlags BearingLogModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const BearingColumn column = columnOf(index);
    if (column == BearingColumn::Use) return f | Qt::ItemIsUserCheckable;
    if (!r_.isObserver(static_cast<std::size_t>(index.row())) && column < BearingColumn::Source)
        f |= Qt::ItemIsEditable;
    return f;
}

bool BearingLogModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() >= rowCount()) return false;
    const auto row = static_cast<std::size_t>(index.row());
    const BearingColumn column = columnOf(index);
    std::string text, why;
    if (role == Qt::CheckStateRole && column == BearingColumn::Use) {
        text.push_back(value.toInt() == Qt::Checked ? '1' : '0');
    } else if (role == Qt::EditRole && column != BearingColumn::Use) {
        // Pasted primes, which Windows-1252 lacks, as the observer fields take them.
        text = column == BearingColumn::Position
                   ? position_text_from_utf8(value.toString().toStdString())
                   : toCp1252(value.toString());
        if (text == cellText(r_, row, column, true)) return true;  // opened and left as it was
    } else {
        return false;
    }
    if (!editCell(r_, row, column, text, why)) {
        if (!why.empty()) emit rejected(toQString(why));
        return false;
    }
    refitAll(!r_.isObserver(row));
    return true;
}

void BearingLogModel::setObservers(const ObserverTexts& in, std::array<bool, 2> shown) {
    r_.observerGiven[0] = shown[0];
    r_.observerGiven[1] = shown[1];
    char letters[2] = {0, 0};
    const bool sameCount = observerBearings(in, letters, shown.data()).size() == static_cast<std::size_t>(r_.observers);
    if (!sameCount) beginResetModel();
    const bool changed = setObserverRows(r_, in);
    if (!sameCount) endResetModel();
    if (changed) refitAll(false);
}

std::size_t BearingLogModel::append(std::vector<Bearing> bearings, bool skipKnown, std::size_t* skipped) {
    std::vector<Bearing> fresh = bearingsToAppend(r_, std::move(bearings), skipKnown, skipped);
    if (fresh.empty()) return 0;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(fresh.size()) - 1);
    r_.rows.insert(r_.rows.end(), std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
    endInsertRows();
    refitAll(true);
    return fresh.size();
}

void BearingLogModel::replaceLog(std::vector<Bearing> bearings) {
    beginResetModel();
    r_.rows.resize(static_cast<std::size_t>(r_.observers));
    std::vector<Bearing> fresh = bearingsToAppend(r_, std::move(bearings), false);
    r_.rows.insert(r_.rows.end(), std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
    endResetModel();
    refitAll(true);
}

void BearingLogModel::replaceRow(int row, Bearing bearing) {
    if (row < r_.observers || row >= rowCount()) return;
    r_.rows[static_cast<std::size_t>(row)] = std::move(bearing);
    refitAll(true);
}

int BearingLogModel::removeRows(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::erase_if(rows, [this](int row) { return row < r_.observers || row >= rowCount(); });
    if (rows.empty()) return 0;
    // From the end, a run of neighbouring rows at a time.
    for (std::size_t end = rows.size(); end > 0;) {
        std::size_t start = end - 1;
        while (start > 0 && rows[start - 1] == rows[start] - 1) --start;
        beginRemoveRows({}, rows[start], rows[end - 1]);
        r_.rows.erase(r_.rows.begin() + rows[start], r_.rows.begin() + rows[end - 1] + 1);
        endRemoveRows();
        end = start;
    }
    refitAll(true);
    return static_cast<int>(rows.size());
}

void BearingLogModel::setRobust(bool robust) {
    if (robust == r_.robust) return;
    r_.robust = robust;
    refitAll(false);
}

void BearingLogModel::setLastMinutes(double minutes) {
    if (minutes == r_.lastMinutes) return;
    r_.lastMinutes = minutes;
    refitAll(false);
}

void BearingLogModel::refitAll(bool logChanged) {
    refit(r_);
    colourSlots_ = stationColourSlots(r_.log());
    if (logChanged) emit this->logChanged();
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
    emit fixChanged();
}

}  // namespace bearfix
