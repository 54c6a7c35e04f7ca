#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QHash>
#include <QRect>
#include <QRegion>
#include <QStaticText>
#include <QString>

// Off-screen drawing surface of the status panel. Everything is composed here and copied to
// the widget in one piece, so the panel never flickers. The drawing operations are virtual so a
// test can watch what the panel draws. Coordinates are logical pixels; at a device pixel ratio
// above 1 the surface has that many more pixels, so text and lines come out crisp and images are
// scaled smoothly. One surface can be drawn again and again (Begin), keeping its pixmap.
class CMemDCEx
{
public:
    // The surface spans the view from its origin to the far corner of the clip box.
    explicit CMemDCEx(const QRect& clipBox, qreal devicePixelRatio = 1.0);
    CMemDCEx(const CMemDCEx&) = delete;
    CMemDCEx& operator=(const CMemDCEx&) = delete;
    virtual ~CMemDCEx();

    const QRect& GetClipBox() const { return m_rcClip; }
    const QPixmap& GetPixmap() const { return m_bitmap; }
    qreal GetDevicePixelRatio() const { return m_bitmap.devicePixelRatio(); }
    // Pixmaps made so far: one for a surface drawn again at the same size and ratio.
    int GetAllocations() const { return m_nAllocations; }
    // Ends drawing; the pixmap is complete afterwards.
    const QPixmap& Finish();
    // Starts a new picture for a clip box. While the size and ratio stay the same the pixmap is
    // kept, still holding the previous picture, which the new one is expected to cover. Drawing
    // state (font, colours, pen) returns to that of a new surface.
    void Begin(const QRect& clipBox, qreal devicePixelRatio = 1.0);
    // Limits this picture's drawing to a region; the rest keeps the previous picture.
    void ClipTo(const QRegion& region);

    virtual void FillSolidRect(const QRect& rc, const QColor& color);
    virtual void BitBlt(int x, int y, const QImage& image);
    // Copies the image, leaving out every pixel of the key colour. An image with an alpha
    // channel counts as keyed already (see KeyedMarker) and is drawn as it is.
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
    void StartPainting();
    // The text laid out in the current font, kept: shaping is most of what a text draw costs,
    // and the panel's labels and values come back paint after paint.
    const QStaticText& LaidOut(const QString& text);
    void NoteFont();
    static constexpr qsizetype kMaxLaidOut = 512;

    QRect m_rcClip;
    QPixmap m_bitmap;
    QPainter m_painter;
    QFont m_font;
    QString m_strFontKey;
    qreal m_dTextDrop = 0;
    QHash<QString, QStaticText> m_laidOut;
    QColor m_crText{Qt::black};
    QPen m_pen{Qt::black};
    QPoint m_ptCurrent;
    int m_nAllocations = 0;
};

// The image with every pixel of the key colour made transparent.
QImage KeyOut(const QImage& image, const QColor& key);

// "Arial" whose cell height (ascent + descent) is the given pixel count, as the panel's fonts
// are specified; Arial resolves to the metric-compatible Liberation Sans.
QFont MakeCellHeightFont(const QString& face, int cellHeight, bool bold = false);
