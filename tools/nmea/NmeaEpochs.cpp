#include "tools/nmea/NmeaEpochs.h"

#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"
#include "gps/UbxDecoders.h"

#include <charconv>
#include <cstdio>
#include <string>

namespace
{

// The longest line the device hands on, LF included.
constexpr std::size_t kMaxLine = 1023;

// Shortest text that reads back as the same number: no digits the record never had, so a
// value the receiver sent is written with its own digits.
template <typename Number>
void AppendShortest(std::string& out, Number value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// A JSON string: what a receiver says of itself may hold any byte.
void AppendString(std::string& out, std::string_view text)
{
    out += '"';
    for (const char c : text)
    {
        if (c == '"' || c == '\\')
        {
            out += '\\';
            out += c;
        }
        else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
        {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escape;
        }
        else
        {
            out += c;
        }
    }
    out += '"';
}

void AppendNumber(std::string& out, const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    out += buffer;
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

    if (HasValidDate(gps))
    {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "\"%04d-%02d-%02dT%02d:%02d:%02d.%03dZ\"", gps.year, gps.month,
                      gps.day, gps.hour, gps.minute, gps.second, gps.millisecond);
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
        AppendShortest(out, gps.altitude);
    }
    if (fix && (known & kKnownSpeed))
    {
        key("speed");
        AppendNumber(out, "%.3f", static_cast<double>(gps.speed) * 1852.0 / 3600.0);
    }
    if (fix && (known & kKnownCourse))
    {
        key("track");
        AppendShortest(out, gps.course);
    }
    if (known & kKnownHdop)
    {
        key("hdop");
        AppendShortest(out, gps.hdop);
    }
    if (known & kKnownPdop)
    {
        key("pdop");
        AppendShortest(out, gps.pdop);
    }
    // gpsd's names for the receiver's own estimates, while it reports a fix.
    if (fix && gps.horizontalAccuracyKnown)
    {
        key("eph");
        AppendShortest(out, gps.horizontalAccuracy);
    }
    if (fix && gps.verticalAccuracyKnown)
    {
        key("epv");
        AppendShortest(out, gps.verticalAccuracy);
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

EpochSplitter::EpochSplitter(Handler onEpoch, LineHandler onLine)
    : m_onEpoch(std::move(onEpoch)), m_onLine(std::move(onLine))
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

    DecodeFrame(FrameKind::Nmea, line, m_gps);
    // Only a line handler (a track) reads the marks.
    if (m_onLine)
        m_onLine(line, FrameKind::Nmea, m_gps, m_marks.Feed(line, m_gps));
    if (m_gps.ubx.navOwned > 0)
    {
        // UBX's epochs are the receiver's word; the NMEA beside them ends none, and takes
        // over from where UBX left the record once UBX falls silent.
        m_epochs = EpochDetector(m_gps);
        return;
    }
    GpsData ended;
    if (m_epochs.Feed(m_gps, ended))
        m_onEpoch(ended);
}

void EpochSplitter::Feed(const Frame& frame)
{
    if (frame.kind == FrameKind::Nmea)
    {
        Feed(frame.bytes);
        return;
    }
    if (frame.kind != FrameKind::Ubx)
        return;
    ++m_nUbxFrames;
    const std::optional<std::uint32_t> tow = UbxEpochTow(frame.bytes);
    // UBX takes the epochs over: an NMEA epoch under way ends here.
    GpsData ended;
    if (tow && m_epochs.Finish(ended))
        m_onEpoch(ended);
    if (tow && m_bUbxPending && *tow != m_nUbxTow)
    {
        m_onEpoch(m_gps);
        m_bUbxPending = false;
    }
    DecodeFrame(frame, m_gps);
    if (m_onLine)
        m_onLine(frame.bytes, frame.kind, m_gps, m_marks.Feed(frame, m_gps));
    if (tow)
    {
        m_nUbxTow = *tow;
        m_bUbxPending = true;
    }
    if (IsUbxEpochEnd(frame.bytes) && m_bUbxPending)
    {
        m_onEpoch(m_gps);
        m_bUbxPending = false;
    }
}

void EpochSplitter::Finish()
{
    GpsData ended;
    if (m_epochs.Finish(ended))
        m_onEpoch(ended);
    if (m_bUbxPending)
        m_onEpoch(m_gps);
    m_bUbxPending = false;
}

bool FeedLog(std::istream& in, EpochSplitter& splitter)
{
    Framer framer;
    Frame frame;
    std::string chunk(1 << 16, '\0');
    bool first = true;
    while (in)
    {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        std::string_view piece(chunk.data(), static_cast<std::size_t>(in.gcount()));
        if (first)
            piece.remove_prefix(CaptureHeaderLength(piece));
        first = false;
        framer.Feed(piece);
        while (framer.Next(frame))
            splitter.Feed(frame);
    }
    if (in.bad())
        return false;
    framer.Finish();
    while (framer.Next(frame))
        splitter.Feed(frame);
    splitter.Finish();
    return true;
}

namespace
{

// The constellation's name as the chart's legend writes it.
const char* SystemKey(GnssSystem system)
{
    return system == GnssSystem::Unknown ? "unknown" : ConstellationOf(system).label;
}

void AppendSatelliteMaxima(std::string& out, const FixSummary& summary,
                           int FixSummary::Satellites::*field)
{
    out += '{';
    for (const GnssSystem system : kSystemsInOrder)
    {
        const FixSummary::Satellites counts = summary.SatellitesOf(system);
        // A constellation never listed has nothing to say.
        if (counts.inViewMax == 0 && counts.usedMax == 0)
            continue;
        out += '"';
        out += SystemKey(system);
        out += "\":" + std::to_string(counts.*field) + ',';
    }
    out += "\"all\":" + std::to_string(summary.AllSatellites().*field) + '}';
}

} // namespace

std::string WithReceiver(std::string epochJson, const ReceiverIdentity& receiver)
{
    if (receiver.family == ReceiverFamily::Unknown || !epochJson.ends_with('}'))
        return epochJson;
    epochJson.pop_back();
    epochJson += epochJson.size() > 1 ? ",\"receiver\":" : "\"receiver\":";
    AppendString(epochJson, receiver.DisplayName());
    epochJson += '}';
    return epochJson;
}

std::string SummaryJson(const FixSummary& summary, const ReceiverIdentity& receiver)
{
    std::string out = "{\"epochs\":" + std::to_string(summary.Epochs());
    out += ",\"fixes\":{\"unknown\":" + std::to_string(summary.EpochsInMode(0)) +
           ",\"none\":" + std::to_string(summary.EpochsInMode(1)) +
           ",\"2d\":" + std::to_string(summary.EpochsInMode(2)) +
           ",\"3d\":" + std::to_string(summary.EpochsInMode(3)) + '}';

    out += ",\"ttff\":";
    if (const auto ttff = summary.TimeToFirstFix())
        AppendNumber(out, "%.3f", *ttff);
    else
        out += "null";

    const CepResult cep = summary.Cep();
    if (cep.count > 0)
    {
        out += ",\"cep50\":";
        AppendNumber(out, "%.3f", cep.cep50);
        out += ",\"cep95\":";
        AppendNumber(out, "%.3f", cep.cep95);
    }
    else
    {
        out += ",\"cep50\":null,\"cep95\":null";
    }

    const FixSummary::Hdop hdop = summary.HdopOfFixes();
    out += ",\"hdop\":";
    if (hdop.count > 0)
    {
        AppendNumber(out, "{\"mean\":%.3f", hdop.mean);
        out += ",\"min\":";
        AppendShortest(out, hdop.min);
        out += ",\"max\":";
        AppendShortest(out, hdop.max);
        out += '}';
    }
    else
    {
        out += "null";
    }

    out += ",\"used_max\":";
    AppendSatelliteMaxima(out, summary, &FixSummary::Satellites::usedMax);
    out += ",\"in_view_max\":";
    AppendSatelliteMaxima(out, summary, &FixSummary::Satellites::inViewMax);
    if (receiver.family != ReceiverFamily::Unknown)
    {
        out += ",\"receiver\":{\"family\":";
        AppendString(out, FamilyName(receiver.family));
        if (!receiver.model.empty())
        {
            out += ",\"model\":";
            AppendString(out, receiver.model);
        }
        if (!receiver.firmware.empty())
        {
            out += ",\"firmware\":";
            AppendString(out, receiver.firmware);
        }
        out += '}';
    }
    out += '}';
    return out;
}
