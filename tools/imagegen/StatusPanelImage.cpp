// Status panel (310), 400 x 278.

#include "tools/imagegen/Drawing.h"
#include "tools/imagegen/Images.h"
#include "ui/PanelGeometry.h"
#include "ui/StatusPanel.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace imagegen {
namespace {

void TextRightAtBaseline(QPainter& p, int right, int baseline, const QString& text, const QFont& font,
                         const QColor& color)
{
    QFontMetrics metrics(font);
    TextAtBaseline(p, right - metrics.horizontalAdvance(text), baseline, text, font, color);
}

// An etched line: a dark row over a light one.
void HDivider(QPainter& p, int x0, int x1, int y)
{
    p.fillRect(QRect(x0, y, x1 - x0 + 1, 1), pal::dividerDark);
    p.fillRect(QRect(x0, y + 1, x1 - x0 + 1, 1), pal::dividerLight);
}

void VDivider(QPainter& p, int x, int y0, int y1)
{
    p.fillRect(QRect(x, y0, 1, y1 - y0 + 1), pal::dividerDark);
    p.fillRect(QRect(x + 1, y0, 1, y1 - y0 + 1), pal::dividerLight);
}

// A sunken dark readout that the program's cyan values are drawn into.
void Well(QPainter& p, const QRect& r)
{
    p.save();
    QPainterPath path;
    path.addRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, pal::well.darker(118));
    fill.setColorAt(0.35, pal::well);
    fill.setColorAt(1, pal::well.lighter(112));
    p.setPen(QPen(pal::wellEdge, 1));
    p.setBrush(fill);
    p.drawPath(path);
    // Light lip under the well so it reads as recessed into the panel.
    p.setPen(QPen(QColor(255, 255, 255, 150), 1));
    p.drawLine(QPointF(r.left() + 3, r.bottom() + 1.5), QPointF(r.right() - 3, r.bottom() + 1.5));
    p.restore();
}

void SectionHeading(QPainter& p, int x, int baseline, const QString& text)
{
    p.fillRect(QRect(x, baseline - 9, 3, 10), pal::accent);
    TextAtBaseline(p, x + 7, baseline, text, Sans(12, true), pal::heading);
}

// The Orvane mark: a ground point under an orbit with a satellite on it.
void DrawMark(QPainter& p, QPointF centre, double size, const QColor& ring, const QColor& dot)
{
    p.save();
    p.translate(centre);
    const double r = size / 2;
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ring, std::max(1.2, size / 13), Qt::SolidLine, Qt::RoundCap));
    p.save();
    p.rotate(-25);
    p.drawEllipse(QPointF(0, 0), r * 0.95, r * 0.5);
    p.restore();
    p.setPen(Qt::NoPen);
    p.setBrush(dot);
    p.drawEllipse(QPointF(0, 0), r * 0.26, r * 0.26);
    // The satellite sits on the orbit's upper right.
    const double along = -50 * std::numbers::pi / 180;
    const double tilt = -25 * std::numbers::pi / 180;
    const double sx = r * 0.95 * std::cos(along);
    const double sy = r * 0.5 * std::sin(along);
    const QPointF sat(sx * std::cos(tilt) - sy * std::sin(tilt), sx * std::sin(tilt) + sy * std::cos(tilt));
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(sat, r * 0.17, r * 0.17);
    p.restore();
}

// The labels sit on the baselines of the program's values (their positions are the top-left of
// the text cell): ascents of its fonts, the 26-pixel cell of time and date and the default face.
int LargeAscent()
{
    return QFontMetrics(PanelResources::WithFonts().fontLarge).ascent();
}

int DefaultAscent()
{
    return QFontMetrics(PanelResources::WithFonts().fontDefault).ascent();
}

} // namespace

