// Satellite panel (312), 400 x 201, and the sky-plot marker (323), 18 x 18.

#include "tools/imagegen/Drawing.h"
#include "tools/imagegen/Images.h"
#include "ui/PanelGeometry.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

namespace imagegen {
namespace {

// The program puts a marker's top-left corner at the sky centre + r(elevation); the marker's disc
// is centred kMarkerDiscCentre pixels into it, so the plot's true centre is that much further.
constexpr double kMarkerDiscCentre = chart::kMarkerDiscCentre;
const QPointF kSkyCentre(chart::kSkyCentreX + kMarkerDiscCentre,
                         chart::kSkyCentreY - panel::kSatellitePanelTop + kMarkerDiscCentre);
constexpr double kHorizon = chart::kHorizonRadius;
constexpr double kDiscRadius = 60.0;
// The azimuth figures stand outside the disc, where low satellites' markers cannot hide them.
constexpr double kFigureRadius = 69.0;

} // namespace

QImage SatellitePanel()
{
    constexpr int w = panel::kWidth;
    constexpr int h = panel::kSatellitePanelHeight;
    constexpr int band = panel::kSatelliteTitleHeight;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    Prepare(p);

    p.fillRect(image.rect(), pal::slate);
    for (int x = 4; x < w; x += 8) {
        p.fillRect(QRect(x, band, 1, h - band), pal::grid);
    }
    for (int y = 33; y < h; y += 8) {
        p.fillRect(QRect(0, y, w, 1), pal::grid);
    }

    QLinearGradient bandFill(0, 0, 0, band);
    bandFill.setColorAt(0, pal::bandTop);
    bandFill.setColorAt(1, pal::bandBottom);
    p.fillRect(QRect(0, 0, w, band), bandFill);
    p.fillRect(QRect(0, 0, w, 1), pal::bandTop.lighter(125));
    p.fillRect(QRect(0, band - 1, w, 1), pal::accent.darker(140));
    p.fillRect(QRect(10, 8, 3, 10), pal::accent);
    TextAtBaseline(p, 18, 17, QStringLiteral("Satellite & Channel Status"), Sans(13, true), QColor(255, 255, 255));

    // Sky plot.
    {
        QRadialGradient disc(kSkyCentre, kDiscRadius, kSkyCentre - QPointF(18, 22));
        disc.setColorAt(0, pal::skyDisc.lighter(110));
        disc.setColorAt(1, pal::skyDisc.darker(106));
        p.setPen(QPen(QColor(20, 24, 36), 1.5));
        p.setBrush(disc);
        p.drawEllipse(kSkyCentre, kDiscRadius, kDiscRadius);

        // Below-horizon band, between the horizon and the disc's edge.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(150, 166, 190));
        QPainterPath rim;
        rim.addEllipse(kSkyCentre, kDiscRadius - 1, kDiscRadius - 1);
        rim.addEllipse(kSkyCentre, kHorizon, kHorizon);
        p.drawPath(rim);

        p.setPen(QPen(pal::skyRing.lighter(115), 1));
        for (int deg = 0; deg < 360; deg += 30) {
            const double a = deg * std::numbers::pi / 180;
            p.drawLine(kSkyCentre, kSkyCentre + QPointF(kHorizon * std::sin(a), -kHorizon * std::cos(a)));
        }
        p.setBrush(Qt::NoBrush);
        // Elevation 60 and 30 degrees, then the horizon.
        p.setPen(QPen(pal::skyRing, 1, Qt::DashLine));
        p.drawEllipse(kSkyCentre, kHorizon / 3, kHorizon / 3);
        p.drawEllipse(kSkyCentre, kHorizon * 2 / 3, kHorizon * 2 / 3);
        p.setPen(QPen(pal::skyRing.darker(130), 1.3));
        p.drawEllipse(kSkyCentre, kHorizon, kHorizon);

        const QFont azimuthFont = Sans(9, true);
        p.setFont(azimuthFont);
        p.setPen(QColor(188, 200, 222));
        for (int deg = 0; deg < 360; deg += 30) {
            const double a = deg * std::numbers::pi / 180;
            const double r = kFigureRadius + (deg % 180 == 90 ? 3 : 0);
            const QPointF at = kSkyCentre + QPointF(r * std::sin(a), -r * std::cos(a));
            const QString text = QString::number(deg);
            const QRectF box(at.x() - 12, at.y() - 6, 24, 12);
            p.drawText(box, Qt::AlignCenter, text);
        }

        // Observer at the zenith point.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 48, 70));
        const QPointF c = kSkyCentre;
        p.drawEllipse(c + QPointF(0, -6.5), 2.3, 2.3);
        QPainterPath body;
        body.moveTo(c + QPointF(-3.5, 4.5));
        body.lineTo(c + QPointF(-3.5, -1.5));
        body.quadTo(c + QPointF(-3.5, -3.8), c + QPointF(-1.5, -3.8));
        body.lineTo(c + QPointF(1.5, -3.8));
        body.quadTo(c + QPointF(3.5, -3.8), c + QPointF(3.5, -1.5));
        body.lineTo(c + QPointF(3.5, 4.5));
        body.closeSubpath();
        p.drawPath(body);
        p.drawRect(QRectF(c.x() - 2.2, c.y() + 4, 1.8, 4));
        p.drawRect(QRectF(c.x() + 0.4, c.y() + 4, 1.8, 4));
    }

    // Channel bars: twelve slots with their PRN boxes, faint lines every 10 dB-Hz.
    using namespace chart;
    constexpr int top = kSlotTop - panel::kSatellitePanelTop;
    constexpr int baseline = kBaseline - panel::kSatellitePanelTop;
    constexpr int prnTop = kPrnBoxTop - panel::kSatellitePanelTop;
    for (int k = 0; k < kClassicBars; ++k) {
        const int left = kFirstBarLeft - kSlotLeftOfBar + kBarPitch * k;
        p.fillRect(QRect(left, top, kSlotWidth, baseline - top), pal::slot);
        p.fillRect(QRect(left, top, kSlotWidth, 1), pal::slot.lighter(118));
        for (int db = 10; db < 50; db += 10) {
            const int y = baseline - static_cast<int>(db * kPixelsPerDbHz);
            p.fillRect(QRect(left, y, kSlotWidth, 1), pal::slot.lighter(112));
        }
        p.fillRect(QRect(left, prnTop, kSlotWidth, kPrnBoxHeight), pal::prnBox);
        p.fillRect(QRect(left, prnTop, kSlotWidth, 1), pal::prnBox.lighter(115));
    }
    p.fillRect(QRect(202, baseline, 194, 1), QColor(130, 140, 165));

    auto vertical = [&p](const QString& text, double cx, double cy, const QFont& font) {
        p.save();
        p.translate(cx, cy);
        p.rotate(-90);
        p.setFont(font);
        p.setPen(QColor(196, 206, 224));
        p.drawText(QRectF(-40, -7, 80, 14), Qt::AlignCenter, text);
        p.restore();
    };
    vertical(QStringLiteral("C/N0 (dB-Hz)"), 195, 103, Sans(10, true));
    vertical(QStringLiteral("PRN"), 195, 179, Sans(8, true));
    return image;
}

QImage SatelliteMarker()
{
    // Coverage is drawn alone first; edge pixels are then blended against the sky disc's colour,
    // never against the key green, and uncovered pixels become exactly the key.
    constexpr int size = chart::kMarkerSize;
    QImage coverage(size, size, QImage::Format_ARGB32_Premultiplied);
    coverage.fill(Qt::transparent);
    {
        QPainter p(&coverage);
        Prepare(p);
        const QPointF c(kMarkerDiscCentre, kMarkerDiscCentre);
        QRadialGradient fill(c - QPointF(2.5, 3), 9);
        fill.setColorAt(0, pal::markerFill.lighter(108));
        fill.setColorAt(1, pal::markerFill.darker(104));
        p.setPen(QPen(pal::markerEdge, 1.2));
        p.setBrush(fill);
        p.drawEllipse(c, 7.4, 7.4);
    }
    QImage marker(size, size, QImage::Format_RGB32);
    const QColor under = pal::skyDisc;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QColor c = QColor::fromRgba(coverage.pixel(x, y));
            const double a = c.alphaF();
            if (a < 0.2) {
                marker.setPixel(x, y, pal::key.rgb());
                continue;
            }
            // Unpremultiplied colour over the disc colour.
            const auto mix = [a](int top, int bottom) { return static_cast<int>(std::lround(top * a + bottom * (1 - a))); };
            QColor out(mix(c.red(), under.red()), mix(c.green(), under.green()), mix(c.blue(), under.blue()));
            if (out.rgb() == pal::key.rgb()) {
                out.setRed(1);
            }
            marker.setPixel(x, y, out.rgb());
        }
    }
    return marker;
}

} // namespace imagegen
