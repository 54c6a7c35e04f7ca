// What the status panel and the satellite chart draw, watched through a recording surface that
// still paints, so the same run can look at pixels too.
#include "ui/MemDCEx.h"
#include "ui/StatusPanel.h"

#include <gtest/gtest.h>

#include <algorithm>


#include "gps/NmeaDecoders.h"
#include "support/Files.h"
#include "support/Nmea.h"

#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <limits>
#include <vector>

namespace
{
struct TextCall
{
    int x, y;
    std::string text;
    QColor colour;
    int pixelSize;
};

class RecordingDC : public CMemDCEx
{
public:
    explicit RecordingDC(qreal dpr = 1.0) : CMemDCEx(QRect(0, 0, 400, 700), dpr) {}

    void TextOut(int x, int y, const QString& text) override
    {
        texts.push_back({x, y, text.toStdString(), GetTextColor(), GetFont().pixelSize()});
        CMemDCEx::TextOut(x, y, text);
    }
    void DrawText(const QString& text, const QRect& box) override
    {
        texts.push_back({box.left(), box.top(), text.toStdString(), GetTextColor(), GetFont().pixelSize()});
        CMemDCEx::DrawText(text, box);
    }
    void FillRect(const QRect& rc, const QColor& colour) override
    {
        fills.push_back({rc, colour});
        CMemDCEx::FillRect(rc, colour);
    }
    void LineTo(int x, int y) override
    {
        lines.push_back(QPoint(x, y));
        CMemDCEx::LineTo(x, y);
    }
    void TransparentBlt(int x, int y, const QImage& image, const QColor& key) override
    {
        markers.push_back(QPoint(x, y));
        CMemDCEx::TransparentBlt(x, y, image, key);
    }
    void Ellipse(const QRect& rc, const QColor& fill, const QColor& outline) override
    {
        discs.push_back({rc, fill});
        CMemDCEx::Ellipse(rc, fill, outline);
    }
    void TextOutUpward(int x, int bottom, const QString& text) override
    {
        upward.push_back({x, bottom, text.toStdString(), GetTextColor(), GetFont().pixelSize()});
        CMemDCEx::TextOutUpward(x, bottom, text);
    }

    const TextCall* TextAt(int x, int y) const
    {
        for (const auto& t : texts)
            if (t.x == x && t.y == y)
                return &t;
        return nullptr;
    }
    std::string TextAtOr(int x, int y) const
    {
        const TextCall* t = TextAt(x, y);
        return t ? t->text : std::string("<nothing>");
    }

    std::vector<TextCall> texts;
    std::vector<std::pair<QRect, QColor>> fills;
    std::vector<QPoint> lines;
    std::vector<QPoint> markers;
    std::vector<std::pair<QRect, QColor>> discs;
    std::vector<TextCall> upward;
};

class PanelTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    PanelResources res = PanelResources::Load();
};

TEST_F(PanelTest, AllZeroRecordShowsTheStateBeforeAnyData)
{
    RecordingDC dc;
    DrawStatusPanel(dc, GpsData{}, res);
    EXPECT_EQ(dc.TextAtOr(42, 62), "00:00:00");
    EXPECT_EQ(dc.TextAtOr(240, 62), "2000-Jan-01");
    EXPECT_EQ(dc.TextAtOr(30, 132), "Invalid");
    EXPECT_EQ(dc.TextAtOr(130, 132), "Invalid");
    EXPECT_EQ(dc.TextAtOr(250, 132), "0.0");
    EXPECT_EQ(dc.TextAtOr(350, 132), "0.0");
    EXPECT_EQ(dc.TextAtOr(70, 194), "N 0\xC2\xB0" "0'0.00");
    EXPECT_EQ(dc.TextAtOr(70, 220), "E 0\xC2\xB0" "0'0.00");
    EXPECT_EQ(dc.TextAtOr(290, 194), "0.0");
    EXPECT_EQ(dc.TextAtOr(290, 220), "0.0");
    EXPECT_EQ(dc.TextAtOr(290, 248), "0.0");
    EXPECT_TRUE(dc.markers.empty());
    EXPECT_TRUE(dc.fills.empty());
    EXPECT_TRUE(dc.lines.empty());
    for (const auto& t : dc.texts)
        EXPECT_EQ(t.colour, QColor(0, 200, 200)) << t.text;
    EXPECT_EQ(dc.TextAt(42, 62)->pixelSize, res.fontLarge.pixelSize());
}

struct TextRow
{
    const char* name;
    GpsData gps;
    int x, y;
    const char* expected;
};

GpsData With(void (*set)(GpsData&))
{
    GpsData g{};
    set(g);
    return g;
}

