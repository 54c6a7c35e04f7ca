#include "tools/gpssim/SimSentences.h"

#include "gps/NmeaFraming.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace
{

// ddmm.mmmm (latitude) or dddmm.mmmm (longitude) and the hemisphere letter, rounded once in
// units of the last decimal of a minute so that 59.99995 minutes carries into the degrees. An
// RTK fix is sent with 7 decimals (millimetres), as RTK receivers do.
std::string FormatCoordinate(double degrees, int degreeDigits, char positive, char negative, int decimals = 4)
{
    long long perMinute = 1;
    for (int i = 0; i < decimals; ++i)
        perMinute *= 10;
    const long long perDegree = 60 * perMinute;
    const auto units = static_cast<long long>(std::llround(std::fabs(degrees) * static_cast<double>(perDegree)));
    const long long whole = units / perDegree;
    const long long minutes = (units % perDegree) / perMinute;
    const long long fraction = units % perMinute;
    char text[64];
    std::snprintf(text, sizeof text, "%0*lld%02lld.%0*lld,%c", degreeDigits, whole, minutes, decimals,
                  fraction, degrees < 0.0 ? negative : positive);
    return text;
}

// RTK receivers give millimetres: 7 decimals of a minute in every sentence.
int CoordinateDecimals(const SimState& state)
{
    return state.quality == 1 ? 4 : 7;
}

std::string FormatTime(std::chrono::system_clock::time_point utc)
{
    using namespace std::chrono;
    const auto day = floor<days>(utc);
    const hh_mm_ss clock{floor<milliseconds>(utc - day)};
    char text[16];
    std::snprintf(text, sizeof text, "%02d%02d%02d.%03d", static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()),
                  static_cast<int>(clock.subseconds().count()));
    return text;
}

std::string FormatDate(std::chrono::system_clock::time_point utc)
{
    using namespace std::chrono;
    const year_month_day date{floor<days>(utc)};
    char text[16];
    std::snprintf(text, sizeof text, "%02u%02u%02d", static_cast<unsigned>(date.day()),
                  static_cast<unsigned>(date.month()), static_cast<int>(date.year()) % 100);
    return text;
}

const char* FixTalker(Dialect dialect)
{
    return dialect == Dialect::Gnss ? "GN" : "GP";
}

} // namespace

std::string FinishSentence(const std::string& body)
{
    std::string sentence = "$" + body + "*";
    char tail[8];
    std::snprintf(tail, sizeof tail, "%02X\r\n", ComputeChecksum(sentence));
    return sentence + tail;
}

// $GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,1.0,545.4,M,47.0,M,,0000*hh
// SiRF sends station 0000 and empty fields without a fix; u-blox leaves the station empty and
// sends 99.99 for the HDOP it does not have.
std::string GgaSentence(const SimState& state, Dialect dialect)
{
    const bool bGnss = dialect == Dialect::Gnss;
    const std::string time = FormatTime(state.utc);
    const int usedCount =
        static_cast<int>(std::count_if(state.satellites.begin(), state.satellites.end(),
                                       [](const SimSatellite& s) { return s.used; }));
    char text[160];
    if (state.fixMode > 1)
        std::snprintf(text, sizeof text, "%sGGA,%s,%s,%s,%d,%02d,%.1f,%.1f,M,%.1f,M,,%s",
                      FixTalker(dialect), time.c_str(),
                      FormatCoordinate(state.latitude, 2, 'N', 'S', CoordinateDecimals(state)).c_str(),
                      FormatCoordinate(state.longitude, 3, 'E', 'W', CoordinateDecimals(state)).c_str(),
                      state.quality,
                      std::min(usedCount, 99), state.hdop, state.altitude, state.geoidSeparation,
                      bGnss ? "" : "0000");
    else
        std::snprintf(text, sizeof text, "%sGGA,%s,,,,,0,00,%s", FixTalker(dialect), time.c_str(),
                      bGnss ? "99.99,,,,,," : ",,M,,M,,0000");
    return FinishSentence(text);
}

