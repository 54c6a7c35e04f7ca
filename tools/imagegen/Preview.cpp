// Preview: both panels as the program shows them, drawn by the program's own code over the new
// images, with sample values (UTC, so the sheet is the same everywhere).

#include "tools/imagegen/Images.h"
#include "ui/MemDCEx.h"
#include "ui/PanelGeometry.h"
#include "ui/StatusPanel.h"

#include <QPainter>

#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace imagegen {
namespace {

GpsData SampleRecord()
{
    GpsData gps{};
    gps.year = 2010;
    gps.month = 1;
    gps.day = 5;
    gps.hour = 7;
    gps.minute = 5;
    gps.second = 9;
    gps.fixMode = 1;
    gps.hdop = 12.5f;
    gps.pdop = 99.9f;
    gps.latitude = 24.123456f;
    gps.longitude = -179.99999f;
    gps.speed = 123456.0f / 1.852f;
    gps.course = 359.9f;
    gps.altitude = 1234.5f;
    struct Sample {
        bool used;
        std::uint16_t prn, elevation, azimuth, snr;
    };
    const Sample sats[] = {{true, 7, 90, 0, 45}, {true, 12, 0, 90, 50}, {false, 30, 0, 0, 12}, {true, 2, 45, 225, 38},
                           {false, 19, 30, 300, 0}, {true, 24, 60, 140, 33}, {true, 5, 0, 180, 27}, {true, 120, 10, 250, 41}};
    std::size_t i = 0;
    for (const Sample& s : sats) {
        gps.satellites[i++] = SatelliteInfo{s.used, s.prn, s.elevation, s.azimuth, s.snr, Talker::GP};
    }
    return gps;
}

} // namespace

QImage Preview(const QImage& status, const QImage& satellites, const QImage& marker,
               const QImage& connect, const QImage& record)
{
    PanelResources res = PanelResources::WithFonts();
    res.bmpStatusPanel = status;
    res.bmpSatellitePanel = satellites;
    res.bmpSatelliteMarker = KeyedMarker(marker);
    setenv("TZ", "UTC0", 1);
    tzset();
    CMemDCEx dc(QRect(0, 0, panel::kWidth, panel::kSatellitePanelTop + panel::kSatellitePanelHeight));
    DrawStatusPanel(dc, SampleRecord(), res);
    QImage sheet = dc.Finish().toImage().convertToFormat(QImage::Format_RGB32);
    QPainter p(&sheet);
    p.drawImage(PanelRect(panel::kConnectButton).topLeft(), connect);
    p.drawImage(PanelRect(panel::kRecordButton).topLeft(), record);
    return sheet;
}

} // namespace imagegen
