// The terminal as a real widget on the offscreen platform: the line store, the scroll position
// after new lines and after scroll-bar requests, what a paint draws and how line ends render.

#include "ui/LogCtrl.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

// The control with its line pitch settable and its drawing and scrolling recorded.
class LogCtrlProbe : public CLogCtrl
{
public:
    using CLogCtrl::SetLineHeight;

    std::vector<int> drawn;
    std::vector<int> scrolled;

protected:
    void DrawLine(QPainter& painter, int index, int top) override
    {
        drawn.push_back(index);
        CLogCtrl::DrawLine(painter, index, top);
    }

    void scrollContentsBy(int dx, int dy) override
    {
        scrolled.push_back(dy);
        CLogCtrl::scrollContentsBy(dx, dy);
    }
};

const std::wstring kGga = L"$GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,*76";

std::wstring Numbered(int n)
{
    return L"$GPTXT,01,01,02,line " + std::to_wstring(n) + L"*00\r\n";
}

// A shown control of the given client size with 16-pixel lines.
struct Pane
{
    LogCtrlProbe ctrl;

    explicit Pane(int height, int width = 300)
    {
        ctrl.Create(L"LogCtrl", true, QRect(0, 0, width, height), nullptr, 100);
        ctrl.SetLineHeight(16);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&ctrl));
    }

    void Fill(int lines)
    {
        for (int i = 0; i < lines; ++i)
            ctrl.AddLine(Numbered(i));
        QApplication::processEvents();
    }

    // Lets pending paints run, then forgets what was drawn and scrolled.
    void Settle()
    {
        QApplication::processEvents();
        ctrl.drawn.clear();
        ctrl.scrolled.clear();
    }

    // Paints the whole pane into an image (which counts as drawing).
    QImage Pixels() { return ctrl.viewport()->grab().toImage(); }
};

bool IsBackground(const QImage& image, const QRect& area)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) != QColor(255, 255, 255))
                return false;
    return true;
}

} // namespace

TEST(LogCtrlCreate, TakesNameIdAndTheDefaultFontsHeight)
{
    QWidget parent;
    CLogCtrl ctrl;
    ASSERT_TRUE(ctrl.Create(L"LogCtrl", true, QRect(0, 0, 400, 160), &parent, 100));
    EXPECT_EQ(ctrl.objectName(), QStringLiteral("LogCtrl"));
    EXPECT_EQ(ctrl.GetDlgCtrlID(), 100);
    EXPECT_EQ(ctrl.parentWidget(), &parent);
    EXPECT_EQ(ctrl.geometry(), QRect(0, 0, 400, 160));
    EXPECT_EQ(ctrl.GetLineHeight(), QFontMetrics(QApplication::font()).height());
    EXPECT_EQ(ctrl.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(ctrl.GetLines().empty());
}

TEST(LogCtrlStore, KeepsTextAndLineEndAsGivenInBlack)
{
    CLogCtrl ctrl;
    ctrl.AddLine(kGga + L"\r\n");
    ctrl.AddLine(L"");
    ASSERT_EQ(ctrl.GetLines().size(), 2u);
    EXPECT_EQ(ctrl.GetLines()[0].text, kGga + L"\r\n");
    EXPECT_EQ(ctrl.GetLines()[0].color, QColor(0, 0, 0));
    EXPECT_EQ(ctrl.GetLines()[1].text, L"");
}

TEST(LogCtrlStore, HoldsTenThousandAndOneLinesThenDropsTheOldest)
{
    CLogCtrl ctrl;
    ctrl.resize(300, 160);
    for (int i = 0; i < 10001; ++i)
        ctrl.AddLine(Numbered(i));
    ASSERT_EQ(ctrl.GetLines().size(), 10001u);
    EXPECT_EQ(ctrl.GetLines().front().text, Numbered(0));
    EXPECT_EQ(ctrl.GetLines().back().text, Numbered(10000));

    ctrl.AddLine(Numbered(10001));
    ASSERT_EQ(ctrl.GetLines().size(), 10001u);
    EXPECT_EQ(ctrl.GetLines().front().text, Numbered(1));
    EXPECT_EQ(ctrl.GetLines().back().text, Numbered(10001));

    ctrl.AddLine(Numbered(10002));
    ASSERT_EQ(ctrl.GetLines().size(), 10001u);
    EXPECT_EQ(ctrl.GetLines().front().text, Numbered(2));
    EXPECT_EQ(ctrl.GetLines()[9999].text, Numbered(10001));
}

// The store is a ring: after it wraps, indexes, iteration and copies still run oldest first.
struct RingRow
{
    const char* name;
    int added;
};

class LogCtrlRing : public ::testing::TestWithParam<RingRow>
{
};

TEST_P(LogCtrlRing, ReadsOldestFirstAfterAnyNumberOfWraps)
{
    const int added = GetParam().added;
    CLogCtrl ctrl;
    {
        const CLogCtrl::Batch batch(ctrl);
        for (int i = 0; i < added; ++i)
            ctrl.AddLine(Numbered(i));
    }
    const int kept = std::min<int>(added, static_cast<int>(CLogCtrl::kMaxLines));
    const int oldest = added - kept;
    const LogLines lines = ctrl.GetLines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kept));
    EXPECT_EQ(lines.front().text, Numbered(oldest));
    EXPECT_EQ(lines.back().text, Numbered(added - 1));
    int expected = oldest;
    for (const LogLine& line : lines)
        ASSERT_EQ(line.text, Numbered(expected++));
    EXPECT_EQ(expected, added);
    const std::vector<LogLine> copy = lines;
    EXPECT_EQ(copy[static_cast<std::size_t>(kept) / 3].text, Numbered(oldest + kept / 3));
}

