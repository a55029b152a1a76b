#pragma once

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "maintenance/list_subscriptions.h"
#include "platform/lifelines.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace bw {

class ListKeeper;

// Adds or edits one subscribed list: name, source (address or file), mode,
// interval, on/off, and whether it may ban more than half of the public IPv4
// space. When editing, the name stays.
class ListDialog : public QDialog {
    Q_OBJECT
public:
    ListDialog(QWidget* parent, const Subscription& shown, bool editing);
    Subscription subscription() const;

private:
    void browse();

    QLineEdit* name_ = nullptr;
    QLineEdit* source_ = nullptr;
    QComboBox* mode_ = nullptr;
    QSpinBox* hours_ = nullptr;
    QCheckBox* enabled_ = nullptr;
    QCheckBox* wide_ = nullptr;
};

// The "Lists" view: one row per subscribed list and the commands on them.
// Updates run in the background; the rows follow them from the guard's timer.
class ListsView : public QWidget {
    Q_OBJECT
public:
    enum Column { kOn, kName, kMode, kSource, kRanges, kShare, kLastUpdate, kStatus, kColumns };

    explicit ListsView(QWidget* parent);
    // The guard follows what the view changes from its own timer, through the
    // keeper, as it follows an update or another copy's change.
    void attach(ListKeeper* keeper);

    // Where the view finds the lifelines it lists under the table.
    void showLifelines(std::function<std::vector<Lifeline>()> lifelines);

    void refresh();
    // From the guard's timer: follows updates under way, and their end.
    void followUpdates();

    ListDialog* openAddDialog();
    ListDialog* openEditDialog();
    void removeSelected();
    void updateSelected();

    QTableWidget* table() const { return table_; }
    QString problem() const;
    QString lifelinesText() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitNameColumn();
    std::string selectedName() const;
    void applied(const std::string& problem);
    void switchToggled(int row, bool on);
    void forgetWhenDone(ListDialog* dialog);

    ListKeeper* keeper_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* problem_ = nullptr;
    QLabel* lifelines_ = nullptr;
    std::function<std::vector<Lifeline>()> lifelineSource_;
    QPointer<ListDialog> dialog_;
    bool filling_ = false;
    bool wasUpdating_ = false;
};

}  // namespace bw
