#pragma once

#include <QAbstractButton>
#include <QPixmap>

class QEnterEvent;

// A push button drawn entirely from two images: the normal one, and the highlighted one while
// the pointer is over the button or it is held down. The caption is not drawn (the images carry
// their own text); give the button an accessible name instead. The image is centred in the
// button, so a button taller than its image shows the parent's background above and below.
class CImageButton : public QAbstractButton
{
public:
    explicit CImageButton(QWidget* pParent = nullptr);

    // Either image may be null: without a highlighted image the normal one stays on hover.
    void SetImages(const QPixmap& normal, const QPixmap& hot);
    // Loads both images (resource or file paths); false when the normal image is missing.
    bool LoadImages(const QString& normalPath, const QString& hotPath);

    const QPixmap& NormalImage() const { return m_bmpNormal; }
    const QPixmap& HotImage() const { return m_bmpHot; }
    // The image a paint draws now: highlighted while hovered or held down, and enabled.
    bool IsHighlighted() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    QPixmap m_bmpNormal;
    QPixmap m_bmpHot;
    QPixmap m_bmpDisabled;
    bool m_bHover = false;
    // Windows-like: the focus rectangle shows only after the keyboard moved the focus here.
    bool m_bKeyboardFocus = false;
};
