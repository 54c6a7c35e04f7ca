#include "ui/HistoryView.h"

#include "recording/OrvaneDoc.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace
{
// The satellite panel's colours: its dark chart background, its slots, its labels and values.
const QColor kBackground(46, 52, 72);
const QColor kPlotFill(56, 62, 86);
const QColor kGrid(75, 81, 102);
const QColor kAxisText(170, 176, 190);
const QColor kTitle(255, 255, 255);
const QColor kValue(0, 200, 200);
const QColor kTop4(255, 255, 255);
const QColor kHdop(0, 200, 200);
const QColor kPdop(255, 255, 255);
const QColor kHorizontalAccuracy(255, 120, 200);
const QColor kRestart(255, 170, 0);
const QColor kFixLost(255, 80, 80);
const QColor kFix3d(0, 200, 0);
const QColor kFix2d(230, 200, 0);
const QColor kNoFix(200, 50, 50);
const QColor kCep50(0, 255, 0);
const QColor kCep95(255, 170, 0);

constexpr int kGutter = 26; // tick numbers left of the plots
constexpr int kRightMargin = 6;
constexpr int kHeader = 13; // a title row above each plot
constexpr int kFixBand = 7;
constexpr int kTimeRow = 12;
// Samples further apart than this are not joined: the receiver was silent in between.
constexpr std::int64_t kGapSeconds = 5;
constexpr float kSnrLow = 10.0f;
constexpr float kSnrHigh = 55.0f;

QString Format(const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return QString::fromLatin1(buffer);
}

QString Metres(double m)
{
    if (m >= 10000.0)
        return Format("%.0f km", m / 1000.0);
    return Format(m < 10.0 ? "%.2f m" : m < 100.0 ? "%.1f m" : "%.0f m", m);
}

// Where a second falls on a plot's width: the newest at the right edge.
struct TimeAxis
{
    int left = 0;
    int right = 0;
    std::int64_t now = 0;

    double X(std::int64_t t) const
    {
        return right - static_cast<double>(now - t) * (right - left) / History::kWindowSeconds;
    }
    bool Shows(std::int64_t t) const { return now - t < History::kWindowSeconds; }
};

struct Timeline
{
    QRect sats, snr, dop, fix;
    int timeTop = 0;
};

Timeline LayOut(const QRect& area)
{
    Timeline t;
    const int left = area.left() + kGutter;
    const int right = area.right() - kRightMargin;
    const int plots = area.height() - 3 * kHeader - kFixBand - kTimeRow - 8;
    const int satsHeight = plots * 44 / 100;
    const int snrHeight = plots * 30 / 100;
    const int dopHeight = plots - satsHeight - snrHeight;
    int y = area.top() + 2 + kHeader;
    t.sats = QRect(QPoint(left, y), QPoint(right, y + satsHeight - 1));
    y += satsHeight + 2 + kHeader;
    t.snr = QRect(QPoint(left, y), QPoint(right, y + snrHeight - 1));
    y += snrHeight + 2 + kHeader;
    t.dop = QRect(QPoint(left, y), QPoint(right, y + dopHeight - 1));
    y += dopHeight + 2;
    t.fix = QRect(QPoint(left, y), QPoint(right, y + kFixBand - 1));
    t.timeTop = y + kFixBand + 1;
    return t;
}

// The smallest of 5, 10, 20, 50, ... that holds `value`.
int NiceCeiling(double value, int least)
{
    int nice = least;
    for (int step : {5, 10, 20, 50, 100})
    {
        nice = std::max(least, step);
        if (value <= nice)
            break;
    }
    return nice;
}

void DrawPlotFrame(QPainter& p, const QRect& plot, double low, double high,
                   std::initializer_list<double> ticks, const char* format,
                   const PanelResources& res)
{
    p.fillRect(plot, kPlotFill);
    p.setFont(res.fontTiny);
    const QFontMetrics fm(res.fontTiny);
    for (double tick : ticks)
    {
        const int y = static_cast<int>(
            std::lround(plot.bottom() - (tick - low) * (plot.height() - 1) / (high - low)));
        if (y > plot.top() && y < plot.bottom())
        {
            p.setPen(QPen(kGrid, 1));
            p.drawLine(plot.left(), y, plot.right(), y);
        }
        const QString label = Format(format, tick);
        p.setPen(kAxisText);
        const int labelTop =
            std::clamp(y - fm.height() / 2, plot.top() - 2, plot.bottom() - fm.height() + 3);
        p.drawText(QRect(plot.left() - kGutter, labelTop, kGutter - 3, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, label);
    }
}

// A title at the left of a plot's header row and, right-aligned after it, keyed entries
// (a colour and a text) that name what is drawn and its newest value.
struct KeyEntry
{
    QColor colour;
    QString text;
    bool line = false; // a line's key is a short bar, an area's a square
};

void DrawHeader(QPainter& p, const QRect& plot, const QString& title,
                const std::vector<KeyEntry>& entries, const PanelResources& res)
{
    const int y = plot.top() - kHeader;
    p.setFont(res.fontSmall);
    const QFontMetrics fm(res.fontSmall);
    p.setPen(kTitle);
    p.drawText(QRect(plot.left() - kGutter + 2, y, plot.width(), kHeader),
               Qt::AlignLeft | Qt::AlignVCenter, title);
    int x = plot.right();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    {
        const int width = fm.horizontalAdvance(it->text);
        x -= width;
        p.setPen(kTitle);
        p.drawText(QRect(x, y, width, kHeader), Qt::AlignLeft | Qt::AlignVCenter, it->text);
        x -= 3;
        if (it->line)
            p.fillRect(QRect(x - 9, y + kHeader / 2 - 1, 9, 2), it->colour);
        else
            p.fillRect(QRect(x - 7, y + kHeader / 2 - 3, 7, 7), it->colour);
        x -= (it->line ? 9 : 7) + 7;
    }
}

// A value per sample as a line, broken where the receiver was silent or the value is missing.
// Seconds that share a pixel column give one point, the worst of them, so that a short dip or
// spike still shows: the highest where `highIsWorse`, else the lowest.
template <typename Value>
void DrawSeries(QPainter& p, const QRect& plot, const TimeAxis& axis, const History& history,
                double low, double high, const QColor& colour, bool highIsWorse, Value value)
{
    const auto& samples = history.Samples();
    p.save();
    p.setClipRect(plot);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(colour, 1.5));
    std::vector<QPointF> line;
    line.reserve(static_cast<std::size_t>(plot.width()) + 1);
    auto flush = [&]
    {
        if (line.size() > 1)
            p.drawPolyline(line.data(), static_cast<int>(line.size()));
        line.clear();
    };
    std::int64_t lastT = 0;
    for (std::size_t i = 0; i < samples.Size(); ++i)
    {
        const HistorySample& s = samples[i];
        const double v = value(s);
        if (!axis.Shows(s.t) || v <= 0.0)
        {
            flush();
            continue;
        }
        if (!line.empty() && s.t - lastT > kGapSeconds)
            flush();
        const double clamped = std::clamp(v, low, high);
        const QPointF point(axis.X(s.t),
                            plot.bottom() - (clamped - low) * (plot.height() - 1) / (high - low));
        if (!line.empty() && std::floor(line.back().x()) == std::floor(point.x()))
        {
            // Screen y grows downwards: a higher value has a smaller y.
            if (highIsWorse ? point.y() < line.back().y() : point.y() > line.back().y())
                line.back().setY(point.y());
        }
        else
            line.push_back(point);
        lastT = s.t;
    }
    flush();
    p.restore();
}

// Calls draw(sample, left, right) with the columns each sample covers: up to the next one, or a
// single second's width across a silence and for the newest.
template <typename Draw> void ForEachColumn(const TimeAxis& axis, const History& history, Draw draw)
{
    const auto& samples = history.Samples();
    const double second = static_cast<double>(axis.right - axis.left) / History::kWindowSeconds;
    for (std::size_t i = 0; i < samples.Size(); ++i)
    {
        const HistorySample& s = samples[i];
        if (!axis.Shows(s.t))
            continue;
        const int left = static_cast<int>(std::floor(axis.X(s.t)));
        int right = static_cast<int>(std::floor(axis.X(s.t) + std::max(1.0, second))) - 1;
        if (i + 1 < samples.Size() && samples[i + 1].t - s.t <= kGapSeconds)
        {
            const int next = static_cast<int>(std::floor(axis.X(samples[i + 1].t)));
            // The next sample paints this column: several seconds share one pixel.
            if (next == left)
                continue;
            right = next - 1;
        }
        draw(s, left, std::max(left, right));
    }
}

void DrawSatellites(QPainter& p, const QRect& plot, const TimeAxis& axis, const History& history,
                    const PanelResources& res)
{
    const auto& samples = history.Samples();
    int most = 0;
    bool present[kHistorySystems] = {};
    for (std::size_t i = 0; i < samples.Size(); ++i)
    {
        if (!axis.Shows(samples[i].t))
            continue;
        int inView = 0;
        for (std::size_t k = 0; k < kHistorySystems; ++k)
        {
            inView += samples[i].inView[k];
            present[k] = present[k] || samples[i].inView[k] > 0;
        }
        most = std::max(most, inView);
    }
    const int top = NiceCeiling(most, 10);
    DrawPlotFrame(p, plot, 0, top, {0.0, top / 2.0, static_cast<double>(top)}, "%.0f", res);

    const double pixelsPerSatellite = static_cast<double>(plot.height() - 1) / top;
    auto yOf = [&](int count)
    { return static_cast<int>(std::lround(plot.bottom() + 1 - count * pixelsPerSatellite)); };
    ForEachColumn(axis, history,
                  [&](const HistorySample& s, int left, int right)
                  {
                      // The used of each constellation stacked from the baseline, then those only
                      // in view, dimmed, above them: the solid top is the count used, the whole the
                      // count in view.
                      int count = 0;
                      for (int pass = 0; pass < 2; ++pass)
                      {
                          for (std::size_t k = 0; k < kHistorySystems; ++k)
                          {
                              const int n = pass == 0 ? s.used[k] : s.inView[k] - s.used[k];
                              if (n <= 0)
                                  continue;
                              const QColor colour = SystemColour(kSystemsInOrder[k]);
                              const int yTop = yOf(count + n);
                              const int yBottom = yOf(count) - 1;
                              p.fillRect(QRect(QPoint(left, std::max(plot.top(), yTop)),
                                               QPoint(right, yBottom)),
                                         pass == 0 ? colour : colour.darker(260));
                              count += n;
                          }
                      }
                  });

    std::vector<KeyEntry> keys;
    for (std::size_t k = 0; k < kHistorySystems; ++k)
        if (present[k] && kSystemsInOrder[k] != GnssSystem::Unknown)
            keys.push_back({SystemColour(kSystemsInOrder[k]),
                            QString::fromLatin1(ConstellationOf(kSystemsInOrder[k]).label)});
    QString title = QStringLiteral("Satellites");
    if (!samples.Empty())
    {
        int used = 0;
        int inView = 0;
        for (std::size_t k = 0; k < kHistorySystems; ++k)
        {
            used += samples.Back().used[k];
            inView += samples.Back().inView[k];
        }
        title += QStringLiteral("  %1 used of %2").arg(used).arg(inView);
    }
    DrawHeader(p, plot, title, keys, res);
}

void DrawSignal(QPainter& p, const QRect& plot, const TimeAxis& axis, const History& history,
                const PanelResources& res)
{
    DrawPlotFrame(p, plot, kSnrLow, kSnrHigh, {20.0, 30.0, 40.0, 50.0}, "%.0f", res);
    DrawSeries(p, plot, axis, history, kSnrLow, kSnrHigh, kTop4, false,
               [](const HistorySample& s) { return s.snrTop4; });
    DrawSeries(p, plot, axis, history, kSnrLow, kSnrHigh, kValue, false,
               [](const HistorySample& s) { return s.snrUsed; });
    const HistorySample last =
        history.Samples().Empty() ? HistorySample{} : history.Samples().Back();
    auto value = [](float v) { return v > 0.0f ? Format("%.1f", v) : QStringLiteral("-"); };
    DrawHeader(p, plot, QStringLiteral("C/N0 (dB-Hz)"),
               {{kValue, QStringLiteral("used ") + value(last.snrUsed), true},
                {kTop4, QStringLiteral("best four ") + value(last.snrTop4), true}},
               res);
}

void DrawDop(QPainter& p, const QRect& plot, const TimeAxis& axis, const History& history,
             const PanelResources& res)
{
    // Scaled to the DOPs and the horizontal accuracy estimate (m) of fixes: without a fix a
    // receiver sends 99.9 or nothing at all.
    const auto& samples = history.Samples();
    float most = 0.0f;
    for (std::size_t i = 0; i < samples.Size(); ++i)
        if (axis.Shows(samples[i].t) && samples[i].fixMode >= 2)
            most = std::max({most, samples[i].hdop, samples[i].pdop, samples[i].horizontalAccuracy});
    const double top = most <= 2.0f ? 2.0 : most <= 5.0f ? 5.0 : most <= 10.0f ? 10.0 : most <= 20.0f ? 20.0 : 50.0;
    DrawPlotFrame(p, plot, 0.0, top, {0.0, top / 2.0, top}, "%g", res);
    auto ifFix = [](const HistorySample& s, float v) { return s.fixMode >= 2 ? v : 0.0f; };
    DrawSeries(p, plot, axis, history, 0.0, top, kPdop, true,
               [&](const HistorySample& s) { return ifFix(s, s.pdop); });
    DrawSeries(p, plot, axis, history, 0.0, top, kHdop, true,
               [&](const HistorySample& s) { return ifFix(s, s.hdop); });
    DrawSeries(p, plot, axis, history, 0.0, top, kHorizontalAccuracy, true,
               [&](const HistorySample& s) { return ifFix(s, s.horizontalAccuracy); });
    const HistorySample last = samples.Empty() ? HistorySample{} : samples.Back();
    auto value = [&](float v)
    { return last.fixMode >= 2 && v > 0.0f ? Format("%.1f", v) : QStringLiteral("-"); };
    std::vector<KeyEntry> entries = {{kHdop, QStringLiteral("HDOP ") + value(last.hdop), true},
                                        {kPdop, QStringLiteral("PDOP ") + value(last.pdop), true}};
    // Only from a receiver that sends one: NMEA-only streams mostly do not.
    if (last.horizontalAccuracy > 0.0f)
        entries.push_back({kHorizontalAccuracy, QStringLiteral("hAcc ") + value(last.horizontalAccuracy) + QStringLiteral(" m"), true});
    DrawHeader(p, plot, QStringLiteral("DOP"), entries, res);
}

void DrawFixBand(QPainter& p, const QRect& band, const TimeAxis& axis, const History& history,
                 const PanelResources& res)
{
    p.fillRect(band, kGrid);
    ForEachColumn(
        axis, history,
        [&](const HistorySample& s, int left, int right)
        {
            const QColor colour = s.fixMode == 3 ? kFix3d : s.fixMode == 2 ? kFix2d : kNoFix;
            p.fillRect(QRect(QPoint(left, band.top()),
                             QPoint(std::min(right, band.right()), band.bottom())),
                       colour);
        });
    p.setFont(res.fontTiny);
    p.setPen(kAxisText);
    p.drawText(QRect(band.left() - kGutter, band.top() - 3, kGutter - 3, band.height() + 6),
               Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Fix"));
}

void DrawTimeAxis(QPainter& p, const Timeline& layout, const TimeAxis& axis,
                  const PanelResources& res)
{
    p.setFont(res.fontTiny);
    const QFontMetrics fm(res.fontTiny);
    for (int minutes : {15, 10, 5, 0})
    {
        const int x = static_cast<int>(std::lround(axis.X(axis.now - minutes * 60)));
        p.setPen(QPen(kGrid, 1));
        p.drawLine(x, layout.fix.bottom() + 1, x, layout.fix.bottom() + 2);
        // The unit once, on the first label; the others stay short to leave room for the key.
        const QString label = minutes == 0    ? QStringLiteral("now")
                              : minutes == 15 ? QStringLiteral("-15 min")
                                              : QStringLiteral("-%1").arg(minutes);
        const int width = fm.horizontalAdvance(label);
        const int left = std::clamp(x - width / 2, layout.fix.left() - 4,
                                    layout.fix.right() + kRightMargin - width);
        p.setPen(kAxisText);
        p.drawText(left, layout.timeTop + fm.ascent(), label);
    }
    // The fix band's key, centred between the last two labels.
    const std::pair<QColor, QString> keys[] = {{kFix3d, QStringLiteral("3D")},
                                               {kFix2d, QStringLiteral("2D")},
                                               {kNoFix, QStringLiteral("no fix")}};
    constexpr int kSwatch = 6;
    constexpr int kSpacing = 7;
    int width = -kSpacing;
    for (const auto& key : keys)
        width += kSwatch + 2 + fm.horizontalAdvance(key.second) + kSpacing;
    int x = static_cast<int>(std::lround(axis.X(axis.now - 150))) - width / 2;
    for (const auto& [colour, label] : keys)
    {
        p.fillRect(QRect(x, layout.timeTop + 3, kSwatch, kSwatch), colour);
        p.setPen(kAxisText);
        p.drawText(x + kSwatch + 2, layout.timeTop + fm.ascent(), label);
        x += kSwatch + 2 + fm.horizontalAdvance(label) + kSpacing;
    }
}

void DrawEvents(QPainter& p, const Timeline& layout, const TimeAxis& axis, const History& history,
                const PanelResources& res)
{
    const auto& events = history.Events();
    p.setFont(res.fontTiny);
    const QFontMetrics fm(res.fontTiny);
    // Lost fixes first, so that a restart's tag stays readable over the loss it caused.
    for (bool bRestarts : {false, true})
    {
        for (std::size_t i = 0; i < events.Size(); ++i)
        {
            const HistoryEvent& e = events[i];
            const bool bLost = e.kind == HistoryEventKind::FixLost;
            if (!axis.Shows(e.t) || bLost == bRestarts)
                continue;
            const int x = static_cast<int>(std::lround(axis.X(e.t)));
            const QColor colour = bLost ? kFixLost : kRestart;
            // Across the plots only: the header rows keep their text.
            p.setPen(QPen(colour, 1, bLost ? Qt::DotLine : Qt::DashLine));
            for (const QRect& plot : {layout.sats, layout.snr, layout.dop})
                p.drawLine(x, plot.top(), x, plot.bottom());
            if (bLost)
            {
                const QPointF tip[] = {{x - 3.5, double(layout.sats.top())},
                                       {x + 3.5, double(layout.sats.top())},
                                       {double(x), layout.sats.top() + 5.0}};
                p.setPen(Qt::NoPen);
                p.setBrush(colour);
                p.drawPolygon(tip, 3);
                continue;
            }
            // H, W or C: the kind of start.
            const QString text = e.kind == HistoryEventKind::HotStart    ? QStringLiteral("H")
                                 : e.kind == HistoryEventKind::WarmStart ? QStringLiteral("W")
                                                                         : QStringLiteral("C");
            const int width = fm.horizontalAdvance(text) + 4;
            const QRect box(std::min(x - width / 2, layout.sats.right() - width + 1),
                            layout.sats.top(), width, fm.height());
            p.fillRect(box, colour);
            p.setPen(kBackground);
            p.drawText(box, Qt::AlignCenter, text);
        }
    }
    p.setBrush(Qt::NoBrush);
}
} // namespace

void DrawHistory(QPainter& painter, const QRect& area, const History& history,
                 const PanelResources& res)
{
    painter.save();
    painter.fillRect(area, kBackground);
    const Timeline layout = LayOut(area);
    const TimeAxis axis{layout.sats.left(), layout.sats.right(), history.Now()};
    DrawSatellites(painter, layout.sats, axis, history, res);
    DrawSignal(painter, layout.snr, axis, history, res);
    DrawDop(painter, layout.dop, axis, history, res);
    DrawFixBand(painter, layout.fix, axis, history, res);
    DrawTimeAxis(painter, layout, axis, res);
    DrawEvents(painter, layout, axis, history, res);
    if (history.Samples().Empty())
    {
        painter.setFont(res.fontSmall);
        painter.setPen(kAxisText);
        const QString text = QStringLiteral("No data yet: connect a receiver");
        const QRect box = QFontMetrics(res.fontSmall)
                              .boundingRect(layout.sats, Qt::AlignCenter, text)
                              .adjusted(-4, -2, 4, 2);
        painter.fillRect(box, kPlotFill);
        painter.drawText(layout.sats, Qt::AlignCenter, text);
    }
    painter.restore();
}

namespace
{
// Rings at 1, 2, 5 x 10^n metres, three or fewer inside the plot's radius.
double RingStep(double radius)
{
    double step = 0.01;
    for (int i = 0; i < 30; ++i)
    {
        const double mantissa[] = {1.0, 2.0, 5.0};
        const double s = mantissa[i % 3] * std::pow(10.0, i / 3 - 2);
        step = s;
        if (radius / s <= 3.0)
            break;
    }
    return step;
}

void DrawValueRow(QPainter& p, int x, int& y, int width, const QString& label, const QString& value,
                  const QColor& valueColour, const PanelResources& res)
{
    const QFontMetrics fm(res.fontDefault);
    p.setFont(res.fontSmall);
    p.setPen(kAxisText);
    p.drawText(QRect(x, y, width, fm.height()), Qt::AlignLeft | Qt::AlignVCenter, label);
    p.setFont(res.fontDefault);
    p.setPen(valueColour);
    p.drawText(QRect(x, y, width, fm.height()), Qt::AlignRight | Qt::AlignVCenter, value);
    y += fm.height() + 4;
}
} // namespace

void DrawAccuracy(QPainter& painter, const QRect& area, const History& history,
                  const PanelResources& res, int textBottom)
{
    painter.save();
    painter.fillRect(area, kBackground);
    const int side = std::min(area.height() - 4, area.width() * 55 / 100);
    const QRect plot(area.left() + 3, area.top() + 2, side, side);
    painter.fillRect(plot, kPlotFill);
    const QPointF centre = QRectF(plot).center();
    const double radiusPx = side / 2.0 - 2.0;

    const std::vector<GeoPoint> points = history.FixPositions();
    const CepResult cep = ComputeCep(points);
    // The CEP95 circle fills most of the plot; a still receiver's tiny one is not blown up
    // past 0.5 m.
    const double extent = std::max(0.5, cep.cep95 * 1.25);
    const double step = RingStep(extent);
    const double outer = std::ceil(extent / step) * step;
    const double scale = radiusPx / outer;

    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setClipRect(plot);
    painter.setPen(QPen(kGrid, 1));
    painter.drawLine(QPointF(plot.left(), centre.y()), QPointF(plot.right() + 1, centre.y()));
    painter.drawLine(QPointF(centre.x(), plot.top()), QPointF(centre.x(), plot.bottom() + 1));
    for (double r = step; r <= outer + step / 2; r += step)
        painter.drawEllipse(centre, r * scale, r * scale);

    if (!points.empty())
    {
        std::vector<QPointF> dots;
        dots.reserve(points.size());
        for (const GeoPoint& point : points)
        {
            const Offset o = OffsetFrom(cep.mean, point);
            dots.emplace_back(centre.x() + o.east * scale, centre.y() - o.north * scale);
        }
        QColor dot = kValue;
        dot.setAlpha(170);
        painter.setPen(QPen(dot, 2.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawPoints(dots.data(), static_cast<int>(dots.size()));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(kCep95, 1.5));
        painter.drawEllipse(centre, cep.cep95 * scale, cep.cep95 * scale);
        painter.setPen(QPen(kCep50, 1.5));
        painter.drawEllipse(centre, cep.cep50 * scale, cep.cep50 * scale);
        painter.setPen(QPen(kTitle, 1));
        painter.drawLine(centre + QPointF(-4, 0), centre + QPointF(4, 0));
        painter.drawLine(centre + QPointF(0, -4), centre + QPointF(0, 4));
    }
    painter.setRenderHint(QPainter::Antialiasing, false);

    // The compass letters and the outer ring's radius, in the plot's corners.
    painter.setFont(res.fontTiny);
    const QFontMetrics tiny(res.fontTiny);
    painter.setPen(kAxisText);
    painter.drawText(QRect(plot.left(), plot.top() + 1, plot.width(), tiny.height()),
                     Qt::AlignHCenter, QStringLiteral("N"));
    painter.drawText(QRect(plot.left(), plot.top(), plot.width() - 3, plot.height()),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("E"));
    painter.drawText(
        QRect(plot.left() + 3, plot.bottom() - tiny.height(), plot.width(), tiny.height()),
        Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("rings %1").arg(Metres(step)));
    if (points.empty())
    {
        painter.setFont(res.fontSmall);
        const QString text = QStringLiteral("No fix yet");
        const QRect box = QFontMetrics(res.fontSmall)
                              .boundingRect(plot, Qt::AlignCenter, text)
                              .adjusted(-4, -2, 4, 2);
        painter.fillRect(box, kPlotFill);
        painter.drawText(plot, Qt::AlignCenter, text);
    }
    painter.setClipping(false);

    const int x = plot.right() + 12;
    const int width = area.right() - 6 - x;
    int y = area.top() + 4;
    painter.setFont(res.fontSmall);
    painter.setPen(kTitle);
    painter.drawText(QRect(x, y, width, 14), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Fix positions, last 15 min"));
    y += 20;
    DrawValueRow(painter, x, y, width, QStringLiteral("Fixes"), QString::number(cep.count), kValue,
                 res);
    const QString none = QStringLiteral("-");
    DrawValueRow(painter, x, y, width, QStringLiteral("CEP50"),
                 cep.count ? Metres(cep.cep50) : none, kCep50, res);
    DrawValueRow(painter, x, y, width, QStringLiteral("CEP95"),
                 cep.count ? Metres(cep.cep95) : none, kCep95, res);
    if (cep.count > 0 && y + 28 <= textBottom)
    {
        painter.setFont(res.fontSmall);
        painter.setPen(kAxisText);
        painter.drawText(QRect(x, y, width, 14), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("Mean"));
        painter.setPen(kValue);
        painter.drawText(QRect(x, y, width, 14), Qt::AlignRight | Qt::AlignVCenter,
                         Format("%.6f", cep.mean.latitude) + QChar(0x00B0));
        painter.drawText(QRect(x, y + 14, width, 14), Qt::AlignRight | Qt::AlignVCenter,
                         Format("%.6f", cep.mean.longitude) + QChar(0x00B0));
    }
    painter.restore();
}

CHistoryView::CHistoryView(Plot plot, QWidget* pParent)
    : QWidget(pParent), m_plot(plot), m_res(PanelResources::WithFonts())
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_repaintTimer.setSingleShot(true);
    connect(&m_repaintTimer, &QTimer::timeout, this, [this] { update(); });
    if (m_plot == Plot::Accuracy)
    {
        m_pReset = new QPushButton(QStringLiteral("Reset"), this);
        m_pReset->setObjectName(QStringLiteral("ResetAccuracy"));
        m_pReset->setToolTip(
            QStringLiteral("Forget the fix positions, after the receiver was moved"));
        // The face of the setup form's Save and Choose buttons.
        m_pReset->setStyleSheet(QStringLiteral(
            "QPushButton { color: white; font-weight: bold; border: 1px solid rgb(44, 51, 70); "
            "border-radius: 3px;"
            " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(78, 90, 118), stop:1 "
            "rgb(56, 65, 88));"
            " min-width: 72px; min-height: 20px; }"
            "QPushButton:hover, QPushButton:pressed { border-color: rgb(28, 86, 166);"
            " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(62, 136, 224), stop:1 "
            "rgb(36, 106, 196)); }"));
        connect(m_pReset, &QPushButton::clicked, this, [this] { OnReset(); });
    }
}

const History* CHistoryView::GetHistory() const
{
    const auto* doc = dynamic_cast<const COrvaneDoc*>(GetDocument());
    return doc ? &doc->m_history : nullptr;
}

void CHistoryView::OnUpdate(CView* /*pSender*/, long lHint, const ViewHint& /*hint*/)
{
    if (lHint == HINT_GPS_DATA || lHint == HINT_SOURCE_STARTED)
        RequestRepaint();
}

void CHistoryView::RequestRepaint()
{
    // Hidden, it is painted when shown, from the document's history as it is then.
    if (!isVisible() || m_repaintTimer.isActive())
        return;
    const qint64 since = m_lastPaint.isValid() ? m_lastPaint.elapsed() : kRepaintMs;
    if (since >= kRepaintMs)
        update();
    else
        m_repaintTimer.start(static_cast<int>(kRepaintMs - since));
}

void CHistoryView::OnReset()
{
    auto* doc = dynamic_cast<COrvaneDoc*>(GetDocument());
    if (!doc)
        return;
    doc->m_history.ResetFixes();
    update();
}

void CHistoryView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_pReset)
    {
        const QSize size = m_pReset->sizeHint();
        m_pReset->setGeometry(width() - size.width() - 6, height() - size.height() - 6,
                              size.width(), size.height());
    }
}

void CHistoryView::paintEvent(QPaintEvent* /*event*/)
{
    ++m_nPaints;
    m_lastPaint.restart();
    QPainter painter(this);
    const History* history = GetHistory();
    if (!history)
        painter.fillRect(rect(), kBackground);
    else if (m_plot == Plot::Timeline)
        DrawHistory(painter, rect(), *history, m_res);
    else
        DrawAccuracy(painter, rect(), *history, m_res, m_pReset ? m_pReset->y() : height());
}