// $GPRMC,123519.000,A,4807.0380,N,01131.0000,E,0.13,309.62,120598,,,A*hh
// NMEA 4.10 adds the navigational status, V: the receiver gives no integrity figure.
std::string RmcSentence(const SimState& state, Dialect dialect)
{
    const std::string time = FormatTime(state.utc);
    const std::string date = FormatDate(state.utc);
    const char* status = dialect == Dialect::Gnss ? ",V" : "";
    char text[160];
    if (state.fixMode > 1)
        std::snprintf(text, sizeof text, "%sRMC,%s,A,%s,%s,%.2f,%.2f,%s,,,A%s", FixTalker(dialect),
                      time.c_str(), FormatCoordinate(state.latitude, 2, 'N', 'S', CoordinateDecimals(state)).c_str(),
                      FormatCoordinate(state.longitude, 3, 'E', 'W', CoordinateDecimals(state)).c_str(), state.speedKnots,
                      state.course, date.c_str(), status);
    else
        std::snprintf(text, sizeof text, "%sRMC,%s,V,,,,,,,%s,,,N%s", FixTalker(dialect),
                      time.c_str(), date.c_str(), status);
    return FinishSentence(text);
}

// $GPGSA,A,3,07,02,26,27,09,04,15,,,,,,1.8,1.0,1.5*hh
// $GNGSA,A,3,70,83,65,80,74,85,,,,,,,1.0,0.6,0.8,2*hh, the last field the system id.
std::vector<std::string> GsaSentences(const SimState& state, Dialect dialect)
{
    const bool bGnss = dialect == Dialect::Gnss;
    std::vector<std::string> sentences;
    char text[160];
    for (const GnssSystemSky& sky : SkiesOf(dialect))
    {
        std::string gsa =
            std::string(FixTalker(dialect)) + "GSA,A," + std::to_string(state.fixMode);
        int listed = 0;
        for (const SimSatellite& satellite : state.satellites)
        {
            if (satellite.used && satellite.talker == sky.talker && listed < kGsaPlaces)
            {
                std::snprintf(text, sizeof text, ",%02u", satellite.prn);
                gsa += text;
                ++listed;
            }
        }
        for (; listed < kGsaPlaces; ++listed)
            gsa += ',';
        if (state.fixMode > 1)
        {
            std::snprintf(text, sizeof text, ",%.1f,%.1f,%.1f", state.pdop, state.hdop, state.vdop);
            gsa += text;
        }
        else
        {
            gsa += bGnss ? ",99.99,99.99,99.99" : ",,,";
        }
        if (bGnss)
            gsa += "," + std::to_string(sky.SystemId());
        sentences.push_back(FinishSentence(gsa));
    }
    return sentences;
}

// $GPGSV,3,1,11,30,79,308,20,05,54,079,16,06,43,204,29,14,39,247,41*hh
// NMEA 4.10 ends each message with the signal id.
std::vector<std::string> GsvSentences(const SimState& state, Dialect dialect)
{
    const bool bGnss = dialect == Dialect::Gnss;
    std::vector<std::string> sentences;
    char text[160];
    for (const GnssSystemSky& sky : SkiesOf(dialect))
    {
        const std::string signal = bGnss ? "," + std::to_string(sky.signalId) : "";
        std::vector<const SimSatellite*> listed;
        for (const SimSatellite& s : state.satellites)
            if (s.talker == sky.talker)
                listed.push_back(&s);
        if (listed.empty())
        {
            sentences.push_back(FinishSentence(std::string(sky.Name()) + "GSV,1,1,00" + signal));
            continue;
        }
        const std::size_t count = listed.size();
        const std::size_t messages = (count + 3) / 4;
        for (std::size_t message = 0; message < messages; ++message)
        {
            std::snprintf(text, sizeof text, "%sGSV,%zu,%zu,%02zu", sky.Name(), messages,
                          message + 1, count);
            std::string gsv = text;
            for (std::size_t i = message * 4; i < std::min(count, message * 4 + 4); ++i)
            {
                const SimSatellite& s = *listed[i];
                std::snprintf(text, sizeof text, ",%02u,%02u,%03u,", s.prn, s.elevation, s.azimuth);
                gsv += text;
                if (s.snr > 0)
                    gsv += (s.snr < 10 ? "0" : "") + std::to_string(s.snr);
            }
            sentences.push_back(FinishSentence(gsv + signal));
        }
    }
    return sentences;
}

std::vector<std::string> CycleSentences(const SimState& state, Dialect dialect)
{
    // SiRF sends GSA ahead of GSV; u-blox sends the skies first, so that each GSA marks this
    // second's satellites.
    std::vector<std::string> sentences{GgaSentence(state, dialect)};
    const auto append = [&](const std::vector<std::string>& more)
    { sentences.insert(sentences.end(), more.begin(), more.end()); };
    if (dialect == Dialect::Gnss)
    {
        append(GsvSentences(state, dialect));
        append(GsaSentences(state, dialect));
    }
    else
    {
        append(GsaSentences(state, dialect));
        append(GsvSentences(state, dialect));
    }
    sentences.push_back(RmcSentence(state, dialect));
    return sentences;
}
