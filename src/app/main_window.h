#pragma once

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>

#include "app/twips.h"
#include "base/host.h"
#include "window_logic/shell_icon.h"
#include "window_logic/window_layout.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QTimer;

namespace bw {

class AddRangeDialog;
class CheckAddressDialog;
class BanListModel;
class BanListView;
class ListsView;
class RefusalsView;
class TrayBackendQt;
class WindowCommands;

// frmMain: the program's one window. Its widgets hand what the user does to
// the program, and show the program's state whenever it says it changed.
class MainWindow : public QMainWindow, public Host, private ShellIconEvents {
    Q_OBJECT
public:
    // The log box keeps this many lines, dropping the oldest, so an all-day
    // session stays quick to append to and to scroll.
    static constexpr int kLogLines = 5000;

    // Without a notification area, minimising leaves the window in the task
    // bar instead of hiding it, so the program stays reachable.
    explicit MainWindow(bool trayAvailable);
    ~MainWindow() override;

    void attach(WindowCommands& commands);
    // After the program's load: shows the window unless the settings hid it.
    void showAtStart();

    // Host
    void letPendingEventsRun() override;
    void showMessage(const Message& message) override;
    void clearLog() override;
    void appendLog(std::string_view text) override;
    void banListReset() override;
    void stateChanged() override;
    void waitWithProgress(std::string_view caption, const std::function<bool()>& finished) override;
    void exitNow(int status) override;

    // Lays the widgets out for an outer window size in twips.
    void applyOuterSize(double widthTwips, double heightTwips);
    const TwipScale& scale() const { return scale_; }

    void showStatusView();
    void showRangesView();
    // The subscribed lists, in the place of the ranges view.
    void showListsView();
    ListsView* listsView() const { return listsView_; }
    // The recent refusals with their programs, in the place of the ranges view.
    void showRefusalsView();
    RefusalsView* refusalsView() const { return refusalsView_; }
    void openAddDialog();
    // "Check an address", one at a time; the guard answers through the commands.
    CheckAddressDialog* openCheckDialog();
    void restoreFromTray();

    ShellIcon& shellIcon() { return *shellIcon_; }
    TrayBackendQt& trayBackend() { return *tray_; }
    AddRangeDialog* addDialog() const;

    // For tests: the final exit, without ending.
    void setExitHandler(std::function<void(int)> handler);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void dblClick(int button) override;

    void buildMenus();
    void buildStatusView(QWidget* central);
    void buildRangesView(QWidget* central);
    QWidget* panel(QWidget* parent, const char* name, const TwipBox& box);
    QLabel* label(QWidget* parent, const char* name, const QString& text, const TwipBox& box);
    QCheckBox* checkBox(QWidget* parent, const char* name, const QString& text, bool ticked,
                        const TwipBox& box);
    void connectWidgets();
    void placeLayout();
    void applyOuterFrame();
    void hideToTray();
    // Why the range was not added, for the dialog; empty when it was.
    QString addFromDialog(const QString& profile, const QString& start, const QString& end);
    void bringAddDialogToFront();
    void removeSelected();
    void guardTick();
    void showTimer(bool enabled, int intervalMs);
    void showVisibility(bool visible, unsigned request);
    void showBanner(bool shown, bool guardOn);

    TwipScale scale_;
    bool trayAvailable_;
    WindowCommands* commands_ = nullptr;
    WindowLayout layout_;
    bool started_ = false;
    unsigned lastVisibilityRequest_ = 0;
    bool applyingState_ = false;
    std::function<void(int)> exitHandler_;

    QWidget* statusView_ = nullptr;
    QWidget* rangesView_ = nullptr;
    ListsView* listsView_ = nullptr;
    RefusalsView* refusalsView_ = nullptr;
    QLabel* banner_ = nullptr;
    QLabel* guardOnImage_ = nullptr;
    QLabel* guardOffImage_ = nullptr;
    std::array<QLabel*, 3> counterLabels_{};
    QWidget* blockingPanel_ = nullptr;
    QWidget* fullLogPanel_ = nullptr;
    QWidget* startHiddenPanel_ = nullptr;
    QCheckBox* startHiddenBox_ = nullptr;
    QCheckBox* blockingBox_ = nullptr;
    QCheckBox* fullLogBox_ = nullptr;
    QSlider* aggressionSlider_ = nullptr;
    QLabel* aggressionLabel_ = nullptr;
    QPlainTextEdit* logView_ = nullptr;
    QWidget* buttonBar_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    BanListView* banList_ = nullptr;
    BanListModel* model_ = nullptr;
    QTimer* guardTimer_ = nullptr;
    QPointer<AddRangeDialog> addRangeDialog_;
    QPointer<CheckAddressDialog> checkDialog_;
    TrayBackendQt* tray_ = nullptr;
    std::unique_ptr<ShellIcon> shellIcon_;
};

}  // namespace bw
