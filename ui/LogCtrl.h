#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QRect>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <vector>

class CLogCtrl;
class QPainter;

// One line of the terminal: the text exactly as it was added (line end included) and its colour.
struct LogLine
{
    std::wstring text;
    QColor color;
};

// The terminal's lines, oldest first, read through the control as it is now (a view, not a
// copy: lines added later show in it). Indexes, front/back and iteration as a vector's.
class LogLines
{
public:
    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = LogLine;
        using difference_type = std::ptrdiff_t;
        using pointer = const LogLine*;
        using reference = const LogLine&;

        const_iterator() = default;
        const_iterator(const CLogCtrl* ctrl, std::size_t index) : m_ctrl(ctrl), m_index(index) {}
        reference operator*() const;
        pointer operator->() const { return &**this; }
        const_iterator& operator++()
        {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator old = *this;
            ++m_index;
            return old;
        }
        bool operator==(const const_iterator& other) const { return m_index == other.m_index; }

    private:
        const CLogCtrl* m_ctrl = nullptr;
        std::size_t m_index = 0;
    };

    explicit LogLines(const CLogCtrl& ctrl) : m_ctrl(&ctrl) {}

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    const LogLine& operator[](std::size_t index) const;
    const LogLine& front() const { return (*this)[0]; }
    const LogLine& back() const { return (*this)[size() - 1]; }
    const_iterator begin() const { return {m_ctrl, 0}; }
    const_iterator end() const { return {m_ctrl, size()}; }
    // A copy, for code that keeps the lines as they were.
    operator std::vector<LogLine>() const { return std::vector<LogLine>(begin(), end()); }

private:
    const CLogCtrl* m_ctrl;
};

// The terminal: a read-only pane of the newest raw sentences, one per line, that scrolls to the
// end on every new line. Only its scroll bar scrolls it; it takes no wheel or key input.
class CLogCtrl : public QAbstractScrollArea
{
    Q_OBJECT

public:
    static constexpr std::size_t kMaxLines = 10001;

    explicit CLogCtrl(QWidget* parent = nullptr);
    ~CLogCtrl() override;

    // Measures the line height from the default font, creates the line font and places the
    // pane in parent at rect. The vertical scroll bar is always shown.
    virtual bool Create(const std::wstring& windowName, bool visible, const QRect& rect, QWidget* parent, int id);

    void AddLine(const std::wstring& text);
    // Several lines with one scroll to the end and one repaint.
    void AddLines(std::span<const std::wstring> texts);

    // Lines added while a batch is open are stored at once but shown when the outermost batch
    // closes, with a single scroll to the end and repaint. Batches nest. Nothing may process
    // events (and so paint the pane) while one is open.
    void BeginBatch();
    void EndBatch();
    class Batch
    {
    public:
        explicit Batch(CLogCtrl& ctrl) : m_ctrl(ctrl) { m_ctrl.BeginBatch(); }
        ~Batch() { m_ctrl.EndBatch(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        CLogCtrl& m_ctrl;
    };

    // Lines that trickle in are shown together, at most once per interval (a first line after a
    // quiet spell at once); 0, the default, shows every line or batch at once.
    void SetShowInterval(int milliseconds);
    // Shows now what waits for the interval.
    void ShowPending();

    int GetDlgCtrlID() const { return m_nId; }
    // Line `index` of GetLineCount(), oldest first.
    std::size_t GetLineCount() const { return m_ring.size(); }
    const LogLine& GetLine(std::size_t index) const { return m_ring[(m_nFirst + index) % m_ring.size()]; }
    LogLines GetLines() const { return LogLines(*this); }
    int GetLineHeight() const { return m_nLineHeight; }
    // Index of the line shown at the top.
    int GetTopLine() const;
    // Whole lines that fit the client height.
    int GetPageLines() const;

protected:
    // Sets the line pitch and makes the font match it; Create takes it from the default font.
    void SetLineHeight(int pixels);
    // Draws line `index` with its top at `top`; paint calls it only for lines meeting the
    // exposed rectangle.
    virtual void DrawLine(QPainter& painter, int index, int top);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void UpdateScrollRange();
    void Store(const std::wstring& text);
    // Scrolls to the end and repaints for the lines stored since the last time.
    void ShowNewLines();
    void RequestShow();

    // A ring of at most kMaxLines: it grows until full, then the oldest slot is overwritten and
    // m_nFirst moves on, so no line is ever shifted.
    std::vector<LogLine> m_ring;
    std::size_t m_nFirst = 0;
    // Lines overwritten so far, and that count and the lines added when last shown.
    std::uint64_t m_nDropped = 0;
    std::uint64_t m_nDroppedShown = 0;
    std::uint64_t m_nTotalShown = 0;
    int m_nBatchDepth = 0;
    bool m_bPending = false;
    QColor m_crBackground;
    QFont m_font;
    int m_nLineHeight = 0;
    int m_nId = 0;
    int m_nAscent = 0;
    bool m_bScrollingToEnd = false;
    int m_nShowIntervalMs = 0;
    QElapsedTimer m_sinceShown;
    QTimer m_showTimer;
};

inline std::size_t LogLines::size() const
{
    return m_ctrl->GetLineCount();
}

inline const LogLine& LogLines::operator[](std::size_t index) const
{
    return m_ctrl->GetLine(index);
}

inline const LogLine& LogLines::const_iterator::operator*() const
{
    return m_ctrl->GetLine(m_index);
}
