// The image buttons: connect and record on the title band, scan, choose and save on the
// setup form.

#include "tools/imagegen/Drawing.h"
#include "tools/imagegen/Images.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QRadialGradient>

#include <cmath>

namespace imagegen {
namespace {

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

} // namespace

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

QImage CloseLogButton(const QImage& behind, bool hot)
{
    const Face face = BandFace(hot);
    QImage image = ButtonBase(behind, face);
    QPainter p(&image);
    Prepare(p);
    // A player's stop square, in the colour the connector has while connected.
    p.setPen(Qt::NoPen);
    p.setBrush(hot ? QColor(120, 240, 160) : QColor(92, 226, 132));
    p.drawRoundedRect(QRectF(11.5, 7.5, 9, 9), 1.5, 1.5);
    Caption(p, QRect(26, 0, 69, 24), QStringLiteral("Close Log"), face.text);
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

} // namespace imagegen
