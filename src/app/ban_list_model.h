#pragma once

#include <QAbstractListModel>

#include "blocklist/ban_table.h"

namespace bw {

// The rows of List1: the ban table's lines in table order, read straight
// from the table when the view asks for them.
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
};

}  // namespace bw