TEST_F(PanelTest, TextsForTheRecordsValues)
{
    const TextRow rows[] = {
        {"fix 1", With([](GpsData& g) { g.fixMode = 1; }), 30, 132, "No Fixed"},
        {"fix 1 mode", With([](GpsData& g) { g.fixMode = 1; }), 130, 132, "Invalid"},
        {"fix 2", With([](GpsData& g) { g.fixMode = 2; }), 30, 132, "Fixed"},
        {"fix 2 mode", With([](GpsData& g) { g.fixMode = 2; }), 130, 132, "2D"},
        {"fix 3 mode", With([](GpsData& g) { g.fixMode = 3; }), 130, 132, "3D"},
        {"fix 4", With([](GpsData& g) { g.fixMode = 4; }), 30, 132, "Invalid"},
        {"speed 10 kn", With([](GpsData& g) { g.speed = 10.0f; }), 290, 194, "18.5"},
        {"speed 12.5 kn", With([](GpsData& g) { g.speed = 12.5f; }), 290, 194, "23.2"},
        {"heading", With([](GpsData& g) { g.course = 359.94f; }), 290, 220, "359.9"},
        {"altitude cut to 7", With([](GpsData& g) { g.altitude = 123456.78f; }), 290, 248, "123456."},
        {"hdop", With([](GpsData& g) { g.hdop = 1.25f; }), 250, 132, "1.2"},
        {"pdop cut to 7", With([](GpsData& g) { g.pdop = 12345678.0f; }), 350, 132, "1234567"},
        {"latitude north", With([](GpsData& g) { g.latitude = 24.123456f; }), 70, 194, "N 24\xC2\xB0" "7'24.44"},
        {"latitude south", With([](GpsData& g) { g.latitude = -33.51f; }), 70, 194, "S 33\xC2\xB0" "30'35.99"},
        {"seconds not carried", With([](GpsData& g) { g.longitude = 25.0333333f; }), 70, 220, "E 25\xC2\xB0" "1'60.00"},
        {"longitude west", With([](GpsData& g) { g.longitude = -11.516667f; }), 70, 220, "W 11\xC2\xB0" "31'0.00"},
        {"invalid date", With([](GpsData& g) { g.year = 2010; g.month = 13; g.day = 5; g.hour = 7; }), 240, 62, "2000-Jan-01"},
        {"invalid date time", With([](GpsData& g) { g.year = 2010; g.month = 2; g.day = 30; g.hour = 7; }), 42, 62, "00:00:00"},
        {"day 0", With([](GpsData& g) { g.year = 2010; g.month = 1; g.day = 0; g.hour = 7; }), 42, 62, "00:00:00"},
        {"time without date", With([](GpsData& g) { g.hour = 12; g.minute = 35; }), 42, 62, "00:00:00"},
        {"valid date", With([](GpsData& g) { g.year = 2010; g.month = 1; g.day = 5; g.hour = 7; g.minute = 5; g.second = 9; }), 240, 62, "2010-Jan-05"},
        {"valid time", With([](GpsData& g) { g.year = 2010; g.month = 1; g.day = 5; g.hour = 7; g.minute = 5; g.second = 9; }), 42, 62, "07:05:09"},
    };
    for (const auto& row : rows)
    {
        RecordingDC dc;
        DrawStatusPanel(dc, row.gps, res);
        EXPECT_EQ(dc.TextAtOr(row.x, row.y), row.expected) << row.name;
    }
}

TEST_F(PanelTest, UtcBeforeMidnightShowsTheNextLocalDateEastOfUtc)
{
    setenv("TZ", "JST-9", 1);
    tzset();
    GpsData g{};
    g.year = 2009, g.month = 12, g.day = 31, g.hour = 23, g.minute = 30;
    RecordingDC dc;
    DrawStatusPanel(dc, g, res);
    EXPECT_EQ(dc.TextAtOr(42, 62), "08:30:00");
    EXPECT_EQ(dc.TextAtOr(240, 62), "2010-Jan-01");
    setenv("TZ", "UTC0", 1);
    tzset();
}

SatelliteInfo Sat(std::uint16_t prn, std::uint16_t el, std::uint16_t az, std::uint16_t snr, bool used)
{
    return SatelliteInfo{used, prn, el, az, snr};
}

TEST_F(PanelTest, BarsCloseUpOverEmptySlots)
{
    GpsData g{};
    g.satellites[0] = Sat(7, 45, 0, 45, true);
    g.satellites[2] = Sat(12, 30, 90, 50, true);
    RecordingDC dc;
    DrawSatelliteChart(dc, g, res);
    ASSERT_EQ(dc.fills.size(), 2u);
    EXPECT_EQ(dc.fills[0].first, QRect(QPoint(205, 328), QPoint(216, 443)));
    EXPECT_EQ(dc.fills[1].first, QRect(QPoint(221, 316), QPoint(232, 443)));
    EXPECT_EQ(dc.fills[0].second, QColor(0, 255, 0));
    EXPECT_EQ(dc.TextAtOr(205, 448), "07");
    EXPECT_EQ(dc.TextAtOr(221, 448), "12");
    EXPECT_EQ(dc.TextAtOr(205, 328 - 14), "45");
    EXPECT_EQ(dc.TextAtOr(221, 316 - 14), "50");
    EXPECT_EQ(dc.TextAt(205, 448)->colour, QColor(255, 255, 255));
    // The sky-plot number sits inside its marker, in black.
    ASSERT_EQ(dc.markers.size(), 2u);
    const QPoint m = dc.markers[0];
    ASSERT_NE(dc.TextAt(m.x() + 4, m.y() + 4), nullptr);
    EXPECT_EQ(dc.TextAt(m.x() + 4, m.y() + 4)->text, "07");
    EXPECT_EQ(dc.TextAt(m.x() + 4, m.y() + 4)->colour, QColor(0, 0, 0));
    EXPECT_EQ(dc.TextAt(m.x() + 4, m.y() + 4)->pixelSize, res.fontSmall.pixelSize());
}

