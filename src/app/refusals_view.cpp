#include "app/refusals_view.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include "app/qt_text.h"
#include "guard/refusal_text.h"
#include "platform/ip_address.h"

namespace bw {

bool RefusalsModel::follow(const RecentRefusals& records) {
    if (records.empty() || rows_.empty()) {
        if (!records.empty() || !rows_.empty())
            resetTo(records);
        return !records.empty();
    }
    // Serials run without gaps from the oldest record to the newest.
    const std::uint64_t oldest = records.front().serial;
    const std::uint64_t lastShown = rows_.back().serial;
    if (lastShown < oldest || lastShown > records.back().serial ||
        records[lastShown - oldest].serial != lastShown) {
        resetTo(records);
        return true;
    }
    std::size_t gone = 0;
    while (gone < rows_.size() && rows_[gone].serial < oldest) ++gone;
    if (gone > 0) {
        beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(gone));
        endRemoveRows();
    }
    const std::size_t at = lastShown - oldest;
    if (records[at].times != rows_.back().times) {
        rows_.back() = records[at];
        const int row = static_cast<int>(rows_.size()) - 1;
        emit dataChanged(index(row, 0), index(row, kColumns - 1));
    }
    if (at + 1 == records.size())
        return false;
    beginInsertRows({}, static_cast<int>(rows_.size()),
                    static_cast<int>(rows_.size() + records.size() - at - 2));
    rows_.insert(rows_.end(), records.begin() + static_cast<std::ptrdiff_t>(at + 1), records.end());
    endInsertRows();
    return true;
}

void RefusalsModel::resetTo(const RecentRefusals& records) {
    beginResetModel();
    rows_.assign(records.begin(), records.end());
    endResetModel();
}

int RefusalsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RefusalsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant RefusalsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()))
        return {};
    const RefusalRecord& r = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::TextAlignmentRole && (index.column() == kPort || index.column() == kTimes))
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
        case kTime:
            return textFromBytes(r.time);
        case kAddress:
            return textFromBytes(ipAddressText(r.address));
        case kEntry:
            return textFromBytes(r.entry);
        case kProgram:
            return textFromBytes(programText(r));
        case kPort:
            return static_cast<int>(r.port);
        case kProtocol:
            return textFromBytes(protocolName(r.protocol));
        case kDirection:
            return textFromBytes(directionText(r.direction));
        case kTimes:
            return QVariant::fromValue(r.times);
        default:
            return {};
    }
}

QVariant RefusalsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
        case kTime:
            return tr("Time");
        case kAddress:
            return tr("Address");
        case kEntry:
            return tr("Entry [list]");
        case kProgram:
            return tr("Program");
        case kPort:
            return tr("Port");
        case kProtocol:
            return tr("Protocol");
        case kDirection:
            return tr("Direction");
        case kTimes:
            return tr("Times in a row");
        default:
            return {};
    }
}

RefusalsView::RefusalsView(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);  // opaque, like the views it takes the place of
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("refusalsTable"));
    model_ = new RefusalsModel(this);
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_);
}

void RefusalsView::follow(const RecentRefusals& records) {
    QScrollBar* bar = table_->verticalScrollBar();
    const bool atNewest = bar->value() == bar->maximum();
    if (model_->follow(records) && atNewest)
        table_->scrollToBottom();
}

}  // namespace bw
