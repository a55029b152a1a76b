#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <vector>

#include "base/refusal_record.h"

class QTableView;

namespace bw {

// The rows of the recent refusals: a copy of the program's records, oldest
// first as in the log view, brought up to date from the records as they stand
// (the oldest leave at the top, new ones come at the bottom, a repeat counts
// up the last row) so the view keeps its place and selection.
class RefusalsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        kTime,
        kAddress,
        kEntry,
        kProgram,
        kPort,
        kProtocol,
        kDirection,
        kTimes,
        kColumns
    };

    explicit RefusalsModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // True when rows came at the bottom.
    bool follow(const RecentRefusals& records);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void resetTo(const RecentRefusals& records);

    std::vector<RefusalRecord> rows_;
};

// "Recent Refusals": the connections the guard refused or closed lately,
// with the program behind each; shown in the place of the ranges view.
class RefusalsView : public QWidget {
    Q_OBJECT
public:
    explicit RefusalsView(QWidget* parent);

    // Follows the program's records; stays at the newest row when it was there.
    void follow(const RecentRefusals& records);

    QTableView* table() const { return table_; }
    RefusalsModel* model() const { return model_; }

private:
    QTableView* table_ = nullptr;
    RefusalsModel* model_ = nullptr;
};

}  // namespace bw