// A satellite being acquired (myguide-3100): its bar and its count, no place in the sky.
TEST_F(PanelTest, SatelliteWithoutPositionHasBarButNoMarker)
{
    GpsData g{};
    g.satellites[0] = Sat(7, 45, 0, 45, true);
    g.satellites[1] = Sat(19, 0, 0, 38, false);
    g.satellites[1].noPosition = true;
    RecordingDC dc;
    DrawStatusPanel(dc, g, res);
    EXPECT_EQ(dc.TextAtOr(221, 448), "19");
    ASSERT_EQ(dc.markers.size(), 1u);
    EXPECT_EQ(dc.TextAtOr(dc.markers[0].x() + 4, dc.markers[0].y() + 4), "07");
    EXPECT_EQ(dc.TextAtOr(92 + 4, 342 + 4), "<nothing>") << "no marker on the northern horizon";
    auto shown = [&dc](const std::string& text) {
        return std::any_of(dc.texts.begin(), dc.texts.end(), [&](const auto& t) { return t.text == text; });
    };
    EXPECT_TRUE(shown("38")) << "the signal of its bar";
    EXPECT_TRUE(shown("1 used / 2 in view"));
}

TEST_F(PanelTest, BarOfSnrZero)
{
    GpsData used{};
    used.satellites[0] = Sat(3, 10, 10, 0, true);
    RecordingDC dcUsed;
    DrawSatelliteChart(dcUsed, used, res);
    ASSERT_EQ(dcUsed.fills.size(), 1u);
    EXPECT_TRUE(dcUsed.fills[0].first.isEmpty());
    EXPECT_EQ(dcUsed.TextAtOr(205, 430), "00");

    GpsData unused{};
    unused.satellites[0] = Sat(3, 10, 10, 0, false);
    RecordingDC dc;
    DrawSatelliteChart(dc, unused, res);
    EXPECT_TRUE(dc.fills.empty());
    const QImage img = dc.Finish().toImage();
    EXPECT_EQ(img.pixelColor(205, 444), QColor(255, 0, 0));
    EXPECT_EQ(img.pixelColor(216, 444), QColor(255, 0, 0));
    EXPECT_NE(img.pixelColor(210, 443), QColor(255, 0, 0));
}

TEST_F(PanelTest, UnusedBarIsARedOutline)
{
    GpsData g{};
    g.satellites[5] = Sat(21, 60, 180, 45, false);
    RecordingDC dc;
    DrawSatelliteChart(dc, g, res);
    const QImage img = dc.Finish().toImage();
    EXPECT_EQ(img.pixelColor(205, 400), QColor(255, 0, 0)) << "left edge";
    EXPECT_EQ(img.pixelColor(217, 400), QColor(255, 0, 0)) << "right edge";
    EXPECT_EQ(img.pixelColor(210, 328), QColor(255, 0, 0)) << "top edge";
    EXPECT_EQ(img.pixelColor(210, 444), QColor(255, 0, 0)) << "baseline";
    EXPECT_NE(img.pixelColor(210, 400), QColor(255, 0, 0)) << "inside stays open";
}

TEST_F(PanelTest, SkyPlotMarkersFollowTheCompass)
{
    struct Row
    {
        std::uint16_t el, az;
        QPoint topLeft;
    } rows[] = {
        {90, 0, {92, 392}},  {90, 217, {92, 392}}, // zenith: the centre, whatever the azimuth
        {0, 0, {92, 342}},                          // horizon north: 50 pixels up
        {0, 90, {142, 392}},                        // east: right
        {0, 180, {92, 442}},                        // south: down
        {0, 270, {42, 392}},                        // west: left
        {45, 90, {117, 392}},
    };
    for (const auto& row : rows)
    {
        GpsData g{};
        g.satellites[0] = Sat(9, row.el, row.az, 30, true);
        RecordingDC dc;
        DrawSatelliteChart(dc, g, res);
        ASSERT_EQ(dc.markers.size(), 1u);
        EXPECT_NEAR(dc.markers[0].x(), row.topLeft.x(), 1) << row.el << "/" << row.az;
        EXPECT_NEAR(dc.markers[0].y(), row.topLeft.y(), 1) << row.el << "/" << row.az;
    }
}

