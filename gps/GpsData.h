#pragma once

#include "gps/Constellations.h"
#include "gps/Framer.h"
#include "gps/TimeOfDay.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

// One satellite slot of GpsData. A slot whose prn is 0 is empty.
struct SatelliteInfo
{
    bool used = false;
    std::uint16_t prn = 0;
    std::uint16_t elevation = 0;
    std::uint16_t azimuth = 0;
    std::uint16_t snr = 0;
    Talker talker = Talker::None; // of the GSV that listed it; None in an empty slot
    bool noPosition = false;      // listed without elevation and azimuth, as while it is acquired
    std::uint8_t health = 0;      // UBX's and gpsd's numbering: 0 unknown, 1 healthy, 2 unhealthy

    bool operator==(const SatelliteInfo&) const = default;
};

// Room for every satellite a current multi-constellation receiver sees at once.
inline constexpr int kSatelliteSlots = 64;

// GnssSystem values, Unknown included, for counts per system.
inline constexpr int kGnssSystems = static_cast<int>(GnssSystem::NavIC) + 1;

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
    std::int32_t positionTime = -1; // millisecond of the day of its last write, -1 unknown
    std::int32_t altitudeTime = -1;
    std::int32_t previousEpochMs = -1; // the time of day before the record's current one, -1 none
    std::uint8_t known = 0;         // kKnown... bits: values some sentence has written
    std::int8_t gsaMode = 0;           // mode of the latest GSA, 0 none yet
    std::int8_t epochMode = 0;         // best mode the other sentences of epochTime reported
    std::int32_t gsaTime = -1;         // second of the day of the latest GSA's mode, -1 unknown
    std::int32_t epochTime = -1;
    std::int32_t modeTime = -1;        // second of the day of the latest report of a mode
    std::int32_t fix3dTime = -1;       // second of the day of the latest 3D a sentence stated, -1 none
    bool usedByGsa = false;            // a GSA has said which satellites are used
    std::uint8_t usedUnlisted[kGnssSystems] = {}; // used PRNs of the latest GSAs that no slot holds
    std::uint8_t ggaUsed = 0;          // the latest GGA's satellites-used count
    GnssSystem ggaUsedSystem = GnssSystem::Unknown; // its talker's system (Unknown for GN)
    std::int32_t listedAt[kSkyGroups] = {-1, -1, -1, -1, -1, -1, -1}; // each group's latest GSV

    bool operator==(const GpsDecodeState&) const = default;
};

// Bits of GpsDecodeState::known, for users that must tell "0" from "not sent yet".
inline constexpr std::uint8_t kKnownPosition = 1u << 0;
inline constexpr std::uint8_t kKnownAltitude = 1u << 1;
inline constexpr std::uint8_t kKnownSpeed = 1u << 2;
inline constexpr std::uint8_t kKnownCourse = 1u << 3;
inline constexpr std::uint8_t kKnownHdop = 1u << 4;
inline constexpr std::uint8_t kKnownPdop = 1u << 5;
inline constexpr std::uint8_t kKnownTime = 1u << 6;

// The receiver's carrier-phase (RTK) solution: GGA quality 5 and 4, UBX's carrier solution.
enum class RtkState : std::uint8_t
{
    None = 0,
    Float,
    Fixed,
};

// What the UBX decoders remember between messages (see UbxDecoders.h).
struct UbxDecodeState
{
    std::uint8_t navOwned = 0;  // NMEA sentences UBX still owns the navigation fields for
    std::uint8_t skyOwned = 0;  // the same for the satellites in view
    bool pvtSeen = false;       // NAV-PVT comes: the older navigation messages write nothing
    bool leapKnown = false;
    std::int8_t leapSeconds = 0; // GPS minus UTC, from NAV-TIMEGPS

    bool operator==(const UbxDecodeState&) const = default;
};

