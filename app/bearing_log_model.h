// The rows of the Bearings tab as a table model: the observer bearings and
// the bearing log with their residuals, outliers in red. Every change redoes
// the fix once and tells the views in one signal, however many rows it
// touched, so that ten thousand rows stay quick.
#pragma once

#include <QAbstractTableModel>
#include <array>
#include <vector>

#include "session/bearing_rows.h"

namespace bearfix {

class BearingLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit BearingLogModel(QObject* parent = nullptr);

    const BearingRows& rows() const { return r_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The observer rows follow the fields (of the observers `shown` holds
    // true for); nothing is redone when they stay.
    void setObservers(const ObserverTexts& in, std::array<bool, 2> shown = {true, true});
    // Appends to the log what bearingsToAppend keeps; their number.
    std::size_t append(std::vector<Bearing> bearings, bool skipKnown = false, std::size_t* skipped = nullptr);
    // The log becomes `bearings` (as much as it holds).
    void replaceLog(std::vector<Bearing> bearings);
    // Row `row` (of the log) becomes `bearing`.
    void replaceRow(int row, Bearing bearing);
    // Removes the log rows among `rows`; observer rows stay. Their number.
    int removeRows(std::vector<int> rows);
    void setRobust(bool robust);
    // Only the bearings of the last `minutes` take part in the fix; 0: all.
    void setLastMinutes(double minutes);

signals:
    // After every change of the fix (and of the rows).
    void fixChanged();
    // After a change of the log (not of the observer rows), before fixChanged.
    void logChanged();
    // An edit that was not taken, and why.
    void rejected(const QString& why);

private:
    void refitAll(bool logChanged);

    BearingRows r_;
    std::vector<int> colourSlots_;  // of the log rows, as the map colours their lines
};

}  // namespace bearfix