TEST_F(PanelTest, MarkerKeyColourIsTransparent)
{
    ASSERT_FALSE(res.bmpSatelliteMarker.isNull());
    GpsData g{};
    g.satellites[0] = Sat(9, 90, 0, 30, true);
    RecordingDC dc;
    DrawStatusPanel(dc, g, res);
    const QImage img = dc.Finish().toImage();
    for (int y = 392; y < 392 + 18; ++y)
        for (int x = 92; x < 92 + 18; ++x)
            ASSERT_NE(img.pixelColor(x, y), QColor(0, 255, 0)) << x << "," << y;
}

TEST_F(PanelTest, BackgroundImagesAreInPlace)
{
    ASSERT_EQ(res.bmpStatusPanel.size(), QSize(400, 278));
    ASSERT_EQ(res.bmpSatellitePanel.size(), QSize(400, 201));
    RecordingDC dc;
    DrawStatusPanel(dc, GpsData{}, res);
    const QImage img = dc.Finish().toImage();
    EXPECT_EQ(img.pixelColor(10, 10), res.bmpStatusPanel.pixelColor(10, 10));
    EXPECT_EQ(img.pixelColor(300, 276 + 150), res.bmpSatellitePanel.pixelColor(300, 150));
    EXPECT_EQ(img.pixelColor(200, 650), QColor(192, 192, 192));
}
// ---------------------------------------------------------------------------------------------
// Every constellation

// The record after a whole capture, as the window shows it.
GpsData AfterCapture(const char* name)
{
    GpsData gps;
    for (const std::string& line : CaptureLines(name))
        DecodeSentence(line, gps);
    return gps;
}

// A 40-satellite sky of four constellations, from sentences as a current receiver sends them.
GpsData FortySatelliteSky()
{
    GpsData gps;
    auto cycle = [&gps](const char* talker, int first, int count) {
        const int messages = (count + 3) / 4;
        for (int m = 1; m <= messages; ++m)
        {
            std::string body = std::string("$") + talker + "GSV," + std::to_string(messages) + "," +
                               std::to_string(m) + "," + std::to_string(count);
            for (int i = (m - 1) * 4; i < std::min(count, m * 4); ++i)
            {
                const int prn = first + i;
                body += "," + std::to_string(prn) + "," + std::to_string(5 + (prn * 37) % 85) + "," +
                        std::to_string((prn * 71) % 360) + "," + std::to_string(15 + (prn * 13) % 36);
            }
            DecodeSentence(WithChecksum(body), gps);
        }
    };
    cycle("GP", 1, 12);
    cycle("GL", 65, 10);
    cycle("GA", 1, 10);
    cycle("GB", 1, 8);
    for (SatelliteInfo& sat : gps.satellites)
        sat.used = sat.prn != 0 && sat.snr > 30;
    gps.fixMode = 3;
    return gps;
}

// With ORVANE_PANEL_SHOTS set, the rendered panel is kept there to be looked at.
void Keep(CMemDCEx& dc, const char* name)
{
    if (const char* folder = std::getenv("ORVANE_PANEL_SHOTS"))
        dc.Finish().save(QString::fromUtf8(folder) + "/" + name + ".png");
}

TEST_F(PanelTest, NeoM8nShowsEveryGpsAndGlonassSatellite)
{
    const GpsData gps = AfterCapture("neo-m8n.nmea");
    ASSERT_EQ(SatellitesInView(gps), 23);
    RecordingDC dc;
    DrawStatusPanel(dc, gps, res);
    Keep(dc, "neo-m8n");

    // One bar and one PRN label per satellite: 13 GPS, 10 GLONASS.
    EXPECT_EQ(dc.upward.size(), 23u);
    std::multiset<std::string> labels;
    for (const auto& t : dc.upward)
        labels.insert(t.text);
    EXPECT_EQ(labels.count("32"), 1u);
    EXPECT_EQ(labels.count("84"), 1u);
    EXPECT_EQ(dc.discs.size(), 23u);
    // Used bars are filled in their constellation's colour, GPS green as ever: the capture's
    // last GNGSAs use 9 GPS and 4 GLONASS satellites; one more fill each is the legend's.
    std::map<std::string, int> fills;
    for (const auto& [rect, colour] : dc.fills)
        ++fills[colour.name().toStdString()];
    EXPECT_EQ(fills[QColor(0, 255, 0).name().toStdString()], 9 + 1);
    EXPECT_EQ(fills[SystemColour(GnssSystem::Glonass).name().toStdString()], 4 + 1);
    EXPECT_EQ(dc.TextAtOr(400 - 8 - QFontMetrics(res.fontSmall).horizontalAdvance("13 used / 23 in view"), 283),
              "13 used / 23 in view");
    // The legend names both constellations.
    EXPECT_NE(dc.TextAt(205 + 9, 302), nullptr);
    EXPECT_EQ(dc.TextAtOr(205 + 9, 302), "GPS");
}

