// Draws the program icon and the two guard banners into the folder given as
// the first argument, and the icon in the theme's sizes (16.png ... 256.png)
// into the folder given as the optional second one. The pictures are ours: a
// shield over a wall, bright with the guard on and greyed with it off.

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>

namespace {

QPainterPath shield(QRectF r) {
    QPainterPath p;
    p.moveTo(r.center().x(), r.top());
    p.lineTo(r.right(), r.top() + r.height() * 0.18);
    p.cubicTo(r.right(), r.top() + r.height() * 0.65, r.center().x() + r.width() * 0.2,
              r.bottom() - r.height() * 0.1, r.center().x(), r.bottom());
    p.cubicTo(r.center().x() - r.width() * 0.2, r.bottom() - r.height() * 0.1, r.left(),
              r.top() + r.height() * 0.65, r.left(), r.top() + r.height() * 0.18);
    p.closeSubpath();
    return p;
}

void drawShield(QPainter& g, QRectF r, QColor face, QColor edge, QColor mark) {
    g.setPen(QPen(edge, std::max(1.0, r.width() / 14)));
    QLinearGradient fill(r.topLeft(), r.bottomRight());
    fill.setColorAt(0, face.lighter(130));
    fill.setColorAt(1, face.darker(120));
    g.setBrush(fill);
    g.drawPath(shield(r));
    // Battlements across the shield: the wall it guards.
    g.setPen(Qt::NoPen);
    g.setBrush(mark);
    const double w = r.width() / 7;
    const double top = r.top() + r.height() * 0.38;
    for (int i = 1; i < 6; i += 2) g.drawRect(QRectF(r.left() + i * w, top, w, w * 0.9));
    g.drawRect(QRectF(r.left() + w, top + w * 0.9, 5 * w, w * 1.1));
}

// Drawn on a 32-pixel grid and scaled, so every size is the same picture.
QImage icon(int size = 32) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter g(&image);
    g.setRenderHint(QPainter::Antialiasing);
    const double scale = size / 32.0;
    drawShield(g, QRectF(3 * scale, 1.5 * scale, 26 * scale, 29 * scale), QColor(30, 110, 200),
               QColor(10, 40, 90), QColor(250, 250, 250));
    return image;
}

// The icon theme's sizes, for the application menu (installed as hicolor icons).
bool saveThemeIcons(const QString& folder) {
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        if (!icon(size).save(folder + QString::number(size) + QStringLiteral(".png")))
            return false;
    }
    return true;
}

QImage banner(int width, bool on) {
    QImage image(width, 49, QImage::Format_ARGB32);
    QPainter g(&image);
    g.setRenderHint(QPainter::Antialiasing);
    QLinearGradient back(0, 0, 0, 49);
    back.setColorAt(0, on ? QColor(40, 140, 230) : QColor(150, 150, 150));
    back.setColorAt(1, on ? QColor(10, 60, 130) : QColor(90, 90, 90));
    g.fillRect(image.rect(), back);
    drawShield(g, QRectF(5, 4, 36, 41), on ? QColor(60, 190, 90) : QColor(170, 170, 170),
               on ? QColor(255, 255, 255) : QColor(210, 210, 210),
               on ? QColor(255, 255, 255) : QColor(120, 120, 120));
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(13);
    g.setFont(font);
    g.setPen(on ? QColor(255, 255, 255) : QColor(215, 215, 215));
    g.drawText(QRectF(46, 6, width - 48, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("GUARD"));
    font.setPixelSize(15);
    g.setFont(font);
    g.drawText(QRectF(46, 24, width - 48, 20), Qt::AlignLeft | Qt::AlignVCenter,
               on ? QStringLiteral("ON") : QStringLiteral("OFF"));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s IMAGES_FOLDER [THEME_ICONS_FOLDER]\n", argv[0]);
        return 2;
    }
    if (argc > 2 && !saveThemeIcons(QString::fromLocal8Bit(argv[2]) + QLatin1Char('/')))
        return 1;
    const QString folder = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
    // 1815 x 735 and 1635 x 735 twips at 15 twips to the pixel.
    const bool ok = icon().save(folder + QStringLiteral("bastionwatch.png")) &&
                    banner(121, true).save(folder + QStringLiteral("guard-on.png")) &&
                    banner(109, false).save(folder + QStringLiteral("guard-off.png"));
    return ok ? 0 : 1;
}
