#pragma once

#include "gps/Constellations.h"
#include "receiver/ReceiverFamily.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// One satellite as the receiver lists it in GSV, values as sent.
struct SimSatellite
{
    std::uint16_t prn = 0;
    std::uint16_t elevation = 0;
    std::uint16_t azimuth = 0;
    std::uint16_t snr = 0; // 0: not tracked, sent as an empty field
    bool used = false;     // listed in GSA
    Talker talker = Talker::GP; // of its GSV group
};

// What the receiver means to report for one second.
struct SimState
{
    bool silent = false; // rebooting after a restart command: nothing is sent
    std::chrono::system_clock::time_point utc;
    int fixMode = 1; // as in GSA: 1 none, 2 2D, 3 3D
    int quality = 1; // GGA's with a fix: 1 ordinary, 5 RTK float, 4 RTK fixed
    double latitude = 0.0;
    double longitude = 0.0;
    double altitude = 0.0;   // metres above sea level
    double geoidSeparation = 0.0; // of the place, rounded to 0.1 as sent
    double speedKnots = 0.0; // over ground
    double course = 0.0;     // degrees true
    double pdop = 0.0;       // rounded to 0.1 as sent
    double hdop = 0.0;
    double vdop = 0.0;
    std::vector<SimSatellite> satellites; // empty when the receiver has lost its satellite list
};

struct SimConfig
{
    std::uint32_t seed = 1;
    double startLatitude = 48.1173;
    double startLongitude = 11.5167;
    int baud = 4800;
    // A current multi-constellation receiver: GN fixes, one GSA per system with its NMEA 4.10
    // system id, GSV groups for GPS, GLONASS, Galileo and BeiDou, 20 to 40 satellites.
    bool gnss = false;
    // Fix cycles a second (1 to 10). Within a second the receiver's state stands still; each
    // cycle repeats it with its own time, as fast-update receivers report.
    int cyclesPerSecond = 1;
    // Restarts take this many times less than a real receiver's (--fast-restarts: 10), so that
    // tests need not wait half a minute for a cold start.
    int restartSpeedup = 1;
    // Whose commands it obeys and whose banner and answers it sends (--family). None: the
    // SiRF-class receiver of old, which sends nothing but its fixes.
    std::optional<ReceiverFamily> family;
    // Whether it prints its banner when the port is opened; without, only the version query
    // tells who it is.
    bool banner = true;
    // A u-blox receiver with its own binary output on as well (--ubx): each cycle's NMEA is
    // followed by NAV-PVT, NAV-SAT, NAV-DOP and NAV-EOE.
    bool ubx = false;
};

// GSA lists the used satellites in twelve places (per system with --gnss).
inline constexpr int kGsaPlaces = 12;

// The multi-constellation sky: each system's GSV talker (whose name and NMEA 4.10 system id
// come from the constellation table), NMEA PRN range, signal id of its main civil signal, and
// how many of its satellites are kept in view. The fewest sum to 20, the most to 40.
struct GnssSystemSky
{
    Talker talker;
    int firstPrn;
    int lastPrn;
    int signalId;
    int fewest;
    int most;
    const char* Name() const { return TalkerName(talker); }
    int SystemId() const { return ConstellationOf(SystemOf(talker, firstPrn)).nmeaSystemId; }
};
inline constexpr GnssSystemSky kGnssSkies[] = {
    {Talker::GP, 1, 32, 1, 7, 12},
    {Talker::GL, 65, 88, 1, 5, 10},
    {Talker::GA, 1, 36, 7, 4, 9},
    {Talker::GB, 1, 37, 1, 4, 9},
};

// How the receiver speaks: a SiRF-class GPS receiver (GP talker, the first sky only), or a
// current multi-constellation one in NMEA 4.10 as a u-blox 8 to 10 sends it (GN fixes, one GSA
// per system, a GSV series per system with signal ids).
enum class Dialect
{
    Gps,
    Gnss,
};

inline std::span<const GnssSystemSky> SkiesOf(Dialect dialect)
{
    return dialect == Dialect::Gnss ? std::span(kGnssSkies) : std::span(kGnssSkies).first(1);
}
