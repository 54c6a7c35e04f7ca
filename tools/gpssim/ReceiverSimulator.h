#pragma once

#include "gps/GpsData.h"
#include "tools/gpssim/SimRandom.h"
#include "tools/gpssim/SimSentences.h"
#include "tools/gpssim/SimState.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct SimCycle
{
    SimState state;
    std::vector<std::string> sentences; // what goes on the line this second, in order, CR LF ended
    std::size_t droppedSentences = 0;   // generated but left out to fit the line's capacity
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
};

// A SiRF-class receiver in motion: each call to Step in a new UTC second is one second of its
// life. It owns no clock; the caller passes the moment that the cycle stamps.
class ReceiverSimulator
{
public:
    // Share of the line's capacity (baud / 10 bytes a second) that one second's sentences may
    // take; the rest leaves room for the scheduling of the writes.
    static constexpr double kLineShare = 0.92;

    explicit ReceiverSimulator(const SimConfig& config);

    SimCycle Step(std::chrono::system_clock::time_point utc);
    // Takes effect from the next Step.
    void Restart(RestartKind kind);

    // Seconds of normal operation before the next lost fix; for tests that want one now.
    void ScheduleOutage(int secondsFromNow) { m_nUntilOutage = secondsFromNow; }

    static std::size_t LineBudget(int baud);

private:
    struct Satellite
    {
        std::uint16_t prn = 0;
        double elevation = 0.0;
        double azimuth = 0.0;
        double elevationRate = 0.0; // degrees per second
        double azimuthRate = 0.0;
        double snrOffset = 0.0;
        double snr = 0.0;
        int lockIn = 0; // seconds until tracked
        Talker talker = Talker::GP;
    };

    // One second of the receiver's life: it moves, its sky turns, its counters run.
    SimCycle StepSecond(std::chrono::system_clock::time_point utc);
    // The cycle's state as sentences, as many as its share of the line carries.
    void SendState(SimCycle& cycle);
    void Move();
    void MoveSky();
    void AddRisingSatellite(Talker talker = Talker::GP);
    Satellite MakeSatellite(double elevation, double elevationRate, Talker talker = Talker::GP);
    void KeepGnssSky();
    void Acquire();
    void ComputeDop(const std::vector<const Satellite*>& used, SimState& state) const;
    std::vector<std::string> FitToLine(const std::vector<std::string>& sentences);

    bool m_bGnss;
    SimRandom m_random;
    std::size_t m_nBudget;
    double m_geoidSeparation;

    double m_latitude;
    double m_longitude;
    double m_altitude;
    double m_speed = 0.0; // metres per second
    double m_course = 0.0;
    double m_targetSpeed = 0.0;
    double m_targetCourse = 0.0;
    double m_climbRate = 0.0;
    int m_nLegLeft = 0;

    std::vector<Satellite> m_sky;
    int m_nSilent = 0;      // seconds of reboot left
    int m_nListHidden = 0;  // seconds left without any satellite listed (cold start)
    int m_nUntilOutage = 0; // seconds of full tracking before the next lost fix

    // Seconds since each kind of sentence last went out, to share a slow line fairly.
    std::map<std::string, int> m_ages;

    // The second the state last moved, and that second's state, for the cycles after it.
    std::optional<std::chrono::system_clock::time_point> m_lastSecond;
    SimState m_lastState;
};
