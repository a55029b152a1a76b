#include "app/tray_backend.h"

#include <QCursor>
#include <QWidget>

#include "app/qt_text.h"

namespace bw {

TrayBackendQt::TrayBackendQt(QWidget& window, const QIcon& programIcon)
    : QObject(&window), window_(window), programIcon_(programIcon) {
    menuTimer_.setSingleShot(true);
    menuTimer_.setInterval(ShellIcon::kMenuTimerMs);
    connect(&menuTimer_, &QTimer::timeout, this, [this] {
        if (icon_)
            icon_->tmrMenuFired();
    });
    connect(&tray_, &QSystemTrayIcon::activated, this, &TrayBackendQt::activated);
}

void TrayBackendQt::notify(TrayCommand command, const TrayRecord& record) {
    if (command == TrayCommand::Delete) {
        tray_.hide();
        return;
    }
    tray_.setIcon(record.icon == kProgramIcon ? programIcon_ : QIcon());
    tray_.setToolTip(textFromBytes(record.tip));
    if (command == TrayCommand::Add)
        tray_.show();
}

// Qt reports whole clicks; the shell reported their halves. A double click
// ends with a button-up of its own, which switches the single-click timer
// that the first click started off again.
void TrayBackendQt::activated(QSystemTrayIcon::ActivationReason reason) {
    if (!icon_)
        return;
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            icon_->mouseMessage(ShellIcon::kLeftDown);
            icon_->mouseMessage(ShellIcon::kLeftUp);
            break;
        case QSystemTrayIcon::DoubleClick:
            icon_->mouseMessage(ShellIcon::kLeftDoubleClick);
            icon_->mouseMessage(ShellIcon::kLeftUp);
            break;
        case QSystemTrayIcon::Context:
            icon_->mouseMessage(ShellIcon::kRightDown);
            icon_->mouseMessage(ShellIcon::kRightUp);
            break;
        default:
            break;
    }
}

void TrayBackendQt::switchMenuTimer(bool on) {
    if (on) {
        menuTimer_.start();
    } else {
        menuTimer_.stop();
    }
}

void TrayBackendQt::showSystemMenu(WindowHandle /*window*/) {
    if (!menu_) {
        menu_ = new QMenu(&window_);
        menu_->setObjectName(QStringLiteral("SystemMenu"));
    }
    fillSystemMenu();
    menu_->popup(QCursor::pos());
}

void TrayBackendQt::fillSystemMenu() {
    menu_->clear();
    const bool shown = window_.isVisible() && !window_.isMinimized();
    QAction* restore = menu_->addAction(tr("&Restore"), this, [this] { emit restoreRequested(); });
    restore->setEnabled(!shown || window_.isMaximized());
    QAction* minimize = menu_->addAction(tr("Mi&nimize"), &window_, &QWidget::showMinimized);
    minimize->setEnabled(shown);
    QAction* maximize = menu_->addAction(tr("Ma&ximize"), &window_, &QWidget::showMaximized);
    maximize->setEnabled(!window_.isMaximized());
    menu_->addSeparator();
    menu_->addAction(tr("&Close"), &window_, &QWidget::close);
}

}  // namespace bw
