// Application icon: the Orvane mark over a sky plot on a rounded slate tile.

#include "tools/imagegen/Drawing.h"
#include "tools/imagegen/Images.h"

#include <QLinearGradient>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace imagegen {

QImage AppIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    Prepare(p);
    const double s = size;
    const double inset = s <= 16 ? 0.5 : s * 0.04;
    const QRectF tile(inset, inset, s - 2 * inset, s - 2 * inset);
    QLinearGradient bg(tile.topLeft(), tile.bottomRight());
    bg.setColorAt(0, QColor(58, 68, 96));
    bg.setColorAt(1, QColor(20, 24, 36));
    p.setPen(s >= 32 ? QPen(QColor(0, 0, 0, 90), s / 128) : Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(tile, s * 0.2, s * 0.2);

    const QPointF c(s * 0.5, s * 0.54);
    if (s >= 32) {
        // Sky-plot rings and a spoke cross.
        p.setBrush(Qt::NoBrush);
        for (double k : {0.36, 0.24, 0.12}) {
            p.setPen(QPen(QColor(0, 200, 200, 70), std::max(1.0, s / 96)));
            p.drawEllipse(c, s * k, s * k);
        }
        p.setPen(QPen(QColor(0, 200, 200, 50), std::max(1.0, s / 128)));
        p.drawLine(c + QPointF(-s * 0.36, 0), c + QPointF(s * 0.36, 0));
        p.drawLine(c + QPointF(0, -s * 0.36), c + QPointF(0, s * 0.36));
    }
    // Orbit and satellite.
    p.save();
    p.translate(c);
    p.rotate(-28);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 214, 214), std::max(1.3, s / 22), Qt::SolidLine, Qt::RoundCap));
    p.drawEllipse(QPointF(0, 0), s * 0.40, s * 0.19);
    p.restore();

    const double sa = -62 * std::numbers::pi / 180;
    const double ox = s * 0.40 * std::cos(sa);
    const double oy = s * 0.19 * std::sin(sa);
    const double rot = -28 * std::numbers::pi / 180;
    const QPointF sat = c + QPointF(ox * std::cos(rot) - oy * std::sin(rot), ox * std::sin(rot) + oy * std::cos(rot));
    p.save();
    p.translate(sat);
    p.rotate(-28);
    p.setPen(Qt::NoPen);
    if (s >= 32) {
        p.setBrush(QColor(120, 190, 255));
        p.drawRect(QRectF(-s * 0.13, -s * 0.035, s * 0.08, s * 0.07));
        p.drawRect(QRectF(s * 0.05, -s * 0.035, s * 0.08, s * 0.07));
    }
    p.setBrush(QColor(255, 255, 255));
    p.drawRoundedRect(QRectF(-s * 0.05, -s * 0.05, s * 0.10, s * 0.10), s * 0.02, s * 0.02);
    p.restore();

    // Receiver position.
    QRadialGradient dot(c, s * 0.09);
    dot.setColorAt(0, QColor(150, 255, 170));
    dot.setColorAt(1, QColor(40, 200, 90));
    p.setPen(QPen(QColor(10, 60, 30), std::max(1.0, s / 128)));
    p.setBrush(dot);
    p.drawEllipse(c, s * 0.075, s * 0.075);
    return image;
}

} // namespace imagegen
