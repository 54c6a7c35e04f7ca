#pragma once

#include "gps/GpsData.h"

#include <QFont>
#include <QImage>
#include <QString>

#include <string>

class CMemDCEx;

// Images and fonts of the status panel, loaded once by the view.
struct PanelResources
{
    QImage bmpStatusPanel;     // 400 x 278
    QImage bmpSatellitePanel;  // 400 x 201
    QImage bmpSatelliteMarker; // 18 x 18, pure green is transparent
    QFont fontSmall;           // Arial 12: sky-plot numbers
    QFont fontMedium;          // Arial 14: bar labels
    QFont fontLarge;           // Arial 26: time and date
    QFont fontDefault;         // the surface's own font: every other value

    static PanelResources Load();
};

// Position of the panel's pieces, in view coordinates.
namespace panel
{
inline constexpr int kWidth = 400;
inline constexpr int kSatellitePanelTop = 276;
inline constexpr int kRepaintHeight = 780;
} // namespace panel

// Degrees, minutes and seconds of a non-negative angle: "%d°%d'%2.2f". Seconds are not carried.
std::string FormatDms(float degrees);

// Local time ("07:05:09") and date ("2010-Jan-05") of the record's UTC time; 00:00:00 and
// 2000-Jan-01 unconverted while the record has no valid date.
struct PanelTimeDate
{
    std::string time;
    std::string date;
};
PanelTimeDate LocalTimeAndDate(const GpsData& gps);

// The whole panel: background images, texts, then the satellite chart.
void DrawStatusPanel(CMemDCEx& dc, const GpsData& gps, const PanelResources& res);

void DrawSatelliteChart(CMemDCEx& dc, const GpsData& gps, const PanelResources& res);
void DrawUnusedBar(CMemDCEx& dc, int left, int top, int right, int bottom);
