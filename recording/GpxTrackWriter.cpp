#include "recording/GpxTrackWriter.h"

#include <charconv>
#include <cstdio>

namespace
{
const char* const kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<gpx version=\"1.1\" creator=\"Orvane\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
    "  <trk>\n"
    "    <trkseg>\n";
const char* const kTail = "    </trkseg>\n"
                          "  </trk>\n"
                          "</gpx>\n";

// xsd:decimal has no exponent and no locale: fixed notation through to_chars, with the given
// decimals or, without, the shortest that reads back as the same double (the receiver's digits).
void AppendFixed(std::string& text, double value, int decimals = -1)
{
    char digits[400];
    const auto result = decimals < 0
                            ? std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed)
                            : std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    text.append(digits, result.ptr);
}

} // namespace

std::string GpxTrackWriter::PointText(const GpsData& gps)
{
    std::string text = "      <trkpt lat=\"";
    AppendCoordinate(text, gps.latitude);
    text += "\" lon=\"";
    AppendCoordinate(text, gps.longitude);
    text += "\">\n        <ele>";
    AppendFixed(text, gps.altitude);
    text += "</ele>\n";
    if (HasValidDate(gps))
    {
        char stamp[40];
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d", gps.year, gps.month, gps.day,
                      gps.hour, gps.minute, gps.second);
        text += "        <time>";
        text += stamp;
        if (gps.millisecond > 0)
        {
            std::snprintf(stamp, sizeof stamp, ".%03d", gps.millisecond);
            text += stamp;
        }
        text += "Z</time>\n";
    }
    text += gps.fixMode == 3 ? "        <fix>3d</fix>\n" : "        <fix>2d</fix>\n";
    text += "        <sat>" + std::to_string(SatellitesUsed(gps)) + "</sat>\n";
    text += "        <hdop>";
    AppendFixed(text, gps.hdop, 2);
    text += "</hdop>\n        <pdop>";
    AppendFixed(text, gps.pdop, 2);
    text += "</pdop>\n      </trkpt>\n";
    return text;
}

bool GpxTrackWriter::Open(const std::wstring& path, bool createNew)
{
    try
    {
        return m_file.Open(path, TrackLayout{kHead, kTail, {}, kTail}, createNew);
    }
    catch (...)
    {
        return false;
    }
}

bool GpxTrackWriter::AddPoint(const GpsData& gps)
{
    if (!m_file.IsOpen() || !HasFix(gps))
        return m_file.IsOpen();
    try
    {
        return m_file.Add(PointText(gps));
    }
    catch (...)
    {
        return false;
    }
}

bool GpxTrackWriter::Finish()
{
    return m_file.IsOpen() && m_file.Finish();
}
