#include "app/ban_list_model.h"

#include "app/qt_text.h"

namespace bw {

void BanListModel::setTable(const BanTable* table) {
    beginResetModel();
    table_ = table;
    rows_ = table_ ? table_->rows() : 0;
    endResetModel();
}

void BanListModel::reset() {
    beginResetModel();
    rows_ = table_ ? table_->rows() : 0;
    endResetModel();
}

EntryRef BanListModel::entryAt(int row) const {
    // Rows shown before entries were added may now name other entries.
    if (!table_ || rows_ != table_->rows())
        return {BanTable::kBuckets, 0};
    return table_->refAtRow(static_cast<std::size_t>(row));
}

int BanListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !table_)
        return 0;
    return static_cast<int>(rows_);
}

QVariant BanListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !table_ || !index.isValid() || index.row() >= rowCount() ||
        static_cast<std::size_t>(index.row()) >= table_->rows()) {
        return {};
    }
    // Between an import's refreshes the row may show an entry that moved up to
    // it; the next refresh puts every row right.
    return textFromBytes(table_->at(table_->refAtRow(static_cast<std::size_t>(index.row()))).text);
}

}  // namespace bw
