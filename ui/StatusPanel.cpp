#include "ui/StatusPanel.h"

#include "ui/MemDCEx.h"

#include <boost/date_time/c_local_time_adjustor.hpp>
#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include <QFontMetrics>
#include <QPen>

#include <cmath>
#include <cstdio>
#include <iterator>
#include <numbers>
#include <vector>
#include <algorithm>

namespace
{
const QColor kValueColour(0, 200, 200);
const QColor kStaleColour(40, 110, 110);
const QColor kStaleVeil(46, 52, 72, 160);
const QColor kPanelGrey(192, 192, 192);
// On the light heading rows: the headings' ink, the accent bar's teal darkened to read as text.
const QColor kHeadingInk(30, 36, 52);
const QColor kCountInk(0, 128, 136);
const QColor kStaleInk(130, 136, 150);

// The panel's numbers go through an 8-character buffer: longer results keep their first 7.
QString Cut7(const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    buffer[7] = '\0';
    return QString::fromLatin1(buffer);
}

QString TwoDigits(unsigned value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02u", value);
    buffer[3] = '\0';
    return QString::fromLatin1(buffer);
}

void DrawTimeAndDate(CMemDCEx& dc, const GpsData& gps, const PanelResources& res)
{
    const PanelTimeDate td = LocalTimeAndDate(gps);
    const QFont old = dc.SelectFont(res.fontLarge);
    dc.TextOut(panel::kTimeText.x, panel::kTimeText.y, QString::fromStdString(td.time));
    dc.TextOut(panel::kDateText.x, panel::kDateText.y, QString::fromStdString(td.date));
    dc.SelectFont(old);
}

void DrawFix(CMemDCEx& dc, const GpsData& gps, const PanelResources& res, bool live)
{
    const char* fix = "Invalid";
    const char* mode = "Invalid";
    switch (gps.fixMode)
    {
    case 1:
        fix = "No Fixed";
        break;
    case 2:
        fix = "Fixed";
        mode = "2D";
        break;
    case 3:
        fix = "Fixed";
        mode = "3D";
        break;
    default:
        break;
    }
    // The receiver's carrier-phase solution is the fix it names.
    if (HasFix(gps) && gps.rtk != RtkState::None)
        fix = gps.rtk == RtkState::Fixed ? "RTK fixed" : "RTK float";
    if (live)
    {
        // A name wider than its well is written smaller rather than over the next label.
        const QString text = QString::fromLatin1(fix);
        const bool fits = QFontMetrics(res.fontDefault).horizontalAdvance(text) <= panel::kFixWell.Width() - 4;
        const QFont old = dc.SelectFont(fits ? res.fontDefault : res.fontSmall);
        dc.TextOut(panel::kFixText.x, panel::kFixText.y + (fits ? 0 : 2), text);
        dc.SelectFont(old);
    }
    else
    {
        const QColor old = dc.SetTextColor(kValueColour);
        dc.TextOut(panel::kFixText.x, panel::kFixText.y, QStringLiteral("No data"));
        dc.SetTextColor(old);
    }
    dc.TextOut(panel::kModeText.x, panel::kModeText.y, QString::fromLatin1(mode));
}

void DrawDop(CMemDCEx& dc, const GpsData& gps, const PanelResources& res, bool live)
{
    dc.TextOut(panel::kHdopText.x, panel::kHdopText.y, Cut7("%2.1f", gps.hdop));
    dc.TextOut(panel::kPdopText.x, panel::kPdopText.y, Cut7("%2.1f", gps.pdop));
    if (!gps.horizontalAccuracyKnown && !gps.verticalAccuracyKnown)
        return;
    const QFont oldFont = dc.SelectFont(res.fontSmall);
    const QColor oldColour = dc.SetTextColor(live ? kCountInk : kStaleInk);
    dc.TextOut(panel::kAccuracyText.x, panel::kAccuracyText.y, QString::fromStdString(AccuracyText(gps)));
    dc.SetTextColor(oldColour);
    dc.SelectFont(oldFont);
}

void DrawPosition(CMemDCEx& dc, const GpsData& gps)
{
    dc.DrawText(Cut7("%.1f", static_cast<double>(gps.speed) * 1.852), PanelRect(panel::kSpeedBox));
    dc.DrawText(Cut7("%.1f", gps.course), PanelRect(panel::kCourseBox));
    dc.DrawText(Cut7("%.1f", gps.altitude), PanelRect(panel::kAltitudeBox));

    const std::string lat = (gps.latitude >= 0.0 ? "N " : "S ") + FormatDms(std::fabs(gps.latitude));
    const std::string lon = (gps.longitude >= 0.0 ? "E " : "W ") + FormatDms(std::fabs(gps.longitude));
    dc.TextOut(panel::kLatitudeText.x, panel::kLatitudeText.y, QString::fromUtf8(lat.c_str()));
    dc.TextOut(panel::kLongitudeText.x, panel::kLongitudeText.y, QString::fromUtf8(lon.c_str()));
}
// "9 used / 23 in view", right-aligned in the title band of the satellite panel.
void DrawSatelliteCounts(CMemDCEx& dc, const GpsData& gps, const PanelResources& res)
{
    const QString text = QStringLiteral("%1 used / %2 in view").arg(SatellitesUsed(gps)).arg(SatellitesInView(gps));
    const QFont old = dc.SelectFont(res.fontSmall);
    const int width = QFontMetrics(res.fontSmall).horizontalAdvance(text);
    dc.TextOut(panel::kWidth - 8 - width, panel::kSatellitePanelTop + 7, text);
    dc.SelectFont(old);
}
} // namespace