// The receiver's latest known state. A plain record: copied only whole, zero when created.
struct GpsData
{
    std::int32_t fixMode = 0;
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
    std::int32_t millisecond = 0; // of the time field's fraction, when it has one
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t day = 0;
    double latitude = 0.0;
    double longitude = 0.0;
    // As the receiver sent them (metres, knots, degrees): a double holds every digit of its text,
    // so that they are written again without single-precision noise.
    double altitude = 0.0;
    double speed = 0.0;
    double course = 0.0;
    float hdop = 0.0f;
    float pdop = 0.0f;
    // The receiver's own accuracy estimates of the position, in metres (UBX hAcc and vAcc,
    // GST's standard deviations), while the matching flag says one was sent.
    float horizontalAccuracy = 0.0f;
    float verticalAccuracy = 0.0f;
    bool horizontalAccuracyKnown = false;
    bool verticalAccuracyKnown = false;
    RtkState rtk = RtkState::None;
    // The receiver's own time to first fix and time since it started, in ms (UBX NAV-STATUS);
    // 0 when not sent.
    std::uint32_t receiverTtff = 0;
    std::uint32_t receiverUptime = 0;
    SatelliteInfo satellites[kSatelliteSlots] = {};
    GpsDecodeState decode;
    UbxDecodeState ubx;

    // Every field, so that a new one is compared wherever records are.
    bool operator==(const GpsData&) const = default;
};

// Where a line stands in the receiver's fix epochs (see EpochEnd).
struct EpochMarks
{
    // The line began an epoch: the stream's first, or one after another that has ended with
    // the line before.
    bool began = false;
    // The line is the one that ended the last epoch, as far as the stream has shown: the epoch
    // under way is most likely complete with it.
    bool ends = false;
};

// One checksum-valid line or verified binary frame as received (a line with its line end, a
// frame's bytes whole), the record right after it, when the reader read it (on the monotonic
// clock; the epoch when not read from a device), where it stands in the epochs, and what kind
// of frame it is: only Nmea is text.
struct ReceivedLine
{
    std::string text;
    GpsData gps{};
    std::chrono::steady_clock::time_point arrived{};
    EpochMarks epoch{};
    FrameKind kind = FrameKind::Nmea;
};

static_assert(std::is_trivially_copyable_v<GpsData>);
static_assert(std::is_trivially_copyable_v<SatelliteInfo>);
static_assert(std::is_standard_layout_v<GpsData>);

// The constellation of a listed satellite: its talker's, except that GPS listings carry SBAS
// and QZSS satellites too and a combined (GN) listing is told apart by the NMEA PRN ranges.
GnssSystem SatelliteSystem(const SatelliteInfo& sat);

// A 2D or 3D fix.
bool HasFix(const GpsData& gps);
// A fix whose position some sentence has sent: what a track records.
bool HasFixedPosition(const GpsData& gps);
// The date and time of day make a real UTC instant (no 30 February, no hour 24); a leap
// second's 60 passes.
bool HasValidDate(const GpsData& gps);

// The record's UTC time of day; nullopt before any sentence sent one.
std::optional<TimeOfDay> UtcTimeOfDay(const GpsData& gps);

// Satellites with a PRN, and those among them used in the fix.
int SatellitesInView(const GpsData& gps);
int SatellitesUsed(const GpsData& gps);
// Satellites used per system (indexed by GnssSystem). The GSA's word: the slots it marked and
// the PRNs it named that no GSV has listed; without either, the GGA's satellites-used count,
// under its talker's system (Unknown for GN). When both speak, the GSA wins: it names each
// satellite, where the GGA's count is capped at 12 by many receivers and counts one
// constellation by others.
void SatellitesUsedBySystem(const GpsData& gps, int (&used)[kGnssSystems]);

// A coordinate as decimal degrees, with a point whatever the locale: nine decimals, without
// trailing zeros, so that no float noise is written and no digit the receiver sent is lost.
void AppendCoordinate(std::string& out, double degrees);
