#include "ui/MemDCEx.h"

#include <QFontMetrics>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <utility>

namespace
{
QSize DeviceSize(const QRect& clipBox, qreal dpr)
{
    const QSize logical(std::max(1, clipBox.right() + 1), std::max(1, clipBox.bottom() + 1));
    return QSize(static_cast<int>(std::ceil(logical.width() * dpr)), static_cast<int>(std::ceil(logical.height() * dpr)));
}
} // namespace

CMemDCEx::CMemDCEx(const QRect& clipBox, qreal devicePixelRatio)
{
    Begin(clipBox, devicePixelRatio);
}

void CMemDCEx::Begin(const QRect& clipBox, qreal devicePixelRatio)
{
    if (m_painter.isActive())
        m_painter.end();
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    m_rcClip = clipBox;
    const QSize size = DeviceSize(clipBox, dpr);
    if (m_bitmap.size() != size || m_bitmap.devicePixelRatio() != dpr)
    {
        m_bitmap = QPixmap(size);
        m_bitmap.setDevicePixelRatio(dpr);
        // Opaque, as a screen bitmap starts: copying it to the widget then needs no blending.
        m_bitmap.fill(Qt::black);
        ++m_nAllocations;
        // Laid out for the old ratio's pixels.
        m_laidOut.clear();
    }
    StartPainting();
}

void CMemDCEx::StartPainting()
{
    m_painter.begin(&m_bitmap);
    // Only matters when scaling: the 1x images are then smoothed rather than doubled.
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform, m_bitmap.devicePixelRatio() != 1.0);
    m_font = m_painter.font();
    NoteFont();
    m_crText = Qt::black;
    m_pen = QPen(Qt::black);
    m_ptCurrent = QPoint();
}

CMemDCEx::~CMemDCEx()
{
    if (m_painter.isActive())
        m_painter.end();
}

const QPixmap& CMemDCEx::Finish()
{
    if (m_painter.isActive())
        m_painter.end();
    return m_bitmap;
}

void CMemDCEx::FillSolidRect(const QRect& rc, const QColor& color)
{
    m_painter.fillRect(rc, color);
}

void CMemDCEx::BitBlt(int x, int y, const QImage& image)
{
    m_painter.drawImage(QPoint(x, y), image);
}

QImage KeyOut(const QImage& image, const QColor& key)
{
    QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb keyRgb = key.rgb() & 0x00FFFFFF;
    for (int row = 0; row < keyed.height(); ++row)
    {
        auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(row));
        for (int col = 0; col < keyed.width(); ++col)
        {
            if ((line[col] & 0x00FFFFFF) == keyRgb)
                line[col] = 0;
        }
    }
    return keyed;
}

void CMemDCEx::TransparentBlt(int x, int y, const QImage& image, const QColor& key)
{
    if (image.hasAlphaChannel())
    {
        m_painter.drawImage(QPoint(x, y), image);
        return;
    }
    m_painter.drawImage(QPoint(x, y), KeyOut(image, key));
}

void CMemDCEx::ClipTo(const QRegion& region)
{
    m_painter.setClipRegion(region);
}

const QStaticText& CMemDCEx::LaidOut(const QString& text)
{
    QString key = m_strFontKey;
    key += QChar(0x1F);
    key += text;
    auto it = m_laidOut.constFind(key);
    if (it == m_laidOut.constEnd())
    {
        // Changing values (time, position) would grow it without end.
        if (m_laidOut.size() >= kMaxLaidOut)
            m_laidOut.clear();
        QStaticText laid(text);
        laid.setTextFormat(Qt::PlainText);
        laid.prepare(m_painter.deviceTransform(), m_font);
        it = m_laidOut.insert(key, laid);
    }
    return *it;
}

void CMemDCEx::TextOut(int x, int y, const QString& text)
{
    m_painter.setFont(m_font);
    m_painter.setPen(m_crText);
    m_painter.drawStaticText(QPointF(x, y + m_dTextDrop), LaidOut(text));
}

void CMemDCEx::DrawText(const QString& text, const QRect& box)
{
    m_painter.save();
    m_painter.setClipRect(box, Qt::IntersectClip);
    m_painter.setFont(m_font);
    m_painter.setPen(m_crText);
    m_painter.drawStaticText(QPointF(box.left(), box.top() + m_dTextDrop), LaidOut(text));
    m_painter.restore();
}

void CMemDCEx::TextOutUpward(int x, int bottom, const QString& text)
{
    const QFontMetrics fm(m_font);
    m_painter.save();
    m_painter.setFont(m_font);
    m_painter.setPen(m_crText);
    m_painter.translate(x + fm.ascent(), bottom);
    m_painter.rotate(-90);
    m_painter.drawText(QPoint(0, 0), text);
    m_painter.restore();
}

void CMemDCEx::Ellipse(const QRect& rc, const QColor& fill, const QColor& outline)
{
    m_painter.save();
    m_painter.setRenderHint(QPainter::Antialiasing, true);
    m_painter.setPen(outline.isValid() ? QPen(outline, 1) : QPen(Qt::NoPen));
    m_painter.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
    m_painter.drawEllipse(rc);
    m_painter.restore();
}

void CMemDCEx::FillRect(const QRect& rc, const QColor& color)
{
    m_painter.fillRect(rc, color);
}

void CMemDCEx::MoveTo(int x, int y)
{
    m_ptCurrent = QPoint(x, y);
}

void CMemDCEx::LineTo(int x, int y)
{
    // A GDI line leaves out its last pixel.
    const QPoint to(x, y);
    if (to != m_ptCurrent)
    {
        m_painter.setPen(m_pen);
        m_painter.setRenderHint(QPainter::Antialiasing, false);
        const QPoint d = to - m_ptCurrent;
        const QPoint step(d.x() > 0 ? 1 : (d.x() < 0 ? -1 : 0), d.y() > 0 ? 1 : (d.y() < 0 ? -1 : 0));
        m_painter.drawLine(m_ptCurrent, to - step);
    }
    m_ptCurrent = to;
}

QFont CMemDCEx::SelectFont(const QFont& font)
{
    QFont old = std::exchange(m_font, font);
    NoteFont();
    return old;
}

void CMemDCEx::NoteFont()
{
    m_strFontKey = m_font.key();
    // Laid-out text puts its baseline at the exact ascent; the surface's texts stand on the
    // whole-pixel one, which a ratio above 1 would otherwise show.
    m_dTextDrop = QFontMetrics(m_font).ascent() - QFontMetricsF(m_font).ascent();
}

QColor CMemDCEx::SetTextColor(const QColor& color)
{
    return std::exchange(m_crText, color);
}

QPen CMemDCEx::SelectPen(const QPen& pen)
{
    return std::exchange(m_pen, pen);
}

QFont MakeCellHeightFont(const QString& face, int cellHeight, bool bold)
{
    QFont font(face);
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    int size = std::max(1, cellHeight);
    for (; size > 1; --size)
    {
        font.setPixelSize(size);
        if (QFontMetrics(font).height() <= cellHeight)
            break;
    }
    font.setPixelSize(size);
    return font;
}
