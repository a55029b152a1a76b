#pragma once

#include <QRect>

#include "window_logic/window_layout.h"

class QScreen;

namespace bw {

// Converts between twips and device-independent pixels: 15 twips to a pixel
// at 96 dots per inch, fewer on denser screens.
class TwipScale {
public:
    explicit TwipScale(double dotsPerInch = 96) : twipsPerPixel_(1440.0 / dotsPerInch) {}
    static TwipScale forScreen(const QScreen* screen);

    double twipsPerPixel() const { return twipsPerPixel_; }
    int px(double twips) const;
    double twips(int pixels) const { return pixels * twipsPerPixel_; }
    QRect rect(const TwipBox& box) const;
    QRect rect(double left, double top, double width, double height) const {
        return rect(TwipBox{left, top, width, height});
    }

private:
    double twipsPerPixel_;
};

}  // namespace bw
