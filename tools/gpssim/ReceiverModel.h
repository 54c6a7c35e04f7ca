#pragma once

#include "tools/gpssim/SimRandom.h"
#include "tools/gpssim/SimState.h"

#include <chrono>
#include <vector>

// What the receiver knows, without its sentences: where it goes, the sky it sees, how it locks
// on to satellites and loses them, and the DOP of those it uses. Its random stream is the
// seed's alone, so the same seed gives the same life.
class ReceiverModel
{
public:
    explicit ReceiverModel(const SimConfig& config);

    using TimePoint = std::chrono::system_clock::time_point;

    // One second of the receiver's life, the one stamped `utc`: it moves, its sky turns, its
    // counters run. The state's time is the caller's.
    SimState Advance(TimePoint utc);
    // The command arrived at `at` (on the clock Advance is given). Hot: silent for 1 to 2 s,
    // then fixed. Warm: the sky is kept, the fix comes back after 25 to 35 s. Cold: the sky is
    // searched for, the fix comes back after 30 to 60 s. All divided by the config's speed-up.
    void Restart(RestartKind kind, TimePoint at);
    void ScheduleOutage(int secondsFromNow) { m_nUntilOutage = secondsFromNow; }

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

    void Move();
    void MoveSky();
    void AddRisingSatellite(Talker talker = Talker::GP);
    Satellite MakeSatellite(double elevation, double elevationRate, Talker talker = Talker::GP);
    void KeepGnssSky();
    void Acquire();
    void ComputeDop(const std::vector<const Satellite*>& used, SimState& state) const;
    // `seconds` of a real receiver's restart after `at`, at this receiver's speed-up.
    TimePoint AfterRestart(TimePoint at, double seconds) const;
    // Whole seconds of Advance from now until `when`.
    int SecondsUntil(TimePoint when) const;

    bool m_bGnss;
    int m_nRestartSpeedup;
    SimRandom m_random;
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
    // Of the last restart: until when nothing is sent (reboot), no satellite is listed (cold
    // start) and no satellite is used (ephemeris or the whole sky still being gathered).
    TimePoint m_now{};
    TimePoint m_silentUntil{};
    TimePoint m_listHiddenUntil{};
    TimePoint m_fixNotBefore{};
    int m_nUntilOutage = 0; // seconds of full tracking before the next lost fix
};
