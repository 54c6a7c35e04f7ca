#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QRect>

#include <string>
#include <vector>

class QPainter;

// One line of the terminal: the text exactly as it was added (line end included) and its colour.
struct LogLine
{
    std::wstring text;
    QColor color;
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

    int GetDlgCtrlID() const { return m_nId; }
    const std::vector<LogLine>& GetLines() const { return m_lines; }
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

    std::vector<LogLine> m_lines;
    QColor m_crBackground;
    QFont m_font;
    int m_nLineHeight = 0;
    int m_nId = 0;
    int m_nAscent = 0;
    bool m_bRepaintAll = false;
};