std::string AccuracyText(const GpsData& gps)
{
    auto metres = [](bool known, float value) {
        if (!known || !std::isfinite(value))
            return std::string("--");
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, value < 100.0f ? "%.2f m" : "%.0f m", static_cast<double>(value));
        return std::string(buffer);
    };
    return "hAcc " + metres(gps.horizontalAccuracyKnown, gps.horizontalAccuracy) + "   vAcc " +
           metres(gps.verticalAccuracyKnown, gps.verticalAccuracy);
}

std::string FormatDms(double v)
{
    char buffer[64];
    if (!std::isfinite(v))
        return "---";
    // Past int's range whole degrees cannot be cut off as an int; such a value is no angle.
    if (std::fabs(v) >= 2147483520.0)
    {
        std::snprintf(buffer, sizeof buffer, "%.0f\xC2\xB0" "0'0.00", std::trunc(v));
        return buffer;
    }
    const int d = static_cast<int>(v);
    const double m = (v - d) * 60.0;
    const int n = static_cast<int>(m);
    const double s = (m - n) * 60.0;
    std::snprintf(buffer, sizeof buffer, "%d\xC2\xB0%d'%2.2f", d, n, s);
    return buffer;
}

PanelTimeDate LocalTimeAndDate(const GpsData& gps)
{
    using namespace boost::posix_time;
    using boost::gregorian::date;
    ptime shown(date(2000, 1, 1), time_duration(0, 0, 0));
    if (HasValidDate(gps))
    {
        try
        {
            const ptime utc(date(static_cast<unsigned short>(gps.year), static_cast<unsigned short>(gps.month),
                                 static_cast<unsigned short>(gps.day)),
                            time_duration(gps.hour, gps.minute, gps.second));
            shown = boost::date_time::c_local_adjustor<ptime>::utc_to_local(utc);
        }
        catch (const std::exception&)
        {
            // Outside the calendar's years: shown as before any data.
            shown = ptime(date(2000, 1, 1), time_duration(0, 0, 0));
        }
    }
    const time_duration tod = shown.time_of_day();
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", static_cast<int>(tod.hours()),
                  static_cast<int>(tod.minutes()), static_cast<int>(tod.seconds()));
    return {buffer, boost::gregorian::to_simple_string(shown.date())};
}

