#pragma once

#include "gps/GpsData.h"
#include "support/Files.h"
#include "support/Nmea.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace nmea_test
{

using ::WithChecksum;
using ::ReadFile;

// Cuts a byte stream the way the device hands it on: every line up to and including its LF;
// an unterminated tail is kept as a last line of its own.
inline std::vector<std::string> CutLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size())
    {
        const std::size_t lf = bytes.find('\n', start);
        const std::size_t end = (lf == std::string::npos) ? bytes.size() : lf + 1;
        lines.push_back(bytes.substr(start, end - start));
        start = end;
    }
    return lines;
}

inline std::string CorpusPath(const std::string& name)
{
    return std::string(ORVANE_CORPUS_DIR) + "/" + name;
}

// Field-by-field comparison; floats within 4 ULP, since the expectations are decimal texts,
// and the position to a billionth of a degree (0.1 mm), which only a double holds.
// The decoded values compared whole (the decoder's own memory aside), so that a field added
// to the record is compared too; the fields are listed only to say which differ.
inline void ExpectSameRecord(const GpsData& actual, const GpsData& expected)
{
    GpsData a = actual;
    GpsData e = expected;
    a.decode = e.decode = GpsDecodeState{};
    a.ubx = e.ubx = UbxDecodeState{};
    // Coordinates come from a division: the nearest double is as good as the literal's.
    if (std::abs(a.latitude - e.latitude) < 1e-9 && std::abs(a.longitude - e.longitude) < 1e-9)
        a.latitude = e.latitude, a.longitude = e.longitude;
    // So do the binary protocol's speed and course, scaled from integers.
    if (std::abs(a.speed - e.speed) < 1e-6 && std::abs(a.course - e.course) < 1e-6)
        a.speed = e.speed, a.course = e.course;
    if (a == e)
        return;
    ADD_FAILURE() << "the records differ";
    EXPECT_EQ(actual.fixMode, expected.fixMode);
    EXPECT_EQ(actual.hour, expected.hour);
    EXPECT_EQ(actual.minute, expected.minute);
    EXPECT_EQ(actual.second, expected.second);
    EXPECT_EQ(actual.millisecond, expected.millisecond);
    EXPECT_EQ(actual.year, expected.year);
    EXPECT_EQ(actual.month, expected.month);
    EXPECT_EQ(actual.day, expected.day);
    EXPECT_NEAR(actual.latitude, expected.latitude, 1e-9);
    EXPECT_NEAR(actual.longitude, expected.longitude, 1e-9);
    EXPECT_FLOAT_EQ(actual.altitude, expected.altitude);
    EXPECT_FLOAT_EQ(actual.speed, expected.speed);
    EXPECT_FLOAT_EQ(actual.course, expected.course);
    EXPECT_FLOAT_EQ(actual.hdop, expected.hdop);
    EXPECT_FLOAT_EQ(actual.pdop, expected.pdop);
    EXPECT_FLOAT_EQ(actual.horizontalAccuracy, expected.horizontalAccuracy);
    EXPECT_FLOAT_EQ(actual.verticalAccuracy, expected.verticalAccuracy);
    EXPECT_EQ(actual.horizontalAccuracyKnown, expected.horizontalAccuracyKnown);
    EXPECT_EQ(actual.verticalAccuracyKnown, expected.verticalAccuracyKnown);
    EXPECT_EQ(actual.rtk, expected.rtk);
    EXPECT_EQ(actual.receiverTtff, expected.receiverTtff);
    EXPECT_EQ(actual.receiverUptime, expected.receiverUptime);
    for (int i = 0; i < kSatelliteSlots; ++i)
    {
        SCOPED_TRACE("slot " + std::to_string(i));
        const SatelliteInfo& a = actual.satellites[i];
        const SatelliteInfo& e = expected.satellites[i];
        EXPECT_EQ(a.used, e.used);
        EXPECT_EQ(a.prn, e.prn);
        EXPECT_EQ(a.elevation, e.elevation);
        EXPECT_EQ(a.azimuth, e.azimuth);
        EXPECT_EQ(a.snr, e.snr);
        EXPECT_EQ(a.talker, e.talker);
        EXPECT_EQ(a.noPosition, e.noPosition);
        EXPECT_EQ(a.health, e.health);
    }
}

