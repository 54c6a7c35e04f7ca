#include "ui/LogCtrl.h"

#include "ui/MemDCEx.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include <algorithm>
#include <cstdint>

namespace
{

constexpr int kLeftMargin = 4;

// A scroll bar that is repainted only when what it shows changes. The terminal moves it to the
// end for every line, but in a long log its handle stays where it is, pixel for pixel.
class QuietScrollBar : public QScrollBar
{
public:
    explicit QuietScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

protected:
    void sliderChange(SliderChange change) override
    {
        if (change == SliderOrientationChange)
        {
            QScrollBar::sliderChange(change);
            return;
        }
        // Range, page and value change one after the other: the look is judged after all.
        if (m_bCheckQueued)
            return;
        m_bCheckQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_bCheckQueued = false;
                if (Look() != m_shown)
                    update();
            },
            Qt::QueuedConnection);
    }

    void paintEvent(QPaintEvent* event) override
    {
        m_shown = Look();
        QScrollBar::paintEvent(event);
    }

private:
    struct Appearance
    {
        QRect handle;
        // A style may grey an arrow at its end.
        bool atTop = false;
        bool atEnd = false;
        bool operator==(const Appearance&) const = default;
    };

    Appearance Look() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum()};
    }

    Appearance m_shown;
    bool m_bCheckQueued = false;
};

// Length of the text without its line end: CR and LF are kept in the store but have no glyph,
// and the text engine would draw them as boxes.
std::size_t VisibleLength(const std::wstring& text)
{
    std::size_t n = text.size();
    while (n > 0 && (text[n - 1] == L'\n' || text[n - 1] == L'\r'))
        --n;
    return n;
}

} // namespace