void DrawStatusPanel(CMemDCEx& dc, const GpsData& gps, const PanelResources& res, bool live)
{
    const QRect& clip = dc.GetClipBox();
    dc.FillSolidRect(QRect(0, 0, clip.right() + 1, clip.bottom() + 1), kPanelGrey);
    dc.BitBlt(0, 0, res.bmpStatusPanel);
    dc.BitBlt(0, panel::kSatellitePanelTop, res.bmpSatellitePanel);

    const QColor oldColour = dc.SetTextColor(live ? kValueColour : kStaleColour);
    const QFont oldFont = dc.SelectFont(res.fontDefault);
    DrawTimeAndDate(dc, gps, res);
    DrawFix(dc, gps, res, live);
    DrawDop(dc, gps, res, live);
    DrawPosition(dc, gps);
    DrawSatelliteCounts(dc, gps, res);
    DrawSatelliteChart(dc, gps, res);
    if (!live)
    {
        // Old values stay readable but are not passed off as live.
        dc.FillRect(QRect(0, panel::kSatellitePanelTop + panel::kSatelliteTitleHeight, panel::kWidth,
                          panel::kSatellitePanelHeight - panel::kSatelliteTitleHeight),
                    kStaleVeil);
    }
    dc.SelectFont(oldFont);
    dc.SetTextColor(oldColour);
}

namespace chart
{
const QColor kUsedFill(0, 255, 0);
const QColor kUnusedOutline(255, 0, 0);
const QColor kLabel(255, 255, 255);
const QColor kSkyNumber(0, 0, 0);
const QColor kMarkerKey(0, 255, 0);
// The crowded chart's rows leave room under their bars for upward PRN labels.
constexpr int kUpwardLabelBand = 20;
constexpr int kCrowdedMarker = 14;
const QColor kBackground(46, 52, 72);
const QColor kSlot(75, 81, 102);
constexpr float kDbHzFullScale = 50.0f;
} // namespace chart

