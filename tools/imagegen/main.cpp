// orvane-imagegen: draws the status panel, the satellite panel, the sky-plot marker, the image
// buttons and the application icon into PNG files.
//
//   orvane-imagegen <output folder>                 writes every image
//   orvane-imagegen <output folder> --preview FILE  also writes both panels as the program shows
//                                                   them: its own drawing over these images
//
// Positions shared with the program come from ui/PanelGeometry.h, and the preview is drawn by the
// program's DrawStatusPanel, so the images and what is drawn over them cannot drift apart.
//
// Everything is drawn with Liberation Sans (metric-compatible with Arial, which the program's
// own text uses), so the generator refuses to run without it rather than write images set in a
// substitute face.

#include "ui/MemDCEx.h"
#include "ui/PanelGeometry.h"
#include "ui/StatusPanel.h"

#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>

namespace {

// One palette for every image: dark slate chrome, light grey panels, cyan readouts.
namespace pal {
const QColor bandTop(44, 51, 72);
const QColor bandBottom(24, 28, 41);
const QColor slate(46, 52, 72);
const QColor grid(53, 60, 82);
const QColor panelTop(238, 240, 244);
const QColor panelBottom(224, 228, 235);
const QColor dividerDark(184, 191, 203);
const QColor dividerLight(252, 253, 255);
const QColor label(48, 56, 76);
const QColor heading(30, 36, 52);
const QColor accent(0, 178, 186);
const QColor value(0, 200, 200);
const QColor well(33, 39, 56);
const QColor wellEdge(20, 24, 35);
const QColor skyDisc(178, 192, 212);
const QColor skyRing(118, 134, 160);
const QColor slot(75, 81, 102);
const QColor prnBox(104, 121, 144);
const QColor key(0, 255, 0);
const QColor markerFill(186, 244, 186);
const QColor markerEdge(46, 130, 70);
const QColor formWhite(255, 255, 255);
} // namespace pal

QFont Sans(int pixels, bool bold = false)
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

void Prepare(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

// Text placed by its baseline, so a label lines up with the value drawn beside it.
void TextAtBaseline(QPainter& p, int x, int baseline, const QString& text, const QFont& font, const QColor& color)
{
    p.setFont(font);
    p.setPen(color);
    p.drawText(QPoint(x, baseline), text);
}

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

// The title band of the status panel; the connect and record buttons sit on it, so their
// corners are cut from the same drawing.
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

// ---------------------------------------------------------------------------------------------
// Status panel (310), 400 x 278.

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

// ---------------------------------------------------------------------------------------------
// Satellite panel (312), 400 x 201, and the sky-plot marker (323), 18 x 18.

// The program puts a marker's top-left corner at the sky centre + r(elevation); the marker's disc
// is centred kMarkerDiscCentre pixels into it, so the plot's true centre is that much further.
constexpr double kMarkerDiscCentre = chart::kMarkerDiscCentre;
const QPointF kSkyCentre(chart::kSkyCentreX + kMarkerDiscCentre,
                         chart::kSkyCentreY - panel::kSatellitePanelTop + kMarkerDiscCentre);
constexpr double kHorizon = chart::kHorizonRadius;
constexpr double kDiscRadius = 60.0;
// The azimuth figures stand outside the disc, where low satellites' markers cannot hide them.
constexpr double kFigureRadius = 69.0;

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

// ---------------------------------------------------------------------------------------------
// Buttons.

struct Face {
    QColor top;
    QColor bottom;
    QColor border;
    QColor text;
};

// A rounded button drawn over the pixels that will be behind it, so its corners blend in.
QImage ButtonBase(const QImage& behind, const Face& face)
{
    QImage image = behind.convertToFormat(QImage::Format_RGB32);
    QPainter p(&image);
    Prepare(p);
    const QRectF r = QRectF(image.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, face.top);
    fill.setColorAt(1, face.bottom);
    p.setPen(QPen(face.border, 1));
    p.setBrush(fill);
    p.drawRoundedRect(r, 4, 4);
    p.setPen(QPen(QColor(255, 255, 255, 40), 1));
    p.drawLine(QPointF(r.left() + 4, r.top() + 1), QPointF(r.right() - 4, r.top() + 1));
    return image;
}

void Caption(QPainter& p, const QRect& area, const QString& text, const QColor& color, int pixels = 12)
{
    p.setFont(Sans(pixels, true));
    p.setPen(color);
    // Centre on the cap height rather than the line box, which sits the text too high.
    QFontMetrics m(p.font());
    const int width = m.horizontalAdvance(text);
    const int capHeight = static_cast<int>(std::lround(m.capHeight()));
    const int baseline = area.top() + (area.height() + capHeight) / 2;
    p.drawText(QPoint(area.left() + (area.width() - width) / 2, baseline), text);
}

Face BandFace(bool hot)
{
    if (hot) {
        return {QColor(92, 106, 140), QColor(66, 77, 106), QColor(132, 148, 186), QColor(255, 255, 255)};
    }
    return {QColor(66, 76, 102), QColor(46, 53, 74), QColor(90, 102, 134), QColor(236, 241, 248)};
}

// Plug and socket; apart for "Connect", mated for "Disconnect".
void ConnectorIcon(QPainter& p, QPointF centre, bool mated, const QColor& color)
{
    p.save();
    p.translate(centre);
    p.rotate(-45);
    p.scale(1.2, 1.2);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    const double gap = mated ? 0.0 : 2.4;
    // Plug: body with two pins, cable to the left.
    p.drawRoundedRect(QRectF(-6.5 - gap, -3.5, 5, 7), 1.2, 1.2);
    p.drawRect(QRectF(-1.5 - gap, -2.4, 2.6, 1.3));
    p.drawRect(QRectF(-1.5 - gap, 1.1, 2.6, 1.3));
    p.drawRect(QRectF(-9.5 - gap, -0.8, 3.2, 1.6));
    // Socket with its cable to the right.
    p.drawRoundedRect(QRectF(1.2 + gap, -3.5, 5, 7), 1.2, 1.2);
    p.drawRect(QRectF(6.0 + gap, -0.8, 3.2, 1.6));
    p.restore();
}

QImage ConnectButton(const QImage& behind, bool disconnect, bool hot)
{
    const Face face = BandFace(hot);
    QImage image = ButtonBase(behind, face);
    QPainter p(&image);
    Prepare(p);
    const QColor icon = disconnect ? QColor(92, 226, 132) : (hot ? QColor(80, 232, 232) : pal::value);
    ConnectorIcon(p, QPointF(16, 12), disconnect, icon);
    Caption(p, QRect(26, 0, 69, 24), disconnect ? QStringLiteral("Disconnect") : QStringLiteral("Connect"), face.text);
    return image;
}

QImage RecordButton(const QImage& behind, bool recording, bool hot)
{
    const Face face = BandFace(hot);
    QImage image = ButtonBase(behind, face);
    QPainter p(&image);
    Prepare(p);
    const QPointF c(26.5, 12);
    if (recording) {
        QRadialGradient glow(c, 9);
        glow.setColorAt(0, QColor(255, 80, 70, hot ? 150 : 110));
        glow.setColorAt(1, QColor(255, 80, 70, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(c, 9, 9);
    }
    QRadialGradient dot(c - QPointF(1.5, 1.8), 6);
    const QColor base = recording ? (hot ? QColor(255, 72, 64) : QColor(232, 48, 44)) : (hot ? QColor(178, 186, 200) : QColor(142, 150, 166));
    dot.setColorAt(0, base.lighter(135));
    dot.setColorAt(1, base);
    p.setPen(QPen(base.darker(150), 1));
    p.setBrush(dot);
    p.drawEllipse(c, 5, 5);
    Caption(p, QRect(36, 0, 46, 24), QStringLiteral("REC"), face.text, 13);
    return image;
}

QImage WhiteBehind(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(pal::formWhite);
    return image;
}

void Magnifier(QPainter& p, QPointF centre, const QColor& color)
{
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(color, 1.8));
    p.drawEllipse(centre + QPointF(-1.5, -1.5), 4.3, 4.3);
    p.setPen(QPen(color, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(1.9, 1.9), centre + QPointF(5.2, 5.2));
    p.restore();
}

QImage ScanButton(bool hot)
{
    const Face face = hot ? Face{QColor(226, 239, 253), QColor(206, 226, 250), QColor(108, 156, 214), QColor(22, 60, 110)}
                          : Face{QColor(255, 255, 255), QColor(242, 244, 248), QColor(170, 178, 192), QColor(40, 48, 66)};
    QImage image = ButtonBase(WhiteBehind(141, 24), face);
    QPainter p(&image);
    Prepare(p);
    Magnifier(p, QPointF(20, 12), hot ? QColor(30, 100, 190) : QColor(0, 140, 150));
    Caption(p, QRect(30, 0, 104, 24), QStringLiteral("Scan Com Port"), face.text);
    return image;
}

QImage FormButton(const QString& text, bool hot)
{
    const Face face = hot ? Face{QColor(62, 136, 224), QColor(36, 106, 196), QColor(28, 86, 166), QColor(255, 255, 255)}
                          : Face{QColor(78, 90, 118), QColor(56, 65, 88), QColor(44, 51, 70), QColor(255, 255, 255)};
    QImage image = ButtonBase(WhiteBehind(96, 24), face);
    QPainter p(&image);
    Prepare(p);
    Caption(p, QRect(0, 0, 96, 24), text, face.text);
    return image;
}

// ---------------------------------------------------------------------------------------------
// Application icon: the Orvane mark over a sky plot on a rounded slate tile.

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

// ---------------------------------------------------------------------------------------------
// Preview: both panels as the program shows them, drawn by the program's own code over the new
// images, with sample values (UTC, so the sheet is the same everywhere).

GpsData SampleRecord()
{
    GpsData gps{};
    gps.year = 2010;
    gps.month = 1;
    gps.day = 5;
    gps.hour = 7;
    gps.minute = 5;
    gps.second = 9;
    gps.fixMode = 1;
    gps.hdop = 12.5f;
    gps.pdop = 99.9f;
    gps.latitude = 24.123456f;
    gps.longitude = -179.99999f;
    gps.speed = 123456.0f / 1.852f;
    gps.course = 359.9f;
    gps.altitude = 1234.5f;
    struct Sample {
        bool used;
        std::uint16_t prn, elevation, azimuth, snr;
    };
    const Sample sats[] = {{true, 7, 90, 0, 45}, {true, 12, 0, 90, 50}, {false, 30, 0, 0, 12}, {true, 2, 45, 225, 38},
                           {false, 19, 30, 300, 0}, {true, 24, 60, 140, 33}, {true, 5, 0, 180, 27}, {true, 120, 10, 250, 41}};
    std::size_t i = 0;
    for (const Sample& s : sats) {
        gps.satellites[i++] = SatelliteInfo{s.used, s.prn, s.elevation, s.azimuth, s.snr, Talker::GP};
    }
    return gps;
}

QImage Preview(const QImage& status, const QImage& satellites, const QImage& marker,
               const QImage& connect, const QImage& record)
{
    PanelResources res = PanelResources::WithFonts();
    res.bmpStatusPanel = status;
    res.bmpSatellitePanel = satellites;
    res.bmpSatelliteMarker = KeyedMarker(marker);
    setenv("TZ", "UTC0", 1);
    tzset();
    CMemDCEx dc(QRect(0, 0, panel::kWidth, panel::kSatellitePanelTop + panel::kSatellitePanelHeight));
    DrawStatusPanel(dc, SampleRecord(), res);
    QImage sheet = dc.Finish().toImage().convertToFormat(QImage::Format_RGB32);
    QPainter p(&sheet);
    p.drawImage(PanelRect(panel::kConnectButton).topLeft(), connect);
    p.drawImage(PanelRect(panel::kRecordButton).topLeft(), record);
    return sheet;
}

bool Save(const QImage& image, const QDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "orvane-imagegen: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(name), image.width(), image.height());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2 && !(args.size() == 4 && args[2] == QLatin1String("--preview"))) {
        std::fprintf(stderr, "usage: orvane-imagegen <output folder> [--preview <file.png>]\n");
        return 2;
    }
    if (QFontInfo(Sans(12)).family() != QLatin1String("Liberation Sans")) {
        std::fprintf(stderr, "orvane-imagegen: Liberation Sans is not installed (fonts-liberation2)\n");
        return 1;
    }
    QDir dir(args[1]);
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "orvane-imagegen: cannot create %s\n", qPrintable(args[1]));
        return 1;
    }

    const QImage band = TitleBand();
    const QImage connectBehind = band.copy(PanelRect(panel::kConnectButton));
    const QImage recordBehind = band.copy(PanelRect(panel::kRecordButton));

    const QImage status = StatusPanel();
    const QImage satellites = SatellitePanel();
    const QImage marker = SatelliteMarker();

    bool ok = true;
    ok &= Save(status, dir, QStringLiteral("status_panel_310.png"));
    ok &= Save(satellites, dir, QStringLiteral("satellite_panel_312.png"));
    ok &= Save(marker, dir, QStringLiteral("satellite_marker_323.png"));
    ok &= Save(ConnectButton(connectBehind, false, false), dir, QStringLiteral("btn_connect_313.png"));
    ok &= Save(ConnectButton(connectBehind, false, true), dir, QStringLiteral("btn_connect_hot_318.png"));
    ok &= Save(ConnectButton(connectBehind, true, false), dir, QStringLiteral("btn_disconnect_319.png"));
    ok &= Save(ConnectButton(connectBehind, true, true), dir, QStringLiteral("btn_disconnect_hot_320.png"));
    ok &= Save(RecordButton(recordBehind, false, false), dir, QStringLiteral("btn_rec_idle_314.png"));
    ok &= Save(RecordButton(recordBehind, false, true), dir, QStringLiteral("btn_rec_idle_hot_322.png"));
    ok &= Save(RecordButton(recordBehind, true, false), dir, QStringLiteral("btn_rec_active_315.png"));
    ok &= Save(RecordButton(recordBehind, true, true), dir, QStringLiteral("btn_rec_active_hot_321.png"));
    ok &= Save(ScanButton(false), dir, QStringLiteral("btn_scan_332.png"));
    ok &= Save(ScanButton(true), dir, QStringLiteral("btn_scan_hot_333.png"));
    ok &= Save(FormButton(QStringLiteral("Choose..."), false), dir, QStringLiteral("btn_choose_330.png"));
    ok &= Save(FormButton(QStringLiteral("Choose..."), true), dir, QStringLiteral("btn_choose_hot_331.png"));
    ok &= Save(FormButton(QStringLiteral("Save"), false), dir, QStringLiteral("btn_save_334.png"));
    ok &= Save(FormButton(QStringLiteral("Save"), true), dir, QStringLiteral("btn_save_hot_335.png"));
    for (int size : {256, 128, 64, 48, 32, 16}) {
        ok &= Save(AppIcon(size), dir, QStringLiteral("app_icon_128_%1.png").arg(size));
    }

    if (args.size() == 4) {
        const QImage sheet = Preview(status, satellites, marker, ConnectButton(connectBehind, false, false),
                                     RecordButton(recordBehind, false, false));
        if (!sheet.save(args[3], "PNG")) {
            std::fprintf(stderr, "orvane-imagegen: cannot write %s\n", qPrintable(args[3]));
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
