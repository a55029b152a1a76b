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
    d.picture4 = {0, 0, 6075, 3195};
    d.picture3 = {0, 0, 6075, 3195};
    d.text2 = {60, 1200, 5895, 1875};
    d.picture2 = {4140, 60, 1815, 315};
    d.picture5 = {4140, 840, 1815, 315};
    d.picture11 = {4140, 455, 1815, 315};
    d.list1 = {60, 540, 5895, 2400};
    d.picture1 = {60, 60, 5895, 435};
    d.command1 = {0, 0, 2955, 375};
    d.command2 = {2940, 0, 2895, 375};
    return d;
}

WindowLayout applyResizeRules(WindowLayout l, double W, double H) {
    assign(l.picture4.width, W - 150);
    assign(l.picture3.width, W - 150);
    assign(l.picture4.height, H - 845);
    assign(l.picture3.height, H - 845);
    assign(l.text2.width, W - 250);
    assign(l.text2.height, H - 2100);
    assign(l.picture2.width, W - 4400);
    assign(l.picture5.width, W - 4400);
    assign(l.picture11.width, W - 4400);
    assign(l.list1.height, H - 1500);
    assign(l.list1.width, W - 300);
    assign(l.picture1.width, W - 300);
    assign(l.command1.width, l.picture1.width / 2);
    assign(l.command2.width, l.picture1.width / 2 - 45);
    assign(l.command2.left, l.picture1.width / 2);
    return l;
}

}  // namespace bw