namespace
{

bool IsGpsLike(GnssSystem system)
{
    return system == GnssSystem::Gps || system == GnssSystem::Unknown;
}

QColor OutlineColour(GnssSystem system)
{
    return IsGpsLike(system) ? chart::kUnusedOutline : SystemColour(system);
}

void DrawBar(CMemDCEx& dc, const SatelliteInfo& sat, int x, int top, int width, int baseline)
{
    const GnssSystem system = SatelliteSystem(sat);
    if (sat.used)
        dc.FillRect(QRect(QPoint(x, top), QPoint(x + width - 1, baseline - 1)), SystemColour(system));
    else
    {
        const QPen old = dc.SelectPen(QPen(OutlineColour(system), 1, Qt::SolidLine));
        dc.MoveTo(x, top);
        dc.LineTo(x, baseline);
        dc.LineTo(x + width, baseline);
        dc.LineTo(x + width, top);
        dc.LineTo(x, top);
        dc.SelectPen(old);
    }
}

// Where the sky plot puts a satellite: the top-left corner of an 18-pixel marker.
QPoint SkyPoint(const SatelliteInfo& sat)
{
    using namespace chart;
    // Read against the background's compass: 0 at the top, 90 at the right.
    const float r = (90.0f - sat.elevation) / 90.0f * kHorizonRadius;
    const double a = sat.azimuth * std::numbers::pi / 180.0;
    return {static_cast<int>(kSkyCentreX + r * std::sin(a)), static_cast<int>(kSkyCentreY - r * std::cos(a))};
}

void DrawMarker(CMemDCEx& dc, const SatelliteInfo& sat, const PanelResources& res, bool crowded)
{
    using namespace chart;
    // A satellite being acquired has a bar but no place in the sky yet.
    if (sat.noPosition)
        return;
    const QPoint p = SkyPoint(sat);
    const GnssSystem system = SatelliteSystem(sat);
    const QString prn = TwoDigits(sat.prn);
    const QColor oldColour = dc.SetTextColor(kSkyNumber);
    if (crowded)
    {
        // Smaller discs, so a sky of forty still shows most of its numbers.
        const int d = kCrowdedMarker;
        const QRect disc(p.x() + (kMarkerSize - d) / 2, p.y() + (kMarkerSize - d) / 2, d, d);
        const QColor colour = IsGpsLike(system) ? QColor(190, 240, 190) : SystemColour(system).lighter(130);
        dc.Ellipse(disc, sat.used ? colour : QColor(170, 176, 190), colour.darker(160));
        const QFont old = dc.SelectFont(res.fontTiny);
        const int width = QFontMetrics(res.fontTiny).horizontalAdvance(prn);
        dc.TextOut(disc.center().x() - width / 2 + 1, disc.top() + 2, prn);
        dc.SelectFont(old);
    }
    else
    {
        if (IsGpsLike(system))
            dc.TransparentBlt(p.x(), p.y(), res.bmpSatelliteMarker, kMarkerKey);
        else
            dc.Ellipse(QRect(p.x() + 1, p.y() + 1, kMarkerSize - 2, kMarkerSize - 2), SystemColour(system).lighter(140),
                       SystemColour(system).darker(150));
        const QFont old = dc.SelectFont(res.fontSmall);
        dc.TextOut(p.x() + 4, p.y() + 4, prn);
        dc.SelectFont(old);
    }
    dc.SetTextColor(oldColour);
}

int SystemRank(GnssSystem system)
{
    for (int i = 0; i < static_cast<int>(std::size(kSystemsInOrder)); ++i)
        if (kSystemsInOrder[i] == system)
            return i;
    return static_cast<int>(std::size(kSystemsInOrder));
}

// One legend entry per constellation in view, in the strip above the bars; none for GPS alone.
void DrawLegend(CMemDCEx& dc, const std::vector<const SatelliteInfo*>& sats, const PanelResources& res)
{
    bool present[std::size(kSystemsInOrder)] = {};
    bool others = false;
    for (const SatelliteInfo* sat : sats)
    {
        const GnssSystem system = SatelliteSystem(*sat);
        present[SystemRank(system)] = true;
        others = others || !IsGpsLike(system);
    }
    if (!others)
        return;
    const QFont old = dc.SelectFont(res.fontSmall);
    const QColor oldColour = dc.GetTextColor();
    const QFontMetrics fm(res.fontSmall);
    int x = chart::kAreaLeft + 2;
    for (int i = 0; i < static_cast<int>(std::size(kSystemsInOrder)); ++i)
    {
        if (!present[i] || kSystemsInOrder[i] == GnssSystem::Unknown)
            continue;
        const QString label = QString::fromLatin1(ConstellationOf(kSystemsInOrder[i]).label);
        dc.FillRect(QRect(x, chart::kLegendTop + 3, 7, 7), SystemColour(kSystemsInOrder[i]));
        dc.SetTextColor(chart::kLabel);
        dc.TextOut(x + 9, chart::kLegendTop, label);
        x += 9 + fm.horizontalAdvance(label) + 6;
    }
    dc.SetTextColor(oldColour);
    dc.SelectFont(old);
}

void DrawClassicChart(CMemDCEx& dc, const std::vector<const SatelliteInfo*>& sats, const PanelResources& res)
{
    using namespace chart;
    int x = kFirstBarLeft;
    for (const SatelliteInfo* sat : sats)
    {
        const QString prn = TwoDigits(sat->prn);
        const QFont oldFont = dc.SelectFont(res.fontMedium);
        const QColor oldColour = dc.SetTextColor(kLabel);
        dc.TextOut(x, kPrnLabelTop, prn);

        const int top = static_cast<int>(kBaseline - sat->snr * kPixelsPerDbHz);
        DrawBar(dc, *sat, x, top, kBarWidth, kBaseline);
        dc.TextOut(x, top - kSnrLabelAbove, TwoDigits(sat->snr));
        dc.SelectFont(oldFont);
        dc.SetTextColor(oldColour);

        DrawMarker(dc, *sat, res, false);
        x += kBarPitch;
    }
}

void DrawCrowdedChart(CMemDCEx& dc, std::vector<const SatelliteInfo*> sats, const PanelResources& res)
{
    using namespace chart;
    std::stable_sort(sats.begin(), sats.end(), [](const SatelliteInfo* a, const SatelliteInfo* b) {
        const int ra = SystemRank(SatelliteSystem(*a));
        const int rb = SystemRank(SatelliteSystem(*b));
        return ra != rb ? ra < rb : a->prn < b->prn;
    });
    const int count = static_cast<int>(sats.size());
    const int rows = std::min(kMaxRows, (count + kBarsPerRow - 1) / kBarsPerRow);
    const int perRow = (count + rows - 1) / rows;
    const int pitch = std::min(kBarPitch, (kAreaRight - kAreaLeft) / perRow);
    const int width = std::max(2, pitch - 2);

    dc.FillRect(QRect(QPoint(kAreaLeft - 1, kAreaTop - 2), QPoint(kAreaRight + 1, kAreaBottom)), kBackground);
    const QFont oldFont = dc.SelectFont(res.fontTiny);
    const QColor oldColour = dc.SetTextColor(kLabel);
    for (int i = 0; i < count; ++i)
    {
        const int row = i / perRow;
        const int rowTop = kAreaTop + row * (kAreaBottom - kAreaTop) / rows;
        const int rowBottom = kAreaTop + (row + 1) * (kAreaBottom - kAreaTop) / rows;
        const int baseline = rowBottom - kUpwardLabelBand - 2;
        const float scale = std::min(kPixelsPerDbHz, (baseline - rowTop - 1) / kDbHzFullScale);
        const int x = kAreaLeft + 1 + (i % perRow) * pitch;
        dc.FillRect(QRect(QPoint(x, rowTop), QPoint(x + width, baseline)), kSlot);
        // A crowded row is too low for the strongest signals: they stop at its top.
        const float snr = std::min<float>(sats[i]->snr, kDbHzFullScale);
        DrawBar(dc, *sats[i], x, static_cast<int>(baseline - snr * scale), width, baseline);
        dc.TextOutUpward(x + (width - QFontMetrics(res.fontTiny).height()) / 2 + 1, rowBottom - 1, TwoDigits(sats[i]->prn));
    }
    dc.SetTextColor(oldColour);
    dc.SelectFont(oldFont);
    for (const SatelliteInfo* sat : sats)
        DrawMarker(dc, *sat, res, true);
}

} // namespace