QImage TitleBand()
{
    QImage image(panel::kWidth, panel::kTitleBandHeight, QImage::Format_RGB32);
    QPainter p(&image);
    Prepare(p);
    QLinearGradient band(0, 0, 0, panel::kTitleBandHeight);
    band.setColorAt(0, pal::bandTop);
    band.setColorAt(1, pal::bandBottom);
    p.fillRect(image.rect(), band);
    p.fillRect(QRect(0, 0, panel::kWidth, 1), pal::bandTop.lighter(125));
    return image;
}
QImage StatusPanel()
{
    QImage image(panel::kWidth, panel::kStatusPanelHeight, QImage::Format_RGB32);
    QPainter p(&image);
    Prepare(p);

    QLinearGradient body(0, panel::kTitleBandHeight, 0, panel::kStatusPanelHeight);
    body.setColorAt(0, pal::panelTop);
    body.setColorAt(1, pal::panelBottom);
    p.fillRect(image.rect(), body);

    p.drawImage(0, 0, TitleBand());
    p.fillRect(QRect(0, 30, 400, 1), pal::accent.darker(140));
    DrawMark(p, QPointF(19, 15), 22, pal::accent, pal::value);
    TextAtBaseline(p, 36, 21, QStringLiteral("Orvane"), Sans(18, true), QColor(244, 247, 252));

    // Right edge of the panel, against the map view.
    p.fillRect(QRect(399, 31, 1, 247), pal::dividerDark);

    const QFont labelFont = Sans(10, true);

    // Time and Date: values in the 26 px face.
    using panel::kTimeText, panel::kDateText;
    SectionHeading(p, 8, 47, QStringLiteral("Time and Date"));
    {
        const int baseline = kTimeText.y + LargeAscent();
        Well(p, QRect(kTimeText.x - 3, kTimeText.y - 3, 124, 32));
        Well(p, QRect(kDateText.x - 3, kDateText.y - 3, 158, 32));
        TextAtBaseline(p, 8, baseline, QStringLiteral("Time:"), labelFont, pal::label);
        TextAtBaseline(p, 208, baseline, QStringLiteral("Date:"), labelFont, pal::label);
    }
    HDivider(p, 0, 398, 95);

    // Fix Mode | DOP: values in the default face.
    using panel::kFixText, panel::kModeText, panel::kHdopText, panel::kPdopText;
    SectionHeading(p, 8, 113, QStringLiteral("Fix Mode"));
    SectionHeading(p, 206, 113, QStringLiteral("DOP"));
    VDivider(p, 191, 97, 159);
    {
        const int baseline = kFixText.y + DefaultAscent();
        Well(p, QRect(kFixText.x - 3, kFixText.y - 3, 65, 21));
        Well(p, QRect(kModeText.x - 4, kModeText.y - 3, 61, 21));
        Well(p, QRect(kHdopText.x - 3, kHdopText.y - 3, 53, 21));
        Well(p, QRect(kPdopText.x - 4, kPdopText.y - 3, 49, 21));
        TextRightAtBaseline(p, 24, baseline, QStringLiteral("Fix:"), labelFont, pal::label);
        TextRightAtBaseline(p, 123, baseline, QStringLiteral("Mode:"), labelFont, pal::label);
        TextAtBaseline(p, 206, baseline, QStringLiteral("HDOP:"), labelFont, pal::label);
        TextAtBaseline(p, 305, baseline, QStringLiteral("PDOP:"), labelFont, pal::label);
    }
    HDivider(p, 0, 398, 160);

    // Position: latitude and longitude on the left, motion in boxes on the right.
    SectionHeading(p, 8, 178, QStringLiteral("Position"));
    {
        const auto& rows = panel::kPositionRows;
        Well(p, QRect(panel::kLatitudeText.x - 3, panel::kLatitudeText.y - 2, 124, 21));
        Well(p, QRect(panel::kLongitudeText.x - 3, panel::kLongitudeText.y - 2, 124, 21));
        TextRightAtBaseline(p, 64, rows[0] + DefaultAscent(), QStringLiteral("Latitude:"), labelFont, pal::label);
        TextRightAtBaseline(p, 64, rows[1] + DefaultAscent(), QStringLiteral("Longitude:"), labelFont, pal::label);
        for (int y : rows) {
            Well(p, QRect(panel::kSpeedBox.left - 4, y - 2, 57, 21));
        }
        TextRightAtBaseline(p, 283, rows[0] + DefaultAscent(), QStringLiteral("Velocity(km/h):"), labelFont, pal::label);
        TextRightAtBaseline(p, 283, rows[1] + DefaultAscent(), QStringLiteral("Heading(deg):"), labelFont, pal::label);
        TextRightAtBaseline(p, 283, rows[2] + DefaultAscent(), QStringLiteral("Altitude(m):"), labelFont, pal::label);
    }
    return image;
}

} // namespace imagegen