// Exact equality, for "this line changed nothing".
inline bool SameBits(const GpsData& a, const GpsData& b)
{
    if (a.fixMode != b.fixMode || a.hour != b.hour || a.minute != b.minute ||
        a.second != b.second || a.year != b.year || a.month != b.month || a.day != b.day)
        return false;
    if (std::memcmp(&a.latitude, &b.latitude, sizeof a.latitude) != 0 ||
        std::memcmp(&a.longitude, &b.longitude, sizeof a.longitude) != 0)
        return false;
    const double ad[] = {a.altitude, a.speed, a.course};
    const double bd[] = {b.altitude, b.speed, b.course};
    for (std::size_t i = 0; i < std::size(ad); ++i)
    {
        if (std::memcmp(&ad[i], &bd[i], sizeof(double)) != 0)
            return false;
    }
    const float af[] = {a.hdop, a.pdop};
    const float bf[] = {b.hdop, b.pdop};
    for (std::size_t i = 0; i < std::size(af); ++i)
    {
        if (std::memcmp(&af[i], &bf[i], sizeof(float)) != 0)
            return false;
    }
    for (int i = 0; i < kSatelliteSlots; ++i)
    {
        const SatelliteInfo& x = a.satellites[i];
        const SatelliteInfo& y = b.satellites[i];
        if (x.used != y.used || x.prn != y.prn || x.elevation != y.elevation ||
            x.azimuth != y.azimuth || x.snr != y.snr || x.talker != y.talker || x.noPosition != y.noPosition)
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Reading gpsd's .chk: every accepted sentence echoed (no CR), then its JSON reports.

inline std::vector<std::string> ReadChkLines(const std::string& capture)
{
    std::vector<std::string> lines;
    for (std::string line : CutLines(ReadFile(CorpusPath(capture + ".chk"))))
    {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The raw text of a JSON member: a number, true/false, or a string without its quotes.
inline std::optional<std::string> JsonMember(std::string_view object, std::string_view key)
{
    const std::string needle = "\"" + std::string(key) + "\":";
    const std::size_t at = object.find(needle);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::size_t begin = at + needle.size();
    if (begin < object.size() && object[begin] == '"')
    {
        const std::size_t close = object.find('"', begin + 1);
        return std::string(object.substr(begin + 1, close - begin - 1));
    }
    std::size_t end = begin;
    while (end < object.size() && object[end] != ',' && object[end] != '}' && object[end] != ']')
        ++end;
    return std::string(object.substr(begin, end - begin));
}

inline std::optional<double> JsonNumber(std::string_view object, std::string_view key)
{
    const auto text = JsonMember(object, key);
    if (!text)
        return std::nullopt;
    return std::strtod(text->c_str(), nullptr);
}

} // namespace nmea_test

inline void PrintTo(const GpsData& g, std::ostream* os)
{
    *os << "{fix " << g.fixMode << ", " << g.hour << ':' << g.minute << ':' << g.second << ' '
        << g.day << '/' << g.month << '/' << g.year << ", " << g.latitude << ' ' << g.longitude
        << ", alt " << g.altitude << ", spd " << g.speed << ", crs " << g.course << ", hdop "
        << g.hdop << ", pdop " << g.pdop << ", sats";
    for (const SatelliteInfo& s : g.satellites)
    {
        if (s.prn != 0 || s.used)
            *os << " [" << TalkerName(s.talker) << ' ' << s.used << ' ' << s.prn << ' '
                << s.elevation << ' ' << s.azimuth << ' ' << s.snr << ']';
    }
    *os << '}';
}
