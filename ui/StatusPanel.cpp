#include "ui/StatusPanel.h"

#include "ui/MemDCEx.h"

#include <boost/date_time/c_local_time_adjustor.hpp>
#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include <QPen>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace
{
const QColor kValueColour(0, 200, 200);
const QColor kPanelGrey(192, 192, 192);

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
    dc.TextOut(42, 62, QString::fromStdString(td.time));
    dc.TextOut(240, 62, QString::fromStdString(td.date));
    dc.SelectFont(old);
}

void DrawFix(CMemDCEx& dc, const GpsData& gps)
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
    dc.TextOut(30, 132, QString::fromLatin1(fix));
    dc.TextOut(130, 132, QString::fromLatin1(mode));
}

void DrawDop(CMemDCEx& dc, const GpsData& gps)
{
    dc.TextOut(250, 132, Cut7("%2.1f", gps.hdop));
    dc.TextOut(350, 132, Cut7("%2.1f", gps.pdop));
}

void DrawPosition(CMemDCEx& dc, const GpsData& gps)
{
    dc.DrawText(Cut7("%.1f", static_cast<double>(gps.speed) * 1.852), QRect(QPoint(290, 194), QPoint(339, 213)));
    dc.DrawText(Cut7("%.1f", gps.course), QRect(QPoint(290, 220), QPoint(339, 239)));
    dc.DrawText(Cut7("%.1f", gps.altitude), QRect(QPoint(290, 248), QPoint(339, 267)));

    const std::string lat = (gps.latitude >= 0.0f ? "N " : "S ") + FormatDms(std::fabs(gps.latitude));
    const std::string lon = (gps.longitude >= 0.0f ? "E " : "W ") + FormatDms(std::fabs(gps.longitude));
    dc.TextOut(70, 194, QString::fromUtf8(lat.c_str()));
    dc.TextOut(70, 220, QString::fromUtf8(lon.c_str()));
}
} // namespace

std::string FormatDms(float v)
{
    const int d = static_cast<int>(v);
    const float m = static_cast<float>((v - d) * 60.0);
    const int n = static_cast<int>(m);
    const float s = static_cast<float>((m - n) * 60.0);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d\xC2\xB0%d'%2.2f", d, n, static_cast<double>(s));
    return buffer;
}

PanelTimeDate LocalTimeAndDate(const GpsData& gps)
{
    using namespace boost::posix_time;
    using boost::gregorian::date;
    ptime shown(date(2000, 1, 1), time_duration(0, 0, 0));
    if (gps.year != 0 && gps.month != 0 && gps.day != 0)
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
            // Not a calendar date (month 13, 31 February...): shown as before any data.
            shown = ptime(date(2000, 1, 1), time_duration(0, 0, 0));
        }
    }
    const time_duration tod = shown.time_of_day();
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", static_cast<int>(tod.hours()),
                  static_cast<int>(tod.minutes()), static_cast<int>(tod.seconds()));
    return {buffer, boost::gregorian::to_simple_string(shown.date())};
}

void DrawStatusPanel(CMemDCEx& dc, const GpsData& gps, const PanelResources& res)
{
    const QRect& clip = dc.GetClipBox();
    dc.FillSolidRect(QRect(0, 0, clip.right() + 1, clip.bottom() + 1), kPanelGrey);
    dc.BitBlt(0, 0, res.bmpStatusPanel);
    dc.BitBlt(0, panel::kSatellitePanelTop, res.bmpSatellitePanel);

    const QColor oldColour = dc.SetTextColor(kValueColour);
    const QFont oldFont = dc.SelectFont(res.fontDefault);
    DrawTimeAndDate(dc, gps, res);
    DrawFix(dc, gps);
    DrawDop(dc, gps);
    DrawPosition(dc, gps);
    DrawSatelliteChart(dc, gps, res);
    dc.SelectFont(oldFont);
    dc.SetTextColor(oldColour);
}

namespace chart
{
constexpr int kFirstBarLeft = 205;
constexpr int kBarPitch = 16;
constexpr int kBarWidth = 12;
constexpr int kBaseline = 444;
constexpr float kPixelsPerDbHz = 2.56f;
constexpr int kPrnLabelTop = 448;
constexpr int kSnrLabelAbove = 14;
constexpr int kSkyCentreX = 92;
constexpr int kSkyCentreY = 392;
constexpr float kHorizonRadius = 50.0f;
const QColor kUsedFill(0, 255, 0);
const QColor kUnusedOutline(255, 0, 0);
const QColor kLabel(255, 255, 255);
const QColor kSkyNumber(0, 0, 0);
const QColor kMarkerKey(0, 255, 0);
} // namespace chart

void DrawUnusedBar(CMemDCEx& dc, int left, int top, int right, int bottom)
{
    const QPen old = dc.SelectPen(QPen(chart::kUnusedOutline, 1, Qt::SolidLine));
    dc.MoveTo(left, top);
    dc.LineTo(left, bottom);
    dc.LineTo(right, bottom);
    dc.LineTo(right, top);
    dc.LineTo(left, top);
    dc.SelectPen(old);
}

void DrawSatelliteChart(CMemDCEx& dc, const GpsData& gps, const PanelResources& res)
{
    using namespace chart;
    int x = kFirstBarLeft;
    for (const SatelliteInfo& sat : gps.satellites)
    {
        if (sat.prn == 0)
            continue;
        const QString prn = TwoDigits(sat.prn);
        const QFont oldFont = dc.SelectFont(res.fontMedium);
        const QColor oldColour = dc.SetTextColor(kLabel);
        dc.TextOut(x, kPrnLabelTop, prn);

        const int top = static_cast<int>(kBaseline - sat.snr * kPixelsPerDbHz);
        if (sat.used)
            dc.FillRect(QRect(QPoint(x, top), QPoint(x + kBarWidth - 1, kBaseline - 1)), kUsedFill);
        else
            DrawUnusedBar(dc, x, top, x + kBarWidth, kBaseline);
        dc.TextOut(x, top - kSnrLabelAbove, TwoDigits(sat.snr));
        dc.SelectFont(oldFont);

        // Read against the background's compass: 0 at the top, 90 at the right.
        const float r = (90.0f - sat.elevation) / 90.0f * kHorizonRadius;
        const double a = sat.azimuth * std::numbers::pi / 180.0;
        const int px = static_cast<int>(kSkyCentreX + r * std::sin(a));
        const int py = static_cast<int>(kSkyCentreY - r * std::cos(a));
        dc.TransparentBlt(px, py, res.bmpSatelliteMarker, kMarkerKey);

        const QFont oldSmall = dc.SelectFont(res.fontSmall);
        dc.SetTextColor(kSkyNumber);
        dc.TextOut(px + 4, py + 4, prn);
        dc.SelectFont(oldSmall);
        dc.SetTextColor(oldColour);
        x += kBarPitch;
    }
}

PanelResources PanelResources::Load()
{
    PanelResources res;
    res.bmpStatusPanel = QImage(QStringLiteral(":/images/status_panel_310.png"));
    res.bmpSatellitePanel = QImage(QStringLiteral(":/images/satellite_panel_312.png"));
    res.bmpSatelliteMarker = QImage(QStringLiteral(":/images/satellite_marker_323.png"));
    res.fontSmall = MakeCellHeightFont(QStringLiteral("Arial"), 12);
    res.fontMedium = MakeCellHeightFont(QStringLiteral("Arial"), 14);
    res.fontLarge = MakeCellHeightFont(QStringLiteral("Arial"), 26);
    res.fontDefault = MakeCellHeightFont(QStringLiteral("Arial"), 16, true);
    return res;
}
