#include "window_logic/shell_icon.h"

namespace bw {

std::string tipField(const std::string& text) {
    std::size_t length = TrayRecord::kTipField - 1;
    if (text.size() <= length)
        return text;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    return text.substr(0, length);
}

ShellIcon::ShellIcon(TrayBackend& backend, ShellIconEvents& events, WindowHandle hostWindow)
    : backend_(backend), events_(events), hostWindow_(hostWindow) {}

ShellIcon::~ShellIcon() {
    if (iconShown_)
        setTrayIcon(false);
}

void ShellIcon::setToolTipText(const std::string& newToolTipText) {
    tipText_ = newToolTipText;
    record_.tip = tipField(tipText_);
    if (iconShown_)
        backend_.notify(TrayCommand::Modify, record_);
}

void ShellIcon::setIcon(IconHandle newIcon) {
    face_ = newIcon;
    record_.icon = face_;
    if (iconShown_)
        backend_.notify(TrayCommand::Modify, record_);
}

void ShellIcon::setVisible(bool newVisible) {
    wantVisible_ = newVisible;
    setTrayIcon(wantVisible_);
}

void ShellIcon::setTrayIcon(bool show) {
    if (show && !iconShown_) {
        backend_.notify(TrayCommand::Add, record_);
        iconShown_ = true;
    } else if (!show && iconShown_) {
        backend_.notify(TrayCommand::Delete, record_);
        iconShown_ = false;
    }
}

void ShellIcon::showSysMenu(WindowHandle hWnd) {
    backend_.showSystemMenu(hWnd == 0 ? hostWindow_ : hWnd);
}

void ShellIcon::mouseMessage(int value) {
    switch (value) {
        case kMouseMove:
            events_.mouseMove();
            break;
        case kLeftDown:
            events_.mouseDown(1);
            break;
        case kLeftUp:
            events_.mouseUp(1);
            events_.click(1);
            switchMenuTimer(!menuTimerOn_);
            break;
        case kLeftDoubleClick:
            events_.dblClick(1);
            break;
        case kRightDown:
            events_.mouseDown(2);
            break;
        case kRightUp:
            if (showMenu_) {
                showSysMenu(0);
            } else {
                events_.mouseUp(2);
                events_.click(2);
            }
            break;
        case kRightDoubleClick:
            events_.dblClick(2);
            break;
        default:
            break;
    }
}

void ShellIcon::tmrMenuFired() {
    // A tick that was already under way when a button-up switched the timer off.
    if (!menuTimerOn_)
        return;
    switchMenuTimer(false);
    events_.singleClick(1);
}

void ShellIcon::switchMenuTimer(bool on) {
    menuTimerOn_ = on;
    backend_.switchMenuTimer(on);
}

}  // namespace bw
