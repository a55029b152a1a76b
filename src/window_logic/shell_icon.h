#pragma once

#include <cstdint>
#include <string>

namespace bw {

using IconHandle = std::uintptr_t;    // opaque: what the platform side draws
using WindowHandle = std::uintptr_t;  // opaque: 0 is the window hosting the icon

enum class TrayCommand { Add = 0, Modify = 1, Delete = 2 };

// What is sent to the notification area with every command.
struct TrayRecord {
    static constexpr std::size_t kTipField = 64;  // the tip and its terminator
    std::uint32_t id = 1;
    std::string tip;
    IconHandle icon = 0;
};

// The platform side of the notification-area icon.
class TrayBackend {
public:
    virtual ~TrayBackend() = default;
    virtual void notify(TrayCommand command, const TrayRecord& record) = 0;
    // Pops up the window's menu of its own commands at the cursor.
    virtual void showSystemMenu(WindowHandle window) = 0;
    // Starts or stops the single-click timer; when it runs out the platform
    // side calls ShellIcon::tmrMenuFired().
    virtual void switchMenuTimer(bool on) = 0;
};

// What the icon raises; Button is 1 for the left and 2 for the right button.
class ShellIconEvents {
public:
    virtual ~ShellIconEvents() = default;
    virtual void mouseMove() {}
    virtual void mouseDown(int /*Button*/) {}
    virtual void mouseUp(int /*Button*/) {}
    virtual void dblClick(int /*Button*/) {}
    virtual void click(int /*Button*/) {}
    virtual void singleClick(int /*Button*/) {}
};

// The icon in the notification area: keeps its tip and picture current there,
// turns the shell's mouse messages into events and tells a single click from
// a double click by a timer that every left button-up switches over.
class ShellIcon {
public:
    static constexpr int kMenuTimerMs = 500;
    // The shell's mouse messages, as they arrive in the callback.
    static constexpr int kMouseMove = 512;
    static constexpr int kLeftDown = 513;
    static constexpr int kLeftUp = 514;
    static constexpr int kLeftDoubleClick = 515;
    static constexpr int kRightDown = 516;
    static constexpr int kRightUp = 517;
    static constexpr int kRightDoubleClick = 518;

    ShellIcon(TrayBackend& backend, ShellIconEvents& events, WindowHandle hostWindow);
    ~ShellIcon();
    ShellIcon(const ShellIcon&) = delete;
    ShellIcon& operator=(const ShellIcon&) = delete;

    const std::string& toolTipText() const { return tipText_; }
    void setToolTipText(const std::string& newToolTipText);
    IconHandle icon() const { return face_; }
    void setIcon(IconHandle newIcon);
    bool visible() const { return wantVisible_; }
    void setVisible(bool newVisible);
    bool sysMenu() const { return showMenu_; }
    void setSysMenu(bool newSysMenu) { showMenu_ = newSysMenu; }

    void showSysMenu(WindowHandle hWnd);

    // The shell's callback: one of its mouse messages (512..518).
    void mouseMessage(int value);
    void tmrMenuFired();

    bool iconShown() const { return iconShown_; }
    bool menuTimerOn() const { return menuTimerOn_; }
    const TrayRecord& record() const { return record_; }

private:
    void setTrayIcon(bool show);
    void switchMenuTimer(bool on);

    TrayBackend& backend_;
    ShellIconEvents& events_;
    WindowHandle hostWindow_;
    TrayRecord record_;
    std::string tipText_;
    IconHandle face_ = 0;
    bool wantVisible_ = false;
    bool showMenu_ = true;
    bool iconShown_ = false;
    bool menuTimerOn_ = false;
};

// The tip as the record holds it: cut to 63 bytes, never inside a UTF-8 character.
std::string tipField(const std::string& text);

}  // namespace bw
