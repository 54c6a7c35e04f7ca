#pragma once

#include <cstdint>
#include <string_view>

// The talker of a sentence: which constellation's receiver section sent it. GN is the
// combined solution of several constellations. BD and QZ are older or non-standard
// spellings of GB and GQ that some receivers still send. Other is any further two-letter
// talker (IN for integrated navigation, II for an instrument bus, ...): its fixes count,
// below every satellite system's.
enum class Talker : std::uint8_t
{
    None = 0,
    GP,
    GL,
    GA,
    GB,
    BD,
    GQ,
    QZ,
    GI,
    GN,
    Other,
};

// A satellite's constellation, for telling them apart on screen.
enum class GnssSystem : std::uint8_t
{
    Unknown = 0,
    Gps,
    Sbas,
    Glonass,
    Galileo,
    BeiDou,
    Qzss,
    NavIC,
};

// GSV listings are kept per constellation, each in its own run of slots, in this order.
enum class SkyGroup : std::uint8_t
{
    Gps = 0,
    Glonass,
    Galileo,
    BeiDou,
    Qzss,
    NavIC,
    Combined, // GN-talker GSV, which some receivers send for every system at once
    Count
};
inline constexpr int kSkyGroups = static_cast<int>(SkyGroup::Count);

// A run of NMEA PRNs and the number gpsd gives its first satellite.
struct PrnRange
{
    std::uint16_t first = 0;
    std::uint16_t last = 0;
    std::uint16_t firstSvid = 0;
    bool combined = false; // the run tells this system apart under the GN (and GP) talker
};

// Everything that tells one constellation from another. This table is the only place that
// maps between talkers, system ids, PRN ranges and what the panel shows.
struct Constellation
{
    GnssSystem system;
    const char* label;      // the chart legend's name
    char letter;            // one letter, as RINEX writes it
    std::uint32_t colour;   // 0xRRGGBB of its used bars and markers
    Talker talker;          // the talker of its own GSV
    SkyGroup group;         // the run of slots its satellites are listed in
    int nmeaSystemId;       // GSA and GSV system id of NMEA 4.10 and 4.11; 0 none
    int gpsdId;             // gpsd's gnssid
    PrnRange prns[2];
};

// In the panel's order: GPS first, unknown last.
const Constellation& ConstellationOf(GnssSystem system);
inline constexpr GnssSystem kSystemsInOrder[] = {GnssSystem::Gps,     GnssSystem::Sbas,   GnssSystem::Glonass,
                                                 GnssSystem::Galileo, GnssSystem::BeiDou, GnssSystem::Qzss,
                                                 GnssSystem::NavIC,   GnssSystem::Unknown};

// "GP", "GN", ...; Other for any other two capital letters, None for the rest. Quectel's
// proprietary PQ (its BeiDou GSV and GSA) reads as GB.
Talker TalkerOfText(std::string_view twoLetters);
// Two-letter talker text; "" for None and Other.
const char* TalkerName(Talker talker);
// Which talker's fix outranks which: GN, then GP, then the other systems, then Other.
int TalkerRank(Talker talker);

// The run a talker's GSV fills; GP, Other and None list into the GPS run.
SkyGroup GroupOfTalker(Talker talker);
SkyGroup GroupOfSystem(GnssSystem system);
// The system of an NMEA system id; Unknown for none.
GnssSystem SystemOfNmeaId(int id);
// The system of a PRN under the combined talker: GPS 1-32, SBAS 33-64 and 120-158, GLONASS
// 65-96, QZSS 193-202, BeiDou 203-263 and 401-463, Galileo 301-336.
GnssSystem SystemOfCombinedPrn(int prn);
// The system of a listed satellite, by the talker of its GSV and its PRN.
GnssSystem SystemOf(Talker talker, int prn);
// gpsd's number for the satellite within its system.
int GpsdSvid(GnssSystem system, int prn);

// The system of a gnssId as UBX numbers them (gpsd took the same numbers); Unknown for others.
GnssSystem SystemOfGnssId(int gnssId);
// The NMEA PRN under the system's own talker of a satellite numbered as gpsd and UBX number it
// within its system: the inverse of GpsdSvid. A number outside every range is kept.
int NmeaPrnOf(GnssSystem system, int svid);