namespace
{
// A text on a heading's row, its baseline and right end at `end`.
void DrawHeadingRowText(CMemDCEx& dc, const QString& text, panel::Point end, const QColor& ink,
                        const PanelResources& res)
{
    const QFont oldFont = dc.SelectFont(res.fontSmall);
    const QColor oldColour = dc.SetTextColor(ink);
    const QFontMetrics fm(res.fontSmall);
    dc.TextOut(end.x - fm.horizontalAdvance(text), end.y - fm.ascent(), text);
    dc.SetTextColor(oldColour);
    dc.SelectFont(oldFont);
}
} // namespace

void DrawTimeToFix(CMemDCEx& dc, const QString& text, bool bSearching, const PanelResources& res, bool live)
{
    if (text.isEmpty())
        return;
    // The count is the computer's clock, live even while the receiver is silent (rebooting).
    DrawHeadingRowText(dc, text, panel::kTimeToFixEnd, bSearching ? kCountInk : live ? kHeadingInk : kStaleInk, res);
}

QStringList CorrectionRows(const QString& text, const QFont& font, int width)
{
    const QFontMetrics fm(font);
    // The parts, each with the gap before it; a part wider than a row breaks at its words and
    // starts a row of its own.
    struct Piece
    {
        QString text;
        QString gap;
        bool bStartsRow = false;
    };
    std::vector<Piece> pieces;
    for (const QString& part : text.split(QStringLiteral("  "), Qt::SkipEmptyParts))
    {
        if (fm.horizontalAdvance(part) <= width)
        {
            pieces.push_back({part, QStringLiteral("  ")});
            continue;
        }
        bool bFirst = true;
        for (const QString& word : part.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        {
            pieces.push_back({word, bFirst ? QStringLiteral("  ") : QStringLiteral(" "), bFirst});
            bFirst = false;
        }
    }
    QStringList rows;
    for (const Piece& piece : pieces)
    {
        const QString joined = rows.isEmpty() ? piece.text : rows.back() + piece.gap + piece.text;
        const bool bNewRow = rows.isEmpty() || piece.bStartsRow || fm.horizontalAdvance(joined) > width;
        if (bNewRow && rows.size() < 2)
            rows.push_back(piece.text);
        else
            rows.back() = joined; // the last row is cut below
    }
    for (QString& row : rows)
        row = fm.elidedText(row, Qt::ElideRight, width);
    return rows;
}

void DrawCorrections(CMemDCEx& dc, const QString& text, const PanelResources& res, bool live)
{
    if (text.isEmpty())
        return;
    const QRect box = PanelRect(panel::kCorrectionsBox);
    const QFont oldFont = dc.SelectFont(res.fontTiny);
    const QColor oldColour = dc.SetTextColor(live ? kHeadingInk : kStaleInk);
    const QStringList rows = CorrectionRows(text, res.fontTiny, box.width());
    const int pitch = box.height() / 2;
    for (int i = 0; i < rows.size(); ++i)
        dc.TextOut(box.left(), box.top() + i * pitch, rows[i]);
    dc.SetTextColor(oldColour);
    dc.SelectFont(oldFont);
}

QColor PanelBackground()
{
    return kPanelGrey;
}

QColor SystemColour(GnssSystem system)
{
    if (system == GnssSystem::Gps || system == GnssSystem::Unknown)
        return chart::kUsedFill;
    return QColor::fromRgb(static_cast<QRgb>(ConstellationOf(system).colour));
}

void DrawUnusedBar(CMemDCEx& dc, int left, int top, int right, int bottom)
{
    SatelliteInfo gps;
    gps.talker = Talker::GP;
    DrawBar(dc, gps, left, top, right - left, bottom);
}

void DrawSatelliteChart(CMemDCEx& dc, const GpsData& gps, const PanelResources& res)
{
    std::vector<const SatelliteInfo*> sats;
    sats.reserve(kSatelliteSlots);
    for (const SatelliteInfo& sat : gps.satellites)
    {
        if (sat.prn != 0)
            sats.push_back(&sat);
    }
    DrawLegend(dc, sats, res);
    if (static_cast<int>(sats.size()) <= chart::kClassicBars)
        DrawClassicChart(dc, sats, res);
    else
        DrawCrowdedChart(dc, std::move(sats), res);
}

QImage KeyedMarker(const QImage& marker)
{
    return KeyOut(marker, chart::kMarkerKey);
}

PanelResources PanelResources::Load()
{
    PanelResources res = WithFonts();
    res.bmpStatusPanel = QImage(QStringLiteral(":/images/status_panel_310.png"));
    res.bmpSatellitePanel = QImage(QStringLiteral(":/images/satellite_panel_312.png"));
    res.bmpSatelliteMarker = KeyedMarker(QImage(QStringLiteral(":/images/satellite_marker_323.png")));
    return res;
}

PanelResources PanelResources::WithFonts()
{
    PanelResources res;
    res.fontSmall = MakeCellHeightFont(QStringLiteral("Arial"), 12);
    res.fontMedium = MakeCellHeightFont(QStringLiteral("Arial"), 14);
    res.fontLarge = MakeCellHeightFont(QStringLiteral("Arial"), 26);
    res.fontTiny = MakeCellHeightFont(QStringLiteral("Arial"), 10);
    res.fontDefault = MakeCellHeightFont(QStringLiteral("Arial"), 16, true);
    return res;
}

void DrawReceiverName(CMemDCEx& dc, const QString& name, const PanelResources& res, bool live)
{
    if (name.isEmpty())
        return;
    const QString text = QFontMetrics(res.fontSmall)
                             .elidedText(name, Qt::ElideRight, panel::kReceiverEnd.x - panel::kReceiverBox.left);
    DrawHeadingRowText(dc, text, panel::kReceiverEnd, live ? kHeadingInk : kStaleInk, res);
}
