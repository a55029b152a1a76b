#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include "window_logic/shell_icon.h"

namespace bw {

// The notification-area icon on this desktop: a QSystemTrayIcon whose
// activations are handed to the ShellIcon as the shell's mouse messages, and
// a menu of the window's own commands in place of a system menu.
class TrayBackendQt : public QObject, public TrayBackend {
    Q_OBJECT
public:
    static constexpr IconHandle kProgramIcon = 1;

    TrayBackendQt(QWidget& window, const QIcon& programIcon);

    void attach(ShellIcon& icon) { icon_ = &icon; }

    void notify(TrayCommand command, const TrayRecord& record) override;
    void showSystemMenu(WindowHandle window) override;
    void switchMenuTimer(bool on) override;

    // The activation as the shell would have reported it.
    void activated(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon& trayIcon() { return tray_; }
    // The menu last shown, for inspection.
    QMenu* systemMenu() { return menu_; }

signals:
    void restoreRequested();

private:
    void fillSystemMenu();

    QWidget& window_;
    QIcon programIcon_;
    QSystemTrayIcon tray_;
    QTimer menuTimer_;
    QPointer<QMenu> menu_;
    ShellIcon* icon_ = nullptr;
};

}  // namespace bw