CLogCtrl::CLogCtrl(QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_crBackground(255, 255, 255)
{
    setVerticalScrollBar(new QuietScrollBar(this));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    // Paint fills its exposed rectangle itself, so no erase pass, and scrolling can move pixels.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    verticalScrollBar()->setSingleStep(1);
    m_showTimer.setSingleShot(true);
    connect(&m_showTimer, &QTimer::timeout, this, &CLogCtrl::ShowPending);
    verticalScrollBar()->installEventFilter(this);
    SetLineHeight(QFontMetrics(QApplication::font()).height());
}

CLogCtrl::~CLogCtrl() = default;

bool CLogCtrl::Create(const std::wstring& windowName, bool visible, const QRect& rect, QWidget* parent, int id)
{
    SetLineHeight(QFontMetrics(QApplication::font()).height());
    setObjectName(QString::fromStdWString(windowName));
    m_nId = id;
    if (parent != parentWidget())
        setParent(parent);
    setGeometry(rect);
    setVisible(visible);
    UpdateScrollRange();
    return true;
}

void CLogCtrl::AddLine(const std::wstring& text)
{
    Store(text);
    if (m_nBatchDepth > 0)
        m_bPending = true;
    else
        RequestShow();
}

void CLogCtrl::AddLines(std::span<const std::wstring> texts)
{
    const Batch batch(*this);
    for (const std::wstring& text : texts)
        AddLine(text);
}

void CLogCtrl::BeginBatch()
{
    ++m_nBatchDepth;
}

void CLogCtrl::EndBatch()
{
    if (m_nBatchDepth > 0 && --m_nBatchDepth == 0 && m_bPending)
        RequestShow();
}

// Each show scrolls and flushes the whole pane, so lines that come one by one are gathered.
void CLogCtrl::RequestShow()
{
    const qint64 since = m_sinceShown.isValid() ? m_sinceShown.elapsed() : m_nShowIntervalMs;
    if (since >= m_nShowIntervalMs)
    {
        ShowNewLines();
        return;
    }
    m_bPending = true;
    if (!m_showTimer.isActive())
        m_showTimer.start(static_cast<int>(m_nShowIntervalMs - since));
}

void CLogCtrl::SetShowInterval(int milliseconds)
{
    m_nShowIntervalMs = milliseconds;
    m_sinceShown.invalidate();
}

void CLogCtrl::ShowPending()
{
    if (m_bPending && m_nBatchDepth == 0)
        ShowNewLines();
}

void CLogCtrl::Store(const std::wstring& text)
{
    if (m_ring.size() < kMaxLines)
    {
        m_ring.push_back(LogLine{text, QColor(0, 0, 0)});
        return;
    }
    // Assigning into the oldest slot reuses its text's buffer.
    LogLine& slot = m_ring[m_nFirst];
    slot.text = text;
    slot.color = QColor(0, 0, 0);
    m_nFirst = (m_nFirst + 1) % kMaxLines;
    ++m_nDropped;
}

void CLogCtrl::ShowNewLines()
{
    m_bPending = false;
    m_showTimer.stop();
    m_sinceShown.start();
    // Positions counted over every line ever added, so a full ring, whose top line index stays
    // the same, still shows how far its contents moved.
    const std::int64_t oldTop = static_cast<std::int64_t>(m_nDroppedShown) + GetTopLine();
    UpdateScrollRange();
    // The pixels are moved once below, for the whole batch.
    m_bScrollingToEnd = true;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    m_bScrollingToEnd = false;
    const std::int64_t newTop = static_cast<std::int64_t>(m_nDropped) + GetTopLine();
    const std::int64_t firstNew = static_cast<std::int64_t>(m_nTotalShown);
    m_nDroppedShown = m_nDropped;
    m_nTotalShown = m_nDropped + m_ring.size();

    const std::int64_t shift = newTop - oldTop;
    if (shift < 0 || shift >= GetPageLines())
    {
        viewport()->update();
        return;
    }
    // Lines already shown move up; only the rows of the new ones are painted.
    if (shift > 0)
        viewport()->scroll(0, static_cast<int>(-shift) * m_nLineHeight);
    const int firstRow = static_cast<int>(std::max<std::int64_t>(0, firstNew - newTop));
    viewport()->update(QRect(0, firstRow * m_nLineHeight, viewport()->width(), viewport()->height()));
}

int CLogCtrl::GetTopLine() const
{
    return verticalScrollBar()->value();
}

int CLogCtrl::GetPageLines() const
{
    return m_nLineHeight > 0 ? viewport()->height() / m_nLineHeight : 0;
}

void CLogCtrl::SetLineHeight(int pixels)
{
    m_nLineHeight = std::max(1, pixels);
    m_font = MakeCellHeightFont(QStringLiteral("Arial"), m_nLineHeight);
    // Sentences are plain ASCII: no shaping, the most of a line's drawing, and no kerning.
    m_font.setStyleStrategy(QFont::PreferNoShaping);
    QFontMetrics metrics(m_font);
    // Centre the text's line box in the pitch when the font came out shorter than asked.
    m_nAscent = metrics.ascent() + std::max(0, (m_nLineHeight - metrics.height()) / 2);
    UpdateScrollRange();
    viewport()->update();
}

// The scroll bar's value is the top line. Its maximum is the last top line that still fills
// the page, which is where a scroll to the end lands.
void CLogCtrl::UpdateScrollRange()
{
    const int count = static_cast<int>(m_ring.size());
    const int page = std::max(1, GetPageLines());
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(page);
    bar->setRange(0, std::max(0, count - page));
}

void CLogCtrl::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect clip = event->rect();
    painter.fillRect(clip, m_crBackground);
    if (m_ring.empty() || clip.isEmpty())
        return;

    painter.setFont(m_font);
    const int top = GetTopLine();
    const int first = top + clip.top() / m_nLineHeight;
    const int last = std::min(static_cast<int>(m_ring.size()) - 1, top + clip.bottom() / m_nLineHeight);
    for (int i = first; i <= last; ++i)
        DrawLine(painter, i, (i - top) * m_nLineHeight);
}

void CLogCtrl::DrawLine(QPainter& painter, int index, int top)
{
    const LogLine& line = GetLine(static_cast<std::size_t>(index));
    const std::size_t length = VisibleLength(line.text);
    if (length == 0)
        return;
    painter.setPen(line.color);
    painter.drawText(QPoint(kLeftMargin, top + m_nAscent),
                     QString::fromWCharArray(line.text.data(), static_cast<qsizetype>(length)));
}

void CLogCtrl::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
}

void CLogCtrl::scrollContentsBy(int /*dx*/, int dy)
{
    if (dy == 0 || m_bScrollingToEnd)
        return;
    // Moves the pixels already drawn and invalidates only the uncovered strip.
    viewport()->scroll(0, dy * m_nLineHeight);
}

void CLogCtrl::wheelEvent(QWheelEvent* event)
{
    event->ignore();
}

void CLogCtrl::keyPressEvent(QKeyEvent* event)
{
    event->ignore();
}

bool CLogCtrl::eventFilter(QObject* watched, QEvent* event)
{
    // The wheel over the scroll bar does not scroll either: only the bar's own buttons, track
    // and thumb do.
    if (watched == verticalScrollBar() && (event->type() == QEvent::Wheel || event->type() == QEvent::KeyPress))
        return true;
    return QAbstractScrollArea::eventFilter(watched, event);
}