TEST_F(PanelTest, FortySatellitesInTwoRowsGroupedAndSorted)
{
    const GpsData gps = FortySatelliteSky();
    ASSERT_EQ(SatellitesInView(gps), 40);
    RecordingDC dc;
    DrawStatusPanel(dc, gps, res);
    Keep(dc, "forty");
    ASSERT_EQ(dc.upward.size(), 40u);
    // Two rows of 20: GPS 1-12 then GLONASS 65-72 in the first, sorted by PRN.
    std::set<int> rows;
    for (const auto& t : dc.upward)
        rows.insert(t.y);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(dc.upward[0].text, "01");
    EXPECT_EQ(dc.upward[11].text, "12");
    EXPECT_EQ(dc.upward[12].text, "65");
    for (std::size_t i = 1; i < 20; ++i)
        EXPECT_GT(dc.upward[i].x, dc.upward[i - 1].x) << i;
    // Every label stays inside the panel and no two overlap.
    for (std::size_t i = 1; i < dc.upward.size(); ++i)
    {
        EXPECT_LE(dc.upward[i].x + QFontMetrics(res.fontTiny).height(), 400);
        if (dc.upward[i].y == dc.upward[i - 1].y)
        {
            EXPECT_GE(dc.upward[i].x - dc.upward[i - 1].x, QFontMetrics(res.fontTiny).height() - 2) << i;
        }
    }
}

TEST_F(PanelTest, TwelveGpsSatellitesNoLegendAsBefore)
{
    GpsData g{};
    for (int i = 0; i < 12; ++i)
    {
        g.satellites[i] = Sat(static_cast<std::uint16_t>(i + 1), 45, 30, 40, i % 2 == 0);
        g.satellites[i].talker = Talker::GP;
    }
    RecordingDC dc;
    DrawSatelliteChart(dc, g, res);
    EXPECT_TRUE(dc.upward.empty());
    EXPECT_TRUE(dc.discs.empty());
    EXPECT_EQ(dc.markers.size(), 12u);
    EXPECT_EQ(dc.TextAtOr(205 + 11 * 16, 448), "12");
    EXPECT_EQ(dc.TextAt(205 + 9, 302), nullptr) << "no legend for GPS alone";
}

TEST_F(PanelTest, StaleRecordSaysNoDataAndDims)
{
    GpsData g{};
    g.fixMode = 3;
    g.latitude = 24.123456f;
    RecordingDC live;
    DrawStatusPanel(live, g, res, true);
    RecordingDC stale;
    DrawStatusPanel(stale, g, res, false);
    Keep(stale, "stale");
    EXPECT_EQ(live.TextAtOr(30, 132), "Fixed");
    const TextCall* noData = nullptr;
    for (const auto& t : stale.texts)
        if (t.x == 30 && t.y == 132)
            noData = &t;
    ASSERT_NE(noData, nullptr);
    EXPECT_EQ(noData->text, "No data");
    EXPECT_EQ(noData->colour, QColor(0, 200, 200));
    const TextCall* lat = stale.TextAt(70, 194);
    ASSERT_NE(lat, nullptr);
    EXPECT_EQ(lat->text, "N 24\xC2\xB0" "7'24.44");
    EXPECT_NE(lat->colour, QColor(0, 200, 200)) << "old values are dimmed";
}

// The time to first fix on the Position heading's row: right-aligned to the panel's edge,
// clear of the heading, in the ink of its state.
TEST_F(PanelTest, TimeToFixEndsAtThePositionHeadingsRightEdgeInTheInkOfItsState)
{
    const struct
    {
        const char* name;
        const char* text;
        bool searching;
        bool live;
        QColor ink;
    } rows[] = {
        {"ttff-counting", "Cold start: searching 12.3 s", true, true, QColor(0, 128, 136)},
        {"ttff-result", "Cold start: fix in 34.2 s", false, true, QColor(30, 36, 52)},
        {"ttff-longest", "Warm start: searching 1999.9 s", true, true, QColor(0, 128, 136)},
        {"ttff-stale", "Connected: fix in 2.1 s", false, false, QColor(130, 136, 150)},
        {"ttff-counting-through-silence", "Hot start: searching 4.0 s", true, false, QColor(0, 128, 136)},
    };
    const QFontMetrics fm(res.fontSmall);
    const int headingEnd = 15 + QFontMetrics(MakeCellHeightFont(QStringLiteral("Arial"), 12, true))
                                    .horizontalAdvance(QStringLiteral("Position"));
    GpsData gps{};
    gps.fixMode = 3;
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        RecordingDC dc;
        DrawStatusPanel(dc, gps, res, row.live);
        const std::size_t before = dc.texts.size();
        DrawTimeToFix(dc, QString::fromLatin1(row.text), row.searching, res, row.live);
        Keep(dc, row.name);
        ASSERT_EQ(dc.texts.size(), before + 1);
        const TextCall& t = dc.texts.back();
        EXPECT_EQ(t.text, row.text);
        EXPECT_EQ(t.colour, row.ink);
        EXPECT_EQ(t.pixelSize, res.fontSmall.pixelSize());
        EXPECT_EQ(t.x + fm.horizontalAdvance(QString::fromLatin1(row.text)), 392);
        EXPECT_EQ(t.y + fm.ascent(), 178) << "on the heading's baseline";
        EXPECT_GT(t.x, headingEnd + 20) << "clear of the heading";
        EXPECT_GE(t.x, PanelRect(panel::kTimeToFixBox).left()) << "inside what the count repaints";
    }
    RecordingDC none;
    DrawTimeToFix(none, QString(), false, res);
    EXPECT_TRUE(none.texts.empty());
}

