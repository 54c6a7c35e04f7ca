#include "ui/ImageButton.h"

#include <QEnterEvent>
#include <QFocusEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

CImageButton::CImageButton(QWidget* pParent) : QAbstractButton(pParent)
{
    // Clicking takes the focus as a Windows button does, so a field being edited commits
    // before the click is handled.
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

void CImageButton::SetImages(const QPixmap& normal, const QPixmap& hot)
{
    m_bmpNormal = normal;
    m_bmpHot = hot;
    m_bmpDisabled = QPixmap();
    if (!m_bmpNormal.isNull())
    {
        QStyleOption option;
        option.initFrom(this);
        m_bmpDisabled = style()->generatedIconPixmap(QIcon::Disabled, m_bmpNormal, &option);
    }
    updateGeometry();
    update();
}

bool CImageButton::LoadImages(const QString& normalPath, const QString& hotPath)
{
    const QPixmap normal(normalPath);
    SetImages(normal, hotPath.isEmpty() ? QPixmap() : QPixmap(hotPath));
    return !normal.isNull();
}

bool CImageButton::IsHighlighted() const
{
    return isEnabled() && !m_bmpHot.isNull() && (m_bHover || isDown());
}

QSize CImageButton::sizeHint() const
{
    if (m_bmpNormal.isNull())
        return QSize(75, 23);
    return m_bmpNormal.deviceIndependentSize().toSize();
}

void CImageButton::paintEvent(QPaintEvent* /*e*/)
{
    const QPixmap* pImage = &m_bmpNormal;
    if (!isEnabled() && !m_bmpDisabled.isNull())
        pImage = &m_bmpDisabled;
    else if (IsHighlighted())
        pImage = &m_bmpHot;
    if (pImage->isNull())
        return;

    const QSize imageSize = pImage->deviceIndependentSize().toSize();
    const QRect imageRect(QPoint((width() - imageSize.width()) / 2, (height() - imageSize.height()) / 2),
                          imageSize);

    QPainter painter(this);
    painter.drawPixmap(imageRect.topLeft(), *pImage);

    if (hasFocus() && m_bKeyboardFocus)
    {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = imageRect.adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void CImageButton::enterEvent(QEnterEvent* e)
{
    m_bHover = true;
    update();
    QAbstractButton::enterEvent(e);
}

void CImageButton::leaveEvent(QEvent* e)
{
    m_bHover = false;
    update();
    QAbstractButton::leaveEvent(e);
}

void CImageButton::focusInEvent(QFocusEvent* e)
{
    m_bKeyboardFocus = e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason ||
                       e->reason() == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(e);
}

void CImageButton::focusOutEvent(QFocusEvent* e)
{
    m_bKeyboardFocus = false;
    QAbstractButton::focusOutEvent(e);
}
