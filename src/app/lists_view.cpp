#include "app/lists_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QSpinBox>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/qt_text.h"
#include "blocklist/public_space.h"
#include "maintenance/list_keeper.h"

namespace bw {

ListDialog::ListDialog(QWidget* parent, const Subscription& shown, bool editing) : QDialog(parent) {
    setObjectName(QStringLiteral("listDialog"));
    setWindowTitle(editing ? tr("Edit list") : tr("Add list"));
    name_ = new QLineEdit(textFromBytes(shown.name), this);
    name_->setObjectName(QStringLiteral("listName"));
    name_->setReadOnly(editing);
    source_ = new QLineEdit(textFromBytes(shown.source), this);
    source_->setObjectName(QStringLiteral("listSource"));
    source_->setPlaceholderText(tr("https://... or a file"));
    auto* browse = new QPushButton(tr("File..."), this);
    browse->setObjectName(QStringLiteral("listBrowse"));
    connect(browse, &QPushButton::clicked, this, &ListDialog::browse);
    auto* sourceRow = new QHBoxLayout;
    sourceRow->addWidget(source_);
    sourceRow->addWidget(browse);
    mode_ = new QComboBox(this);
    mode_->setObjectName(QStringLiteral("listMode"));
    mode_->addItems({tr("Block"), tr("Allow")});
    mode_->setCurrentIndex(shown.mode == ListMode::Allow ? 1 : 0);
    hours_ = new QSpinBox(this);
    hours_->setObjectName(QStringLiteral("listHours"));
    hours_->setRange(1, 24 * 365);
    hours_->setSuffix(tr(" h"));
    hours_->setValue(shown.intervalHours);
    enabled_ = new QCheckBox(tr("On"), this);
    enabled_->setObjectName(QStringLiteral("listOn"));
    enabled_->setChecked(shown.enabled);
    wide_ = new QCheckBox(tr("May ban more than half of the public IPv4 space"), this);
    wide_->setObjectName(QStringLiteral("listWide"));
    wide_->setChecked(shown.wide);

    auto* form = new QFormLayout;
    form->addRow(tr("Name"), name_);
    form->addRow(tr("Source"), sourceRow);
    form->addRow(tr("Mode"), mode_);
    form->addRow(tr("Update every"), hours_);
    form->addRow(QString(), enabled_);
    form->addRow(QString(), wide_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

Subscription ListDialog::subscription() const {
    Subscription s;
    s.name = bytesFromText(name_->text().trimmed());
    s.source = bytesFromText(source_->text().trimmed());
    s.mode = mode_->currentIndex() == 1 ? ListMode::Allow : ListMode::Block;
    s.intervalHours = hours_->value();
    s.enabled = enabled_->isChecked();
    s.wide = wide_->isChecked();
    return s;
}

void ListDialog::browse() {
    QString file = QFileDialog::getOpenFileName(this, tr("List file"));
    if (!file.isEmpty())
        source_->setText(file);
}

namespace {

// "2026-12-05 21:41 UTC" on two lines, the date over the time: the column
// stays narrow enough for the source and the status beside it.
class DateOverTime : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale& locale) const override {
        QString text = QStyledItemDelegate::displayText(value, locale);
        const qsizetype space = text.indexOf(QLatin1Char(' '));
        if (space > 0)
            text[space] = QChar::LineSeparator;
        return text;
    }
};

}  // namespace

ListsView::ListsView(QWidget* parent) : QWidget(parent) {
    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("listsTable"));
    table_->setHorizontalHeaderLabels({tr("On"), tr("Name"), tr("Mode"), tr("Source"), tr("Ranges"),
                                       tr("Share"), tr("Last update"), tr("Status")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    // Whether a list works (its ranges, last update and status) shows at the
    // window's own size: the short columns take what they need, the source and
    // the status share the rest, cut in the middle, whole in their tooltips.
    table_->setTextElideMode(Qt::ElideMiddle);
    table_->setWordWrap(false);
    table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    QHeaderView* header = table_->horizontalHeader();
    header->setMinimumSectionSize(8);
    header->setStretchLastSection(false);
    for (Column column : {kOn, kMode, kRanges, kShare, kLastUpdate})
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(kName, QHeaderView::Interactive);
    header->setSectionResizeMode(kSource, QHeaderView::Stretch);
    header->setSectionResizeMode(kStatus, QHeaderView::Stretch);
    // The share of the public space is told in the ranges' tooltip instead.
    table_->setColumnHidden(kShare, true);
    table_->setItemDelegateForColumn(kLastUpdate, new DateOverTime(table_));
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!filling_ && item->column() == kOn)
            switchToggled(item->row(), item->checkState() == Qt::Checked);
    });

    auto button = [this](const char* name, const QString& caption, auto action) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        connect(b, &QPushButton::clicked, this, action);
        return b;
    };
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(button("listAdd", tr("Add..."), [this] { openAddDialog(); }));
    buttons->addWidget(button("listEdit", tr("Edit..."), [this] { openEditDialog(); }));
    buttons->addWidget(button("listRemove", tr("Remove"), [this] { removeSelected(); }));
    buttons->addWidget(button("listUpdate", tr("Update now"), [this] { updateSelected(); }));
    buttons->addStretch();
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("listProblem"));
    problem_->setWordWrap(true);

    lifelines_ = new QLabel(this);
    lifelines_->setObjectName(QStringLiteral("listLifelines"));
    lifelines_->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table_);
    layout->addLayout(buttons);
    layout->addWidget(problem_);
    layout->addWidget(lifelines_);
}

