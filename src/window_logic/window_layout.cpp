#include "window_logic/window_layout.h"

namespace bw {

namespace {

void assign(double& size, double value) {
    if (value >= 0)
        size = value;
}

}  // namespace

WindowLayout designLayout() {
    WindowLayout d;
    d.statusView = {0, 0, 6075, 3195};
    d.rangesView = {0, 0, 6075, 3195};
    d.logView = {60, 1200, 5895, 1875};
    d.blockingPanel = {4140, 60, 1815, 315};
    d.fullLogPanel = {4140, 840, 1815, 315};
    d.startHiddenPanel = {4140, 455, 1815, 315};
    d.banList = {60, 540, 5895, 2400};
    d.buttonBar = {60, 60, 5895, 435};
    d.addButton = {0, 0, 2955, 375};
    d.removeButton = {2940, 0, 2895, 375};
    return d;
}

WindowLayout applyResizeRules(WindowLayout l, double w, double h) {
    assign(l.statusView.width, w - 150);
    assign(l.rangesView.width, w - 150);
    assign(l.statusView.height, h - 845);
    assign(l.rangesView.height, h - 845);
    assign(l.logView.width, w - 250);
    assign(l.logView.height, h - 2100);
    assign(l.blockingPanel.width, w - 4400);
    assign(l.fullLogPanel.width, w - 4400);
    assign(l.startHiddenPanel.width, w - 4400);
    assign(l.banList.height, h - 1500);
    assign(l.banList.width, w - 300);
    assign(l.buttonBar.width, w - 300);
    assign(l.addButton.width, l.buttonBar.width / 2);
    assign(l.removeButton.width, l.buttonBar.width / 2 - 45);
    assign(l.removeButton.left, l.buttonBar.width / 2);
    return l;
}

}  // namespace bw