// The receiver's name on the Time and Date heading's row: right-aligned to the panel's edge,
// clear of the heading, cut with an ellipsis rather than run into it.
TEST_F(PanelTest, ReceiverNameEndsAtTheTimeHeadingsRightEdgeAndIsCutBeforeTheHeading)
{
    const struct
    {
        const char* name;
        QString text;
        bool live;
        QColor ink;
        bool cut;
    } rows[] = {
        {"receiver-ublox", QStringLiteral("u-blox M8 (ROM CORE 3.01)"), true, QColor(30, 36, 52), false},
        {"receiver-bridge", QStringLiteral("PL2303 bridge"), true, QColor(30, 36, 52), false},
        {"receiver-stale", QStringLiteral("MediaTek MT3333 (AXN_3.8)"), false, QColor(130, 136, 150), false},
        {"receiver-long", QStringLiteral("Quectel LG290P (LG290P03AANR01A01S_BETA0001 build 2024-05-31 long)"), true,
         QColor(30, 36, 52), true},
    };
    const QFontMetrics fm(res.fontSmall);
    const int headingEnd = 15 + QFontMetrics(MakeCellHeightFont(QStringLiteral("Arial"), 12, true))
                                    .horizontalAdvance(QStringLiteral("Time and Date"));
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        RecordingDC dc;
        DrawStatusPanel(dc, GpsData{}, res, row.live);
        const std::size_t before = dc.texts.size();
        DrawReceiverName(dc, row.text, res, row.live);
        Keep(dc, row.name);
        ASSERT_EQ(dc.texts.size(), before + 1);
        const TextCall& t = dc.texts.back();
        const QString shown = QString::fromStdString(t.text);
        EXPECT_EQ(shown != row.text, row.cut) << t.text;
        EXPECT_EQ(shown.endsWith(QChar(0x2026)), row.cut);
        EXPECT_EQ(t.colour, row.ink);
        EXPECT_EQ(t.x + fm.horizontalAdvance(shown), 392);
        EXPECT_EQ(t.y + fm.ascent(), 47) << "on the heading's baseline";
        EXPECT_GT(t.x, headingEnd) << "clear of the heading";
        EXPECT_GE(t.x, PanelRect(panel::kReceiverBox).left()) << "inside what a new name repaints";
        EXPECT_GT(t.y, panel::kTitleBandHeight - 1) << "below the title band";
    }
    RecordingDC none;
    DrawReceiverName(none, QString(), res);
    EXPECT_TRUE(none.texts.empty());
}