void ListsView::attach(ListKeeper* keeper) {
    keeper_ = keeper;
    refresh();
}

QString ListsView::problem() const {
    return problem_->text();
}

QString ListsView::lifelinesText() const {
    return lifelines_->text();
}

void ListsView::showLifelines(std::function<std::vector<Lifeline>()> lifelines) {
    lifelineSource_ = std::move(lifelines);
    refresh();
}

namespace {

QString statusText(const Subscription& list, bool updating) {
    if (updating)
        return QObject::tr("updating...");
    if (!list.lastError.empty())
        return QObject::tr("Error: %1").arg(textFromBytes(list.lastError));
    return QObject::tr("OK");
}

}  // namespace

void ListsView::refresh() {
    if (!keeper_)
        return;
    const std::string selected = selectedName();
    filling_ = true;
    const auto& lists = keeper_->subscriptions();
    table_->setRowCount(static_cast<int>(lists.size()));
    for (int row = 0; row < static_cast<int>(lists.size()); ++row) {
        const Subscription& list = lists[static_cast<std::size_t>(row)];
        auto* on = new QTableWidgetItem;
        on->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        on->setCheckState(list.enabled ? Qt::Checked : Qt::Unchecked);
        table_->setItem(row, kOn, on);
        auto text = [&](Column column, const QString& value) {
            auto* item = new QTableWidgetItem(value);
            item->setToolTip(value);
            table_->setItem(row, column, item);
        };
        text(kName, textFromBytes(list.name));
        text(kMode, list.mode == ListMode::Allow ? tr("allow") : tr("block"));
        text(kSource, list.source.empty() ? tr("(kept here)") : textFromBytes(list.source));
        // Per family, a line each, once a list holds IPv6 ranges (narrow enough to
        // leave the status in view); an IPv4 list shows as it did.
        QString ranges = list.ranges6 == 0
                             ? QString::number(list.ranges)
                             : tr("%1 IPv4\n%2 IPv6").arg(list.ranges).arg(list.ranges6);
        if (list.failedLines > 0)
            ranges += tr(" (%1 lines skipped)").arg(list.failedLines);
        QString share = QString::fromStdString(publicPercentText(list.publicAddresses));
        if (list.wide)
            share += tr(" (wide)");
        text(kShare, share);
        text(kRanges, ranges);
        table_->item(row, kRanges)
            ->setToolTip(tr("%1 ranges, %2 of the public IPv4 space").arg(ranges, share));
        text(kLastUpdate, QString::fromStdString(formatUtc(list.lastUpdate)));
        text(kStatus, statusText(list, keeper_->updating(list.name)));
        if (list.name == selected)
            table_->selectRow(row);
    }
    filling_ = false;
    fitNameColumn();
    QStringList lines;
    if (lifelineSource_) {
        for (const Lifeline& lifeline : lifelineSource_()) {
            lines << tr("Never banned: %1 (%2)")
                         .arg(QString::fromStdString(ipAddressText(lifeline.address)),
                              textFromBytes(lifeline.what));
        }
    }
    lifelines_->setText(lines.join(QLatin1Char('\n')));
}

