#pragma once

// Where the status panel's pieces are, in view pixels (1x). The program draws its values here
// and the image generator draws the backgrounds, wells and slots under them from the same
// numbers. Deliberately free of Qt so any tool can include it.

namespace panel
{
// A rectangle by its inclusive corners, as QRect(QPoint, QPoint) takes them.
struct Box
{
    int left, top, right, bottom;
    constexpr int Width() const { return right - left + 1; }
    constexpr int Height() const { return bottom - top + 1; }
};

struct Point
{
    int x, y;
};

inline constexpr int kWidth = 400;

// The status image (time, fix, position) and the satellite image under it; the satellite image
// overlaps the status image's last two rows.
inline constexpr int kStatusPanelHeight = 278;
inline constexpr int kSatellitePanelTop = 276;
inline constexpr int kSatellitePanelHeight = 201;
// What a new record repaints: both images and nothing under them, where the tabs draw
// themselves (repainting them with every sentence cost more than the panel).
inline constexpr int kRepaintHeight = kSatellitePanelTop + kSatellitePanelHeight;
// Title band at the top of each image.
inline constexpr int kTitleBandHeight = 30;
inline constexpr int kSatelliteTitleHeight = 26;

// Buttons on the status image's title band.
inline constexpr Box kConnectButton{191, 2, 289, 25};
inline constexpr Box kRecordButton{296, 2, 394, 25};

// Top-left corners of the value texts.
inline constexpr Point kTimeText{42, 62};
inline constexpr Point kDateText{240, 62};
inline constexpr Point kFixText{30, 132};
// The well behind the fix text, which the image generator draws.
inline constexpr Box kFixWell{kFixText.x - 3, kFixText.y - 3, kFixText.x + 61, kFixText.y + 17};
inline constexpr Point kModeText{130, 132};
inline constexpr Point kHdopText{250, 132};
inline constexpr Point kPdopText{350, 132};
// The accuracy estimates, on one small line under the DOPs.
inline constexpr Point kAccuracyText{206, 156};
inline constexpr Point kLatitudeText{70, 194};
inline constexpr Point kLongitudeText{70, 220};
// Boxes the motion values are clipped to.
inline constexpr Box kSpeedBox{290, 194, 339, 213};
inline constexpr Box kCourseBox{290, 220, 339, 239};
inline constexpr Box kAltitudeBox{290, 248, 339, 267};
// Rows of the position lines: latitude and speed, longitude and course, altitude.
inline constexpr int kPositionRows[] = {kSpeedBox.top, kCourseBox.top, kAltitudeBox.top};
// The time to first fix, right-aligned on the Position heading's row (its baseline at 178),
// and the box its count repaints.
inline constexpr Point kTimeToFixEnd{392, 178};
inline constexpr Box kTimeToFixBox{150, 162, 396, 184};
// The receiver's name, right-aligned on the Time and Date heading's row (its baseline at 47),
// and the box it is drawn in.
inline constexpr Point kReceiverEnd{392, 47};
inline constexpr Box kReceiverBox{104, 31, 396, 53};
// The corrections line, in two rows left of the altitude's label, under the longitude.
inline constexpr Box kCorrectionsBox{10, 250, 212, 273};

// The rest of the layout of the main view around the panel.
inline constexpr int kTabsTop = 478;
inline constexpr int kMapLeft = 402;
// The tabs and the map end here, whatever height the window's frame leaves the client.
inline constexpr int kClientBottom = 700;
} // namespace panel

namespace chart
{
// Twelve bar slots of the satellite image; a bar stands on the baseline in its slot.
inline constexpr int kClassicBars = 12;
inline constexpr int kFirstBarLeft = 205;
inline constexpr int kBarPitch = 16;
inline constexpr int kBarWidth = 12;
inline constexpr int kBaseline = 444;
inline constexpr float kPixelsPerDbHz = 2.56f;
// The slot behind a bar starts a pixel left of it and ends at the bar's outline.
inline constexpr int kSlotLeftOfBar = 1;
inline constexpr int kSlotWidth = 14;
inline constexpr int kSlotTop = 315;
// PRN boxes under the baseline, and the labels drawn in them.
inline constexpr int kPrnBoxTop = kBaseline + 2;
inline constexpr int kPrnBoxHeight = 18;
inline constexpr int kPrnLabelTop = 448;
inline constexpr int kSnrLabelAbove = 14;

// Sky plot: a marker's top-left corner is at the centre plus the satellite's offset, so the
// centre below is where the zenith marker's corner goes; the marker's disc is centred
// kMarkerDiscCentre pixels into it.
inline constexpr int kSkyCentreX = 92;
inline constexpr int kSkyCentreY = 392;
inline constexpr float kHorizonRadius = 50.0f;
inline constexpr int kMarkerSize = 18;
inline constexpr int kMarkerDiscCentre = 10;

// The crowded chart's own area over the twelve slots.
inline constexpr int kAreaLeft = 203;
inline constexpr int kAreaRight = 398;
inline constexpr int kAreaTop = 316;
inline constexpr int kAreaBottom = 476;
inline constexpr int kLegendTop = 302;
inline constexpr int kBarsPerRow = 24;
inline constexpr int kMaxRows = 3;
} // namespace chart
