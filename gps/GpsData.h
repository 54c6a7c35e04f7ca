#pragma once

#include <cstdint>
#include <type_traits>

// The talker of a sentence: which constellation's receiver section sent it. GN is the
// combined solution of several constellations. BD and QZ are older or non-standard
// spellings of GB and GQ that some receivers still send.
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

// One satellite slot of GpsData. A slot whose prn is 0 is empty.
struct SatelliteInfo
{
    bool used = false;
    std::uint16_t prn = 0;
    std::uint16_t elevation = 0;
    std::uint16_t azimuth = 0;
    std::uint16_t snr = 0;
    Talker talker = Talker::None; // of the GSV that listed it; None in an empty slot
};

// Room for every satellite a current multi-constellation receiver sees at once.
inline constexpr int kSatelliteSlots = 64;

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

// What the decoders remember between sentences. It lives in the record so that the record
// stays the one piece of decoder state and a whole copy carries it along.
struct GpsDecodeState
{
    std::uint8_t groupSlots[kSkyGroups] = {};       // slots each group's run occupies
    std::uint8_t leadSignal[kSkyGroups] = {};       // GSV signal id + 1 laid out by slot; 0 none yet
    std::uint8_t otherSignalStarts[kSkyGroups] = {}; // cycles of other signals since the lead's
    std::uint8_t leadTotal[kSkyGroups] = {};        // messages in the lead cycle under way
    std::uint32_t messagesSeen[kSkyGroups] = {};    // bit n: message n of the lead cycle arrived
    Talker positionTalker = Talker::None;           // the talker the position follows
    Talker altitudeTalker = Talker::None;
    std::int32_t positionTime = -1; // second of the day of its last write, -1 unknown
    std::int32_t altitudeTime = -1;
    std::uint8_t known = 0;         // kKnown... bits: values some sentence has written
};

// Bits of GpsDecodeState::known, for users that must tell "0" from "not sent yet".
inline constexpr std::uint8_t kKnownPosition = 1u << 0;
inline constexpr std::uint8_t kKnownAltitude = 1u << 1;
inline constexpr std::uint8_t kKnownSpeed = 1u << 2;
inline constexpr std::uint8_t kKnownCourse = 1u << 3;
inline constexpr std::uint8_t kKnownHdop = 1u << 4;
inline constexpr std::uint8_t kKnownPdop = 1u << 5;

// The receiver's latest known state. A plain record: copied only whole, zero when created.
struct GpsData
{
    std::int32_t fixMode = 0;
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t day = 0;
    float latitude = 0.0f;
    float longitude = 0.0f;
    float altitude = 0.0f;
    float speed = 0.0f;
    float course = 0.0f;
    float hdop = 0.0f;
    float pdop = 0.0f;
    SatelliteInfo satellites[kSatelliteSlots] = {};
    GpsDecodeState decode;
};

static_assert(std::is_trivially_copyable_v<GpsData>);
static_assert(std::is_trivially_copyable_v<SatelliteInfo>);
static_assert(std::is_standard_layout_v<GpsData>);

// The constellation of a listed satellite: its talker's, except that GPS listings carry SBAS
// satellites too and a combined (GN) listing is told apart by the NMEA PRN ranges.
GnssSystem SatelliteSystem(const SatelliteInfo& sat);

// Two-letter talker text ("GP", "GL", ...); "" for None.
const char* TalkerName(Talker talker);

// Satellites with a PRN, and those among them used in the fix.
int SatellitesInView(const GpsData& gps);
int SatellitesUsed(const GpsData& gps);