INSTANTIATE_TEST_SUITE_P(
    Wraps, LogCtrlRing,
    ::testing::Values(RingRow{"NotFull", 37}, RingRow{"ExactlyFull", 10001}, RingRow{"OneOver", 10002},
                      RingRow{"HalfWayRound", 15000}, RingRow{"TwiceRoundAndABit", 20007}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LogCtrlStore, ViewFollowsLinesAddedAfterIt)
{
    CLogCtrl ctrl;
    const LogLines lines = ctrl.GetLines();
    EXPECT_TRUE(lines.empty());
    ctrl.AddLine(Numbered(1));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.back().text, Numbered(1));
}

// Lines added in a batch are stored at once and shown with one scroll to the end when the
// outermost batch closes. A 160-pixel pane of 25 lines shows 15..24.
struct BatchRow
{
    const char* name;
    int lines;
    bool batched;
    int expectedMoves; // of the scroll bar
};

class LogCtrlBatch : public ::testing::TestWithParam<BatchRow>
{
};

TEST_P(LogCtrlBatch, ScrollsOncePerBatch)
{
    const BatchRow& row = GetParam();
    Pane pane(160);
    pane.Fill(25);
    pane.Settle();
    QSignalSpy moves(pane.ctrl.verticalScrollBar(), &QScrollBar::valueChanged);
    std::vector<std::wstring> texts;
    for (int i = 0; i < row.lines; ++i)
        texts.push_back(Numbered(25 + i));
    if (row.batched)
    {
        const CLogCtrl::Batch outer(pane.ctrl);
        {
            const CLogCtrl::Batch inner(pane.ctrl);
            pane.ctrl.AddLines(texts);
        }
        EXPECT_EQ(pane.ctrl.GetLineCount(), static_cast<std::size_t>(25 + row.lines)) << "stored at once";
        EXPECT_EQ(pane.ctrl.GetTopLine(), 15) << "shown when the outer batch closes";
        EXPECT_EQ(moves.count(), 0);
    }
    else
    {
        for (const std::wstring& text : texts)
            pane.ctrl.AddLine(text);
    }
    EXPECT_EQ(moves.count(), row.expectedMoves);
    EXPECT_EQ(pane.ctrl.GetTopLine(), 15 + row.lines);
    pane.Settle();
    pane.ctrl.viewport()->repaint();
    ASSERT_FALSE(pane.ctrl.drawn.empty());
    EXPECT_EQ(pane.ctrl.drawn.back(), 24 + row.lines) << "the newest line is in the last row";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LogCtrlBatch,
    ::testing::Values(BatchRow{"OneByOne", 6, false, 6}, BatchRow{"BatchOfSix", 6, true, 1},
                      BatchRow{"BatchOfOne", 1, true, 1}, BatchRow{"BatchLongerThanAPage", 23, true, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// At the end, new lines move the shown ones up by their pixels and only their own rows are
// painted, also once the store is full and the top line's index no longer changes.
struct NewRowsRow
{
    const char* name;
    int filled;
    int added;
};

class LogCtrlNewRows : public ::testing::TestWithParam<NewRowsRow>
{
};

TEST_P(LogCtrlNewRows, PaintsOnlyTheNewLines)
{
    const NewRowsRow& row = GetParam();
    Pane pane(160);
    pane.Fill(row.filled);
    pane.Settle();
    std::vector<std::wstring> texts;
    for (int i = 0; i < row.added; ++i)
        texts.push_back(Numbered(row.filled + i));
    pane.ctrl.AddLines(texts);
    QApplication::processEvents();
    const int count = static_cast<int>(pane.ctrl.GetLineCount());
    std::vector<int> expected;
    for (int i = count - row.added; i < count; ++i)
        expected.push_back(i);
    EXPECT_EQ(pane.ctrl.drawn, expected);
    // The window's pixels are those of a full repaint.
    QScreen* screen = QGuiApplication::primaryScreen();
    const QImage shown = screen->grabWindow(pane.ctrl.winId()).toImage();
    pane.ctrl.viewport()->repaint();
    EXPECT_EQ(shown, screen->grabWindow(pane.ctrl.winId()).toImage());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LogCtrlNewRows,
    ::testing::Values(NewRowsRow{"FirstPageNotFull", 4, 1}, NewRowsRow{"OneLine", 25, 1}, NewRowsRow{"ThreeLines", 25, 3},
                      NewRowsRow{"FullStore", static_cast<int>(CLogCtrl::kMaxLines), 1},
                      NewRowsRow{"FullStoreTwoLines", static_cast<int>(CLogCtrl::kMaxLines) + 5, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// Client height 160 with 16-pixel lines shows 10 lines.
struct TopLineRow
{
    const char* name;
    int height;
    int lines;
    int expectedTop;
};

class LogCtrlTopLine : public ::testing::TestWithParam<TopLineRow>
{
};

TEST_P(LogCtrlTopLine, NewLineShowsTheLastPage)
{
    const TopLineRow& row = GetParam();
    Pane pane(row.height);
    pane.Fill(row.lines);
    EXPECT_EQ(pane.ctrl.GetTopLine(), row.expectedTop);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, LogCtrlTopLine,
    ::testing::Values(TopLineRow{"TwentyFiveLinesInTen", 160, 25, 15}, TopLineRow{"OneLine", 160, 1, 0},
                      TopLineRow{"ExactlyOnePage", 160, 10, 0}, TopLineRow{"OneMoreThanAPage", 160, 11, 1},
                      TopLineRow{"PartLineAtTheBottomDoesNotCount", 170, 25, 15},
                      TopLineRow{"TallerPane", 320, 25, 5}, TopLineRow{"ShorterThanOneLine", 10, 3, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// With a show interval, the first line after a quiet spell shows at once; those that follow
// within it wait for its end, a batch's close or ShowPending, and then show in one scroll.
TEST(LogCtrlShowInterval, LinesWithinTheIntervalShowTogether)
{
    Pane pane(160);
    pane.Fill(25);
    pane.ctrl.SetShowInterval(60000);
    QSignalSpy moves(pane.ctrl.verticalScrollBar(), &QScrollBar::valueChanged);
    pane.ctrl.AddLine(Numbered(25));
    EXPECT_EQ(pane.ctrl.GetTopLine(), 16) << "a line after a quiet spell waits for nothing";
    pane.ctrl.AddLine(Numbered(26));
    pane.ctrl.AddLines(std::vector<std::wstring>{Numbered(27), Numbered(28)});
    QApplication::processEvents();
    EXPECT_EQ(pane.ctrl.GetLineCount(), 29u) << "stored at once";
    EXPECT_EQ(pane.ctrl.GetTopLine(), 16) << "shown before the interval ended";
    pane.ctrl.ShowPending();
    EXPECT_EQ(pane.ctrl.GetTopLine(), 19);
    EXPECT_EQ(moves.count(), 2);
    pane.ctrl.ShowPending();
    EXPECT_EQ(moves.count(), 2) << "nothing waited";

    // The interval's end shows what waits by itself.
    pane.ctrl.SetShowInterval(50);
    pane.ctrl.AddLine(Numbered(29));
    pane.ctrl.AddLine(Numbered(30));
    EXPECT_TRUE(QTest::qWaitFor([&] { return pane.ctrl.GetTopLine() == 21; }, 5000)) << pane.ctrl.GetTopLine();
}

TEST(LogCtrlScroll, PageIsClientHeightOverLineHeight)
{
    Pane pane(160);
    EXPECT_EQ(pane.ctrl.GetPageLines(), 10);
    EXPECT_EQ(pane.ctrl.verticalScrollBar()->pageStep(), 10);
}

TEST(LogCtrlScroll, NewLineReturnsToTheEndAfterTheUserScrolledUp)
{
    Pane pane(160);
    pane.Fill(25);
    pane.ctrl.verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    ASSERT_EQ(pane.ctrl.GetTopLine(), 0);

    pane.ctrl.AddLine(Numbered(25));
    EXPECT_EQ(pane.ctrl.GetTopLine(), 16);
    QApplication::processEvents();
    // The newest line is the one in the last row.
    pane.Settle();
    pane.ctrl.viewport()->repaint();
    ASSERT_FALSE(pane.ctrl.drawn.empty());
    EXPECT_EQ(pane.ctrl.drawn.back(), 25);
}

// Scroll-bar requests from the end of 25 lines (top line 15, page 10).
struct RequestRow
{
    const char* name;
    QAbstractSlider::SliderAction action;
    int expectedTop;
};

class LogCtrlRequest : public ::testing::TestWithParam<RequestRow>
{
};

TEST_P(LogCtrlRequest, MovesTheTopLine)
{
    const RequestRow& row = GetParam();
    Pane pane(160);
    pane.Fill(25);
    pane.Settle();
    pane.ctrl.verticalScrollBar()->triggerAction(row.action);
    EXPECT_EQ(pane.ctrl.GetTopLine(), row.expectedTop);
    if (row.expectedTop != 15)
    {
        ASSERT_EQ(pane.ctrl.scrolled.size(), 1u);
        EXPECT_EQ(pane.ctrl.scrolled[0], 15 - row.expectedTop);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, LogCtrlRequest,
    ::testing::Values(RequestRow{"LineUp", QAbstractSlider::SliderSingleStepSub, 14},
                      RequestRow{"PageUp", QAbstractSlider::SliderPageStepSub, 5},
                      RequestRow{"Top", QAbstractSlider::SliderToMinimum, 0},
                      RequestRow{"Bottom", QAbstractSlider::SliderToMaximum, 15},
                      RequestRow{"PageDownAtTheEnd", QAbstractSlider::SliderPageStepAdd, 15}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LogCtrlScroll, LineDownAtTheEndChangesNothingAndScrollsNoPixels)
{
    Pane pane(160);
    pane.Fill(25);
    const QImage before = pane.Pixels();
    pane.Settle();

    pane.ctrl.verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QApplication::processEvents();

    EXPECT_EQ(pane.ctrl.GetTopLine(), 15);
    EXPECT_TRUE(pane.ctrl.scrolled.empty());
    EXPECT_TRUE(pane.ctrl.drawn.empty());
    EXPECT_EQ(pane.Pixels(), before);
}

TEST(LogCtrlScroll, LineUpMovesThePixelsAndPaintsOnlyTheUncoveredLine)
{
    Pane pane(160);
    pane.Fill(25);
    const QImage before = pane.Pixels();
    pane.Settle();

    pane.ctrl.verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QApplication::processEvents();

    ASSERT_EQ(pane.ctrl.scrolled, std::vector<int>{1});
    EXPECT_EQ(pane.ctrl.drawn, std::vector<int>{14});
    const QImage after = pane.Pixels();
    // What was in rows 0..8 now stands one line lower.
    EXPECT_EQ(after.copy(0, 16, after.width(), 144), before.copy(0, 0, before.width(), 144));
}

TEST(LogCtrlScroll, ThumbDragToTheMiddle)
{
    Pane pane(160);
    pane.Fill(25);
    pane.Settle();
    pane.ctrl.verticalScrollBar()->setSliderPosition(7);
    EXPECT_EQ(pane.ctrl.GetTopLine(), 7);
    ASSERT_EQ(pane.ctrl.scrolled, std::vector<int>{8});
}

TEST(LogCtrlScroll, ShrinkingThePaneKeepsTheLastPageInRange)
{
    Pane pane(160);
    pane.Fill(25);
    pane.ctrl.resize(pane.ctrl.width(), 80);
    EXPECT_EQ(pane.ctrl.GetPageLines(), 5);
    EXPECT_EQ(pane.ctrl.verticalScrollBar()->maximum(), 20);
    EXPECT_EQ(pane.ctrl.verticalScrollBar()->pageStep(), 5);

    pane.ctrl.resize(pane.ctrl.width(), 480);
    EXPECT_EQ(pane.ctrl.GetPageLines(), 30);
    EXPECT_EQ(pane.ctrl.GetTopLine(), 0);
}

TEST(LogCtrlInput, WheelAndKeysDoNotScroll)
{
    Pane pane(160);
    pane.Fill(25);
    ASSERT_EQ(pane.ctrl.GetTopLine(), 15);

    for (QWidget* target : {static_cast<QWidget*>(pane.ctrl.viewport()), static_cast<QWidget*>(pane.ctrl.verticalScrollBar())})
    {
        const QPointF at(5, 5);
        QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &wheel);
        EXPECT_EQ(pane.ctrl.GetTopLine(), 15);
    }
    for (int key : {Qt::Key_Up, Qt::Key_PageUp, Qt::Key_Home})
    {
        QTest::keyClick(&pane.ctrl, static_cast<Qt::Key>(key));
        QTest::keyClick(pane.ctrl.verticalScrollBar(), static_cast<Qt::Key>(key));
        EXPECT_EQ(pane.ctrl.GetTopLine(), 15) << key;
    }
}

// Paint of an exposed band: which lines it draws.
struct ClipRow
{
    const char* name;
    QRect clip;
    std::vector<int> expected; // relative to the top line
};

class LogCtrlClip : public ::testing::TestWithParam<ClipRow>
{
};

TEST_P(LogCtrlClip, DrawsOnlyTheLinesMeetingTheClip)
{
    const ClipRow& row = GetParam();
    Pane pane(160);
    pane.Fill(25);
    pane.Settle();
    const int top = pane.ctrl.GetTopLine();

    QImage target(pane.ctrl.viewport()->size(), QImage::Format_RGB32);
    pane.ctrl.viewport()->render(&target, QPoint(), QRegion(row.clip));

    std::vector<int> expected;
    for (int r : row.expected)
        expected.push_back(top + r);
    EXPECT_EQ(pane.ctrl.drawn, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bands, LogCtrlClip,
    ::testing::Values(ClipRow{"OneRow", QRect(0, 32, 100, 16), {2}}, ClipRow{"TwoRowsAcrossABoundary", QRect(0, 40, 100, 16), {2, 3}},
                      ClipRow{"LastPixelRowOnly", QRect(0, 159, 100, 1), {9}}, ClipRow{"FirstPixelRowOnly", QRect(0, 0, 100, 1), {0}},
                      ClipRow{"Whole", QRect(0, 0, 300, 160), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LogCtrlPaint, EmptyStoreIsAllBackground)
{
    Pane pane(160);
    pane.Settle();
    const QImage pixels = pane.Pixels();
    EXPECT_TRUE(pane.ctrl.drawn.empty());
    EXPECT_TRUE(IsBackground(pixels, pixels.rect()));
}

TEST(LogCtrlPaint, BelowTheLastLineIsBackground)
{
    Pane pane(160);
    pane.Fill(3);
    const QImage pixels = pane.Pixels();
    EXPECT_FALSE(IsBackground(pixels, QRect(0, 0, pixels.width(), 48)));
    EXPECT_TRUE(IsBackground(pixels, QRect(0, 48, pixels.width(), 112)));
}

// A sentence's CR LF stays in the store and leaves no mark on screen.
struct LineEndRow
{
    const char* name;
    std::wstring ending;
};

class LogCtrlLineEnd : public ::testing::TestWithParam<LineEndRow>
{
};

TEST_P(LogCtrlLineEnd, RendersLikeTheBareSentence)
{
    Pane bare(48, 700);
    bare.ctrl.AddLine(kGga);
    Pane ended(48, 700);
    ended.ctrl.AddLine(kGga + GetParam().ending);
    QApplication::processEvents();

    EXPECT_EQ(ended.ctrl.GetLines().back().text, kGga + GetParam().ending);
    const QImage withEnding = ended.Pixels();
    EXPECT_EQ(withEnding, bare.Pixels());

    // Nothing right of the sentence's own ink in its row.
    const QImage& pixels = withEnding;
    int inkRight = -1;
    for (int x = 0; x < pixels.width(); ++x)
        if (!IsBackground(pixels, QRect(x, 0, 1, 16)))
            inkRight = x;
    ASSERT_GT(inkRight, 0);
    EXPECT_TRUE(IsBackground(pixels, QRect(inkRight + 1, 0, pixels.width() - inkRight - 1, 48)));
}

INSTANTIATE_TEST_SUITE_P(Endings, LogCtrlLineEnd,
                         ::testing::Values(LineEndRow{"CrLf", L"\r\n"}, LineEndRow{"Lf", L"\n"}, LineEndRow{"Cr", L"\r"},
                                           LineEndRow{"CrCrLf", L"\r\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LogCtrlPaint, LineEndAloneDrawsNothing)
{
    Pane pane(48);
    pane.ctrl.AddLine(L"\r\n");
    const QImage pixels = pane.Pixels();
    EXPECT_TRUE(IsBackground(pixels, pixels.rect()));
}

namespace
{
struct PaintCount : QObject
{
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};
} // namespace

// A line a time at the end of a long log leaves the handle where it is: the bar is not painted
// again for it. While the log is short every line moves the handle, and the bar shows it.
TEST(LogCtrlScroll, TheScrollBarIsPaintedOnlyWhenItsHandleMoves)
{
    for (const int filled : {12, 3000})
    {
        SCOPED_TRACE(filled);
        Pane pane(160);
        pane.Fill(filled);
        pane.Settle();
        QScrollBar* bar = pane.ctrl.verticalScrollBar();
        const QImage before = bar->grab().toImage();
        PaintCount paints;
        bar->installEventFilter(&paints);
        for (int i = 0; i < 5; ++i)
        {
            pane.ctrl.AddLine(Numbered(filled + i));
            QApplication::processEvents();
        }
        bar->removeEventFilter(&paints);
        EXPECT_EQ(bar->value(), bar->maximum());
        if (filled > 1000)
        {
            EXPECT_EQ(paints.count, 0);
            EXPECT_EQ(bar->grab().toImage(), before) << "it looks as it did";
        }
        else
        {
            EXPECT_GE(paints.count, 1);
            EXPECT_NE(bar->grab().toImage(), before);
        }
    }
}
