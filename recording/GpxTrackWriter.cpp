#include "recording/GpxTrackWriter.h"

#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"

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

// xsd:decimal has no exponent and no locale: fixed notation through to_chars.
void AppendFixed(std::string& text, double value, int decimals)
{
    char digits[48];
    const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    text.append(digits, result.ptr);
}

bool HasDate(const GpsData& gps)
{
    return gps.year >= 1 && gps.month >= 1 && gps.month <= 12 && gps.day >= 1 && gps.day <= 31 &&
           gps.hour >= 0 && gps.hour <= 23 && gps.minute >= 0 && gps.minute <= 59 && gps.second >= 0 &&
           gps.second <= 60;
}

// Field `index` (the sentence name is field 0), or an empty view.
std::string_view Field(std::string_view line, int index)
{
    std::size_t start = 0;
    for (int i = 0; i < index; ++i)
    {
        start = line.find(',', start);
        if (start == std::string_view::npos)
            return {};
        ++start;
    }
    const std::size_t end = line.find_first_of(",*\r\n", start);
    return line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

// The sentence's UTC time of day and whether it says there is no fix; false for a sentence
// that carries no time.
bool TimeField(std::string_view line, std::string_view& time, bool& noFix)
{
    if (line.size() < 7 || line[0] != '$' || line[6] != ',')
        return false;
    const std::string_view name = line.substr(3, 3);
    if (name != "GGA" && name != "RMC" && name != "GNS" && name != "ZDA")
        return false;
    time = Field(line, 1);
    noFix = (name == "GGA" && Field(line, 6) == "0") || (name == "RMC" && Field(line, 2) == "V");
    return !time.empty();
}
} // namespace

bool FixCycle::Starts(std::string_view line)
{
    std::string_view time;
    bool noFix = false;
    if (!TimeField(line, time, noFix))
        return false;
    if (time == m_strTime)
    {
        m_bNoFix = m_bNoFix || noFix;
        return false;
    }
    const bool ended = !m_strTime.empty();
    m_strTime.assign(time);
    m_bNoFix = noFix;
    // hhmmss.sss: up to three digits of the fraction count.
    m_nMilliseconds = 0;
    const std::size_t point = time.find('.');
    if (point != std::string_view::npos)
    {
        int scale = 100;
        for (std::size_t i = point + 1; i < time.size() && scale > 0; ++i, scale /= 10)
        {
            if (time[i] < '0' || time[i] > '9')
                break;
            m_nMilliseconds += (time[i] - '0') * scale;
        }
    }
    return ended;
}

std::string GpxTrackWriter::PointText(const GpsData& gps, int milliseconds)
{
    std::string text = "      <trkpt lat=\"";
    AppendCoordinate(text, gps.latitude);
    text += "\" lon=\"";
    AppendCoordinate(text, gps.longitude);
    text += "\">\n        <ele>";
    AppendFixed(text, gps.altitude, 1);
    text += "</ele>\n";
    if (HasDate(gps))
    {
        char stamp[40];
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d", gps.year, gps.month, gps.day,
                      gps.hour, gps.minute, gps.second);
        text += "        <time>";
        text += stamp;
        if (milliseconds > 0 && milliseconds < 1000)
        {
            std::snprintf(stamp, sizeof stamp, ".%03d", milliseconds);
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

bool GpxTrackWriter::Open(const std::wstring& path, const GpsData& known)
{
    m_gps = known;
    m_cycle = FixCycle();
    try
    {
        return m_file.Open(path, TrackLayout{kHead, kTail, {}, kTail});
    }
    catch (...)
    {
        return false;
    }
}

bool GpxTrackWriter::AddPoint(const GpsData& gps, int milliseconds)
{
    if (!m_file.IsOpen() || gps.fixMode < 2)
        return m_file.IsOpen();
    try
    {
        return m_file.Add(PointText(gps, milliseconds));
    }
    catch (...)
    {
        return false;
    }
}

bool GpxTrackWriter::AddSentence(std::string_view line)
{
    if (!m_file.IsOpen())
        return false;
    // A damaged line's time would cut a cycle in two.
    if (!IsChecksumValid(line))
        return true;
    const int milliseconds = m_cycle.Milliseconds();
    const bool fixed = !m_cycle.SaysNoFix();
    bool ok = true;
    if (m_cycle.Starts(line) && fixed)
        ok = AddPoint(m_gps, milliseconds);
    DecodeSentence(line, m_gps);
    return ok;
}

bool GpxTrackWriter::Finish()
{
    if (!m_file.IsOpen())
        return false;
    const bool last = !m_cycle.Running() || m_cycle.SaysNoFix() || AddPoint(m_gps, m_cycle.Milliseconds());
    const bool closed = m_file.Finish();
    return last && closed;
}
