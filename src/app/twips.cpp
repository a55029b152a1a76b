#include "app/twips.h"

#include <QScreen>
#include <cmath>

namespace bw {

TwipScale TwipScale::forScreen(const QScreen* screen) {
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96;
    return TwipScale(dpi > 0 ? dpi : 96);
}

int TwipScale::px(double twips) const {
    return static_cast<int>(std::lround(twips / twipsPerPixel_));
}

QRect TwipScale::rect(const TwipBox& box) const {
    return QRect(px(box.left), px(box.top), px(box.width), px(box.height));
}

}  // namespace bw
