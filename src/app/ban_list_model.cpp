#include "app/ban_list_model.h"

#include "app/qt_text.h"

namespace bw {

void BanListModel::setTable(const BanTable* table) {
    beginResetModel();
    table_ = table;
    endResetModel();
}

void BanListModel::reset() {
    beginResetModel();
    endResetModel();
}

EntryRef BanListModel::entryAt(int row) const {
    return table_->refAtRow(static_cast<std::size_t>(row));
}

int BanListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !table_)
        return 0;
    return static_cast<int>(table_->size());
}

QVariant BanListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !table_ || !index.isValid() || index.row() >= rowCount())
        return {};
    return textFromBytes(table_->at(entryAt(index.row())).text);
}

}  // namespace bw
