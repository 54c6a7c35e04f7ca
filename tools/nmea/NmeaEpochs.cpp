#include "tools/nmea/NmeaEpochs.h"

#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"
#include "recording/GpxTrackWriter.h"
#include "recording/KmlTrackWriter.h"
#include "util/WideText.h"

#include <charconv>
#include <cstdio>
#include <string>

namespace
{

// The longest line the device hands on, LF included.
constexpr std::size_t kMaxLine = 1023;

// Shortest text that reads back as the same float: no digits the record never had.
void AppendFloat(std::string& out, float value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendNumber(std::string& out, const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    out += buffer;
}

bool HasDate(const GpsData& gps)
{
    return gps.year > 0 && gps.month >= 1 && gps.month <= 12 && gps.day >= 1 && gps.day <= 31 &&
           gps.hour >= 0 && gps.hour < 24 && gps.minute >= 0 && gps.minute < 60 && gps.second >= 0 &&
           gps.second < 61;
}

} // namespace

std::string EpochJson(const GpsData& gps)
{
    const std::uint8_t known = gps.decode.known;
    const bool fix = gps.fixMode != 1;
    std::string out = "{";
    auto key = [&out](const char* name) {
        if (out.size() > 1)
            out += ',';
        out += '"';
        out += name;
        out += "\":";
    };

    if (HasDate(gps))
    {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "\"%04d-%02d-%02dT%02d:%02d:%02d.000Z\"", gps.year, gps.month,
                      gps.day, gps.hour, gps.minute, gps.second);
        key("time");
        out += buffer;
    }
    if (gps.fixMode >= 1 && gps.fixMode <= 3)
    {
        key("mode");
        out += std::to_string(gps.fixMode);
    }
    if (fix && (known & kKnownPosition))
    {
        key("lat");
        AppendCoordinate(out, gps.latitude);
        key("lon");
        AppendCoordinate(out, gps.longitude);
    }
    // A 2D fix has no altitude to speak of.
    if (fix && gps.fixMode != 2 && (known & kKnownAltitude))
    {
        key("alt");
        AppendFloat(out, gps.altitude);
    }
    if (fix && (known & kKnownSpeed))
    {
        key("speed");
        AppendNumber(out, "%.3f", static_cast<double>(gps.speed) * 1852.0 / 3600.0);
    }
    if (fix && (known & kKnownCourse))
    {
        key("track");
        AppendFloat(out, gps.course);
    }
    if (known & kKnownHdop)
    {
        key("hdop");
        AppendFloat(out, gps.hdop);
    }
    if (known & kKnownPdop)
    {
        key("pdop");
        AppendFloat(out, gps.pdop);
    }
    if (SatellitesInView(gps) > 0)
    {
        key("satellites");
        out += '[';
        bool first = true;
        for (const SatelliteInfo& sat : gps.satellites)
        {
            if (sat.prn == 0)
                continue;
            const GnssSystem system = SatelliteSystem(sat);
            char buffer[160];
            std::snprintf(buffer, sizeof buffer, "%s{\"gnss\":\"%s\",\"prn\":%u,\"gnssid\":%d,\"svid\":%d,", first ? "" : ",",
                          TalkerName(sat.talker), unsigned{sat.prn}, ConstellationOf(system).gpsdId,
                          GpsdSvid(system, sat.prn));
            out += buffer;
            // A satellite being acquired has no place in the sky yet.
            if (!sat.noPosition)
            {
                std::snprintf(buffer, sizeof buffer, "\"el\":%u,\"az\":%u,", unsigned{sat.elevation}, unsigned{sat.azimuth});
                out += buffer;
            }
            std::snprintf(buffer, sizeof buffer, "\"ss\":%u,\"used\":%s}", unsigned{sat.snr}, sat.used ? "true" : "false");
            out += buffer;
            first = false;
        }
        out += ']';
    }
    out += '}';
    return out;
}

EpochSplitter::EpochSplitter(Handler onEpoch) : m_onEpoch(std::move(onEpoch))
{
}

void EpochSplitter::Feed(std::string_view line)
{
    if (line.size() > kMaxLine || line.empty() || line.back() != '\n')
        return;
    std::string restored;
    if (line.size() < 2 || line[line.size() - 2] != '\r')
    {
        restored.assign(line.substr(0, line.size() - 1));
        restored += "\r\n";
        line = restored;
    }
    if (!IsChecksumValid(line))
        return;
    ++m_nSentences;

    const GpsData before = m_gps;
    DecodeSentence(line, m_gps);
    const bool newTime = m_gps.hour != before.hour || m_gps.minute != before.minute || m_gps.second != before.second;
    if (newTime && m_bPending)
        m_onEpoch(before);
    m_bPending = true;
}

void EpochSplitter::Finish()
{
    if (m_bPending)
        m_onEpoch(m_gps);
    m_bPending = false;
}

namespace
{

class KmlOutput : public TrackOutput
{
public:
    bool Open(const std::string& path) override { return m_writer.Open(FromUtf8(path)); }
    void Add(const GpsData& gps) override
    {
        if (gps.fixMode > 1 && (gps.decode.known & kKnownPosition))
            m_writer.AddPoint(gps);
    }
    bool Finish() override { return m_writer.Finish(); }

private:
    KmlTrackWriter m_writer;
};

class GpxOutput : public TrackOutput
{
public:
    bool Open(const std::string& path) override { return m_writer.Open(FromUtf8(path)); }
    void Add(const GpsData& gps) override
    {
        if (gps.decode.known & kKnownPosition)
            m_bWritten = m_writer.AddPoint(gps) && m_bWritten;
    }
    bool Finish() override { return m_writer.Finish() && m_bWritten; }

private:
    GpxTrackWriter m_writer;
    bool m_bWritten = true;
};

} // namespace

std::unique_ptr<TrackOutput> MakeGpxOutput()
{
    return std::make_unique<GpxOutput>();
}

std::unique_ptr<TrackOutput> MakeKmlOutput()
{
    return std::make_unique<KmlOutput>();
}
