#pragma once

#include "gps/GpsData.h"
#include "ui/PanelGeometry.h"

#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

#include <string>

class CMemDCEx;

// Images and fonts of the status panel, loaded once by the view.
struct PanelResources
{
    QImage bmpStatusPanel;     // 400 x 278
    QImage bmpSatellitePanel;  // 400 x 201
    QImage bmpSatelliteMarker; // 18 x 18, its pure-green key already made transparent
    QFont fontSmall;           // Arial 12: sky-plot numbers
    QFont fontMedium;          // Arial 14: bar labels
    QFont fontLarge;           // Arial 26: time and date
    QFont fontTiny;            // Arial 10: labels of a crowded chart
    QFont fontDefault;         // the surface's own font: every other value

    static PanelResources Load();
    // The fonts as Load makes them, for panels drawn from other images (the image generator).
    static PanelResources WithFonts();
};

// The marker with every pixel of the key colour (pure green) transparent, done once at load so
// drawing a marker is a plain image draw.
QImage KeyedMarker(const QImage& marker);

// A box of the panel's geometry as a QRect.
inline QRect PanelRect(const panel::Box& box)
{
    return QRect(QPoint(box.left, box.top), QPoint(box.right, box.bottom));
}

// The receiver's accuracy estimates as the panel writes them under the DOPs:
// "hAcc 1.40 m   vAcc 2.10 m", "--" for one not sent.
std::string AccuracyText(const GpsData& gps);

// Degrees, minutes and seconds of a non-negative angle: "%d°%d'%2.2f". Seconds are not carried.
// Defined for every double: one too large for whole degrees keeps its degrees and shows
// 0'0.00, infinity and NaN show "---".
std::string FormatDms(double degrees);

// Local time ("07:05:09") and date ("2010-Jan-05") of the record's UTC time; 00:00:00 and
// 2000-Jan-01 unconverted while the record has no valid date.
struct PanelTimeDate
{
    std::string time;
    std::string date;
};
PanelTimeDate LocalTimeAndDate(const GpsData& gps);

// The whole panel: background images, texts, then the satellite chart. A record that is not
// live (disconnected, or no valid sentence for a while) is drawn dimmed, its fix box saying
// "No data".
void DrawStatusPanel(CMemDCEx& dc, const GpsData& gps, const PanelResources& res, bool live = true);

// Up to 12 satellites: one bar per satellite in the receiver's order, as the background's
// slots. More: narrower bars in up to three rows, grouped by constellation and sorted by PRN.
// Constellations other than GPS have their own colour, named in a legend; used satellites are
// filled bars, the others outlines.
void DrawSatelliteChart(CMemDCEx& dc, const GpsData& gps, const PanelResources& res);
void DrawUnusedBar(CMemDCEx& dc, int left, int top, int right, int bottom);

// The time to first fix ("Cold start: searching 12.3 s", "Cold start: fix in 34.2 s") on the
// Position heading's row, ending at its right edge; nothing for an empty text. The count is in
// the accent colour, the result as the headings are, greyed when the panel is not live.
void DrawTimeToFix(CMemDCEx& dc, const QString& text, bool bSearching, const PanelResources& res, bool live = true);

// The receiver's name ("u-blox M8 (ROM CORE 3.01)") on the Time and Date heading's row, ending
// at its right edge, cut with an ellipsis where the row ends; nothing for an empty text.
void DrawReceiverName(CMemDCEx& dc, const QString& name, const PanelResources& res, bool live = true);

// What the corrections to the receiver are doing ("BNDM  1.2 kB/s  age 0.4 s  base 11.1 km
// 1005 1077", or why none come) in kCorrectionsBox: its parts, split at double spaces, fill two
// rows, the last cut with an ellipsis. Nothing for an empty text.
void DrawCorrections(CMemDCEx& dc, const QString& text, const PanelResources& res, bool live = true);
// The rows DrawCorrections makes of the text within `width` pixels of the font.
QStringList CorrectionRows(const QString& text, const QFont& font, int width);

// The grey under and around the panel's images.
QColor PanelBackground();

// Colour of a constellation's used bars and of its legend entry.
QColor SystemColour(GnssSystem system);
