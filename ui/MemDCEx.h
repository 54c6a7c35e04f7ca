#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <QString>

// Off-screen drawing surface of the status panel. Everything is composed here and copied to
// the widget in one piece, so the panel never flickers. The drawing operations are virtual so a
// test can watch what the panel draws.
class CMemDCEx
{
public:
    // The surface spans the view from its origin to the far corner of the clip box.
    explicit CMemDCEx(const QRect& clipBox);
    CMemDCEx(const CMemDCEx&) = delete;
    CMemDCEx& operator=(const CMemDCEx&) = delete;
    virtual ~CMemDCEx();

    const QRect& GetClipBox() const { return m_rcClip; }
    const QPixmap& GetPixmap() const { return m_bitmap; }
    // Ends drawing; the pixmap is complete afterwards.
    const QPixmap& Finish();

    virtual void FillSolidRect(const QRect& rc, const QColor& color);
    virtual void BitBlt(int x, int y, const QImage& image);
    // Copies the image, leaving out every pixel of the key colour.
    virtual void TransparentBlt(int x, int y, const QImage& image, const QColor& key);
    // Text with its top-left corner at (x, y).
    virtual void TextOut(int x, int y, const QString& text);
    // Text left-aligned at the top of the box, clipped to it.
    virtual void DrawText(const QString& text, const QRect& box);
    // Text read from bottom to top, its baseline along x + ascent, ending at (x, bottom).
    virtual void TextOutUpward(int x, int bottom, const QString& text);
    virtual void Ellipse(const QRect& rc, const QColor& fill, const QColor& outline);
    virtual void FillRect(const QRect& rc, const QColor& color);
    virtual void MoveTo(int x, int y);
    virtual void LineTo(int x, int y);

    QFont SelectFont(const QFont& font);
    QColor SetTextColor(const QColor& color);
    QPen SelectPen(const QPen& pen);
    const QFont& GetFont() const { return m_font; }
    const QColor& GetTextColor() const { return m_crText; }

private:
    QRect m_rcClip;
    QPixmap m_bitmap;
    QPainter m_painter;
    QFont m_font;
    QColor m_crText{Qt::black};
    QPen m_pen{Qt::black};
    QPoint m_ptCurrent;
};

// "Arial" whose cell height (ascent + descent) is the given pixel count, as the panel's fonts
// are specified; Arial resolves to the metric-compatible Liberation Sans.
QFont MakeCellHeightFont(const QString& face, int cellHeight, bool bold = false);
