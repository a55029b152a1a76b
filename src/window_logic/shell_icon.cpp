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
    if (IconShown)
        SetTrayIcon(false);
}

void ShellIcon::setToolTipText(const std::string& New_ToolTipText) {
    TipText = New_ToolTipText;
    record_.tip = tipField(TipText);
    if (IconShown)
        backend_.notify(TrayCommand::Modify, record_);
}

void ShellIcon::setIcon(IconHandle New_Icon) {
    face = New_Icon;
    record_.icon = face;
    if (IconShown)
        backend_.notify(TrayCommand::Modify, record_);
}

void ShellIcon::setVisible(bool New_Visible) {
    WantVisible = New_Visible;
    SetTrayIcon(WantVisible);
}

void ShellIcon::SetTrayIcon(bool show) {
    if (show && !IconShown) {
        backend_.notify(TrayCommand::Add, record_);
        IconShown = true;
    } else if (!show && IconShown) {
        backend_.notify(TrayCommand::Delete, record_);
        IconShown = false;
    }
}

void ShellIcon::ShowSysMenu(WindowHandle hWnd) {
    backend_.showSystemMenu(hWnd == 0 ? hostWindow_ : hWnd);
}

void ShellIcon::mouseMessage(int value) {
    switch (value) {
        case kMouseMove:
            events_.MouseMove();
            break;
        case kLeftDown:
            events_.MouseDown(1);
            break;
        case kLeftUp:
            events_.MouseUp(1);
            events_.Click(1);
            switchMenuTimer(!menuTimerOn_);
            break;
        case kLeftDoubleClick:
            events_.DblClick(1);
            break;
        case kRightDown:
            events_.MouseDown(2);
            break;
        case kRightUp:
            if (ShowMenu) {
                ShowSysMenu(0);
            } else {
                events_.MouseUp(2);
                events_.Click(2);
            }
            break;
        case kRightDoubleClick:
            events_.DblClick(2);
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
    events_.SingleClick(1);
}

void ShellIcon::switchMenuTimer(bool on) {
    menuTimerOn_ = on;
    backend_.switchMenuTimer(on);
}

}  // namespace bw