// The name takes what it needs, but never more than a fifth of the view: the
// source and the status need the room more.
void ListsView::fitNameColumn() {
    table_->resizeColumnToContents(kName);
    const int most = std::max(table_->viewport()->width() / 5, 60);
    if (table_->columnWidth(kName) > most)
        table_->setColumnWidth(kName, most);
}

void ListsView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitNameColumn();
}

void ListsView::followUpdates() {
    if (!keeper_)
        return;
    const bool updating = keeper_->updating();
    if (updating || wasUpdating_)
        refresh();
    wasUpdating_ = updating;
}

std::string ListsView::selectedName() const {
    const int row = table_->currentRow();
    if (row < 0 || !table_->item(row, kName))
        return {};
    return bytesFromText(table_->item(row, kName)->text());
}

void ListsView::applied(const std::string& problem) {
    problem_->setText(textFromBytes(problem));
    refresh();
}

void ListsView::switchToggled(int row, bool on) {
    if (!keeper_ || !table_->item(row, kName))
        return;
    applied(keeper_->setEnabled(bytesFromText(table_->item(row, kName)->text()), on));
}

// A closed dialog is gone at once for the view, so the next one can open
// before the event loop has deleted it.
void ListsView::forgetWhenDone(ListDialog* dialog) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this, [this] { dialog_ = nullptr; });
}

ListDialog* ListsView::openAddDialog() {
    if (!keeper_ || dialog_)
        return dialog_;
    dialog_ = new ListDialog(this, Subscription{}, false);
    forgetWhenDone(dialog_);
    connect(dialog_, &QDialog::accepted, this, [this, dialog = dialog_] {
        Subscription list = dialog->subscription();
        std::string problem = keeper_->add(list);
        if (problem.empty())
            keeper_->updateNow(list.name);
        applied(problem);
        wasUpdating_ = wasUpdating_ || problem.empty();
    });
    dialog_->open();
    return dialog_;
}

ListDialog* ListsView::openEditDialog() {
    const std::string name = selectedName();
    if (!keeper_ || dialog_ || name.empty())
        return dialog_;
    for (const Subscription& list : keeper_->subscriptions()) {
        if (list.name == name)
            dialog_ = new ListDialog(this, list, true);
    }
    if (!dialog_)
        return nullptr;
    forgetWhenDone(dialog_);
    connect(dialog_, &QDialog::accepted, this, [this, name, dialog = dialog_] {
        applied(keeper_->edit(name, dialog->subscription()));
    });
    dialog_->open();
    return dialog_;
}

void ListsView::removeSelected() {
    const std::string name = selectedName();
    if (keeper_ && !name.empty())
        applied(keeper_->remove(name));
}

void ListsView::updateSelected() {
    const std::string name = selectedName();
    if (!keeper_ || name.empty())
        return;
    keeper_->updateNow(name);
    // A local file is read on a worker too: the update shows as under way
    // until the guard's timer carries it in.
    applied({});
    wasUpdating_ = true;
}

}  // namespace bw
