#pragma once

#include <QAbstractListModel>

#include "blocklist/ban_table.h"

namespace bw {

// The rows of List1: the ban table's lines in table order, read straight
// from the table when the view asks for them. The number of rows is the one of
// the last reset: an import adds entries between its throttled refreshes, and
// the view must not see rows it was never told about.
class BanListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit BanListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

    void setTable(const BanTable* table);
    // The table changed: every row afresh, no row selected.
    void reset();
    EntryRef entryAt(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    const BanTable* table_ = nullptr;
    std::size_t rows_ = 0;
};

}  // namespace bw