// The corrections line in its box under the longitude: the summary's parts fill two rows, the
// long list of types last and cut; a caster's complaint breaks at its words.
TEST_F(PanelTest, CorrectionsFillTwoRowsInTheirBoxTheTypesCutLast)
{
    const QRect box = PanelRect(panel::kCorrectionsBox);
    const QFontMetrics fm(res.fontTiny);
    const struct
    {
        const char* name;
        QString text;
        QStringList rows; // an entry ending in "…" is compared up to it
    } rows[] = {
        {"network", QStringLiteral("BNDM  2.0 kB/s  age 0.1 s  base 11.1 km  63 1007 1008 1019 1020 1033 1044 1045 1046 1077 1087 1097 1107 1789"),
         {QStringLiteral("BNDM  2.0 kB/s  age 0.1 s  base 11.1 km"), QStringLiteral("63 1007 1008 1019\u2026")}},
        {"own base", QStringLiteral("BASE  180 B/s  age 0.9 s  1005"), {QStringLiteral("BASE  180 B/s  age 0.9 s  1005")}},
        {"waiting", QStringLiteral("BNDM  no corrections yet"), {QStringLiteral("BNDM  no corrections yet")}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        RecordingDC dc;
        DrawCorrections(dc, row.text, res, true);
        ASSERT_EQ(dc.texts.size(), static_cast<std::size_t>(row.rows.size()));
        for (qsizetype i = 0; i < row.rows.size(); ++i)
        {
            const TextCall& t = dc.texts[static_cast<std::size_t>(i)];
            const QString shown = QString::fromStdString(t.text);
            if (row.rows[i].endsWith(QChar(0x2026)))
            {
                EXPECT_TRUE(shown.startsWith(row.rows[i].chopped(1))) << t.text;
                EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << t.text;
            }
            else
                EXPECT_EQ(shown, row.rows[i]);
            EXPECT_TRUE(box.contains(QRect(t.x, t.y, fm.horizontalAdvance(shown), fm.height()))) << t.text;
            EXPECT_EQ(t.colour, QColor(30, 36, 52));
        }
    }
    // Broken at a space, nothing lost.
    const QString refused = QStringLiteral("Corrections: caster refused: 401 Unauthorized; trying again in 40 s");
    const QStringList refusedRows = CorrectionRows(refused, res.fontTiny, box.width());
    ASSERT_EQ(refusedRows.size(), 2);
    EXPECT_EQ(refusedRows.join(QLatin1Char(' ')), refused);
    // Clear of the altitude's label, above the satellite panel.
    EXPECT_LT(box.right(), 222);
    EXPECT_LT(box.bottom(), panel::kSatellitePanelTop);
    RecordingDC none;
    DrawCorrections(none, QString(), res);
    EXPECT_TRUE(none.texts.empty());
}

struct DmsRow
{
    float value;
    const char* expected;
};

// A checksum-valid sentence can carry a 12-digit coordinate; the text stays defined.
TEST_F(PanelTest, FormatDmsForEveryFloat)
{
    const DmsRow rows[] = {
        {24.123456f, "24\xC2\xB0" "7'24.44"},
        {1.0e10f, "10000000000\xC2\xB0" "0'0.00"},
        {3.4e38f, "339999995214436424907732413799364296704\xC2\xB0" "0'0.00"},
        {std::numeric_limits<float>::infinity(), "---"},
        {std::numeric_limits<float>::quiet_NaN(), "---"},
        {2147483520.0f, "2147483520\xC2\xB0" "0'0.00"},
        {2147483392.0f, "2147483392\xC2\xB0" "0'0.00"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FormatDms(row.value), row.expected) << row.value;

    GpsData g{};
    DecodeSentence("$GPGGA,123519,999999999999.99,N,999999999999.99,E,1,08,0.9,545.4,M,46.9,M,,*48\r\n", g);
    RecordingDC dc;
    DrawStatusPanel(dc, g, res);
    EXPECT_NE(dc.TextAtOr(70, 194).find("0'0.00"), std::string::npos) << dc.TextAtOr(70, 194);
}

// ---------------------------------------------------------------------------------------------
// The surface: drawn again in place, keyed marker, device pixel ratio

int CountColour(const QImage& image, const QRect& area, const QColor& colour)
{
    int n = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            n += image.pixelColor(x, y) == colour;
    return n;
}

GpsData OneGpsSatellite(std::uint16_t snr, bool used)
{
    GpsData g{};
    g.satellites[0] = Sat(9, 90, 0, snr, used);
    g.satellites[0].talker = Talker::GP;
    g.fixMode = 3;
    g.year = 2010, g.month = 1, g.day = 5, g.hour = 7, g.minute = 5, g.second = 9;
    return g;
}

struct ReuseRow
{
    const char* name;
    QRect clip;
    qreal dpr;
    int allocations; // after this step, counted from the first
};

TEST_F(PanelTest, SurfaceDrawnAgainKeepsItsPixmapAndMatchesAFreshOne)
{
    const QRect panelRect(0, 0, 400, 780);
    const ReuseRow steps[] = {
        {"same box", panelRect, 1.0, 1},
        {"same box again", panelRect, 1.0, 1},
        {"box of the same far corner", QRect(100, 300, 300, 480), 1.0, 1},
        {"other ratio", panelRect, 2.0, 2},
        {"other size", QRect(0, 0, 1280, 780), 2.0, 3},
        {"back", panelRect, 1.0, 4},
    };
    CMemDCEx reused(panelRect);
    DrawStatusPanel(reused, OneGpsSatellite(45, true), res);
    reused.Finish();
    for (const auto& step : steps)
    {
        // A different record each time: nothing of the previous picture may show through.
        const GpsData g = OneGpsSatellite(static_cast<std::uint16_t>(10 + 7 * reused.GetAllocations()), false);
        reused.Begin(step.clip, step.dpr);
        DrawStatusPanel(reused, g, res);
        const QImage again = reused.Finish().toImage();
        EXPECT_EQ(reused.GetAllocations(), step.allocations) << step.name;
        CMemDCEx fresh(step.clip, step.dpr);
        DrawStatusPanel(fresh, g, res);
        EXPECT_EQ(again, fresh.Finish().toImage()) << step.name;
        EXPECT_EQ(reused.GetPixmap().devicePixelRatio(), step.dpr) << step.name;
    }
}

TEST_F(PanelTest, MarkerIsKeyedOnceAtLoadAndDrawsAsTheKeyedCopyDid)
{
    const QImage raw(QStringLiteral(":/images/satellite_marker_323.png"));
    ASSERT_TRUE(res.bmpSatelliteMarker.hasAlphaChannel());
    int keyPixels = 0, transparent = 0;
    for (int y = 0; y < raw.height(); ++y)
        for (int x = 0; x < raw.width(); ++x)
        {
            keyPixels += (raw.pixel(x, y) & 0xFFFFFF) == 0x00FF00;
            transparent += qAlpha(res.bmpSatelliteMarker.pixel(x, y)) == 0;
        }
    EXPECT_GT(keyPixels, 0);
    EXPECT_EQ(transparent, keyPixels);

    // Keyed at draw time from the raw image, or drawn pre-keyed: the same pixels.
    QImage drawn[2];
    for (int keyed = 0; keyed < 2; ++keyed)
    {
        CMemDCEx dc(QRect(0, 0, 40, 40));
        dc.FillSolidRect(QRect(0, 0, 40, 40), QColor(178, 192, 212));
        dc.TransparentBlt(11, 7, keyed ? res.bmpSatelliteMarker : raw, QColor(0, 255, 0));
        drawn[keyed] = dc.Finish().toImage();
    }
    EXPECT_EQ(drawn[0], drawn[1]);
    EXPECT_EQ(CountColour(drawn[1], drawn[1].rect(), QColor(0, 255, 0)), 0);
}

// At ratio 2 every logical pixel is 2 x 2 device pixels: what the 1x tests find at (x, y) is at
// (2x, 2y), and text is drawn at the finer resolution rather than enlarged.
struct DeviceBarRow
{
    const char* name;
    QPoint at; // 1x pixel
    bool green;
};

TEST_F(PanelTest, PanelAtRatioTwoPutsBarsAndTextsAtDoubleCoordinates)
{
    GpsData g = OneGpsSatellite(40, true);
    g.satellites[1] = Sat(14, 30, 60, 30, false);
    g.satellites[1].talker = Talker::GP;
    CMemDCEx one(QRect(0, 0, 400, 700));
    DrawStatusPanel(one, g, res);
    const QImage x1 = one.Finish().toImage();
    RecordingDC two(2.0);
    DrawStatusPanel(two, g, res);
    Keep(two, "ratio2");
    const QImage x2 = two.Finish().toImage();
    ASSERT_EQ(x2.size(), QSize(800, 1400));
    ASSERT_EQ(x2.devicePixelRatio(), 2.0);
    // The drawing calls are the same: positions stay logical.
    EXPECT_EQ(two.TextAtOr(42, 62), "07:05:09");

    // Bar of 40 dB-Hz in the first slot: x 205..216, y 342..443 at 1x.
    const int top = static_cast<int>(444 - 40 * 2.56f);
    const DeviceBarRow rows[] = {
        {"top left", {205, top}, true},       {"bottom right", {216, 443}, true}, {"middle", {210, 400}, true},
        {"left of the bar", {204, 400}, false}, {"right of the bar", {217, 400}, false},
        {"above the bar", {210, top - 1 - 14}, false}, {"under the baseline", {210, 445}, false},
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(x1.pixelColor(row.at) == QColor(0, 255, 0), row.green) << row.name << " at 1x";
        // All four device pixels of the logical one.
        const QRect device(row.at * 2, QSize(2, 2));
        EXPECT_EQ(CountColour(x2, device, QColor(0, 255, 0)), row.green ? 4 : 0) << row.name << " at 2x";
    }
    // The second slot's outline (unused, 30 dB-Hz): 1x edges at x 221 and 233, baseline 444.
    const QColor red(255, 0, 0);
    for (const QPoint at : {QPoint(221, 400), QPoint(233, 400), QPoint(227, 444)})
    {
        ASSERT_EQ(x1.pixelColor(at), red) << at.x() << "," << at.y();
        EXPECT_GE(CountColour(x2, QRect(at * 2, QSize(2, 2)), red), 2) << at.x() << "," << at.y();
    }
    EXPECT_EQ(CountColour(x2, QRect(QPoint(222, 400) * 2, QSize(2, 2)), red), 0) << "inside stays open";

    // The grey under the images covers the whole device surface.
    EXPECT_EQ(x2.pixelColor(400, 1300), QColor(192, 192, 192));
    EXPECT_EQ(x2.pixelColor(799, 1399), QColor(192, 192, 192));

    // Time text: its ink lies in the 2x box of its 1x box, at least four times as much (fewer of
    // the finer pixels are edge pixels of another colour).
    const QColor value(0, 200, 200);
    const QFontMetrics fm(res.fontLarge);
    const QRect box1(42, 62, fm.horizontalAdvance(QStringLiteral("07:05:09")), fm.height());
    const QRect box2(box1.topLeft() * 2, box1.size() * 2);
    const int ink1 = CountColour(x1, box1, value);
    const int ink2 = CountColour(x2, box2, value);
    ASSERT_GT(ink1, 20);
    EXPECT_GT(ink2, ink1 * 3);
    EXPECT_LT(ink2, ink1 * 10);
    // Drawn at the finer resolution, not enlarged: an enlarged 1x picture has every aligned 2 x 2
    // block of one colour.
    int detailed = 0;
    for (int y = box2.top(); y < box2.bottom(); y += 2)
        for (int x = box2.left(); x < box2.right(); x += 2)
            detailed += x2.pixel(x, y) != x2.pixel(x + 1, y) || x2.pixel(x, y) != x2.pixel(x, y + 1);
    EXPECT_GT(detailed, 20);
    // Nothing of it at the 1x place outside the 2x box (the well's left part).
    EXPECT_EQ(CountColour(x2, QRect(box1.left(), box1.top(), box2.left() - box1.left(), box1.height()), value), 0);

    // The zenith marker, scaled: no key green shows around it.
    EXPECT_EQ(CountColour(x2, QRect(QPoint(92, 392) * 2, QSize(36, 36)), QColor(0, 255, 0)), 0);
}
} // namespace
