#pragma once

#include "tools/gpssim/SimRandom.h"
#include "tools/gpssim/SimState.h"

#include <vector>

// What the receiver knows, without its sentences: where it goes, the sky it sees, how it locks
// on to satellites and loses them, and the DOP of those it uses. Its random stream is the
// seed's alone, so the same seed gives the same life.
class ReceiverModel
{
public:
    explicit ReceiverModel(const SimConfig& config);

    // One second of the receiver's life: it moves, its sky turns, its counters run. The
    // state's time is the caller's.
    SimState Advance();
    // Takes effect from the next Advance.
    void Restart(RestartKind kind);
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

    bool m_bGnss;
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
    int m_nSilent = 0;      // seconds of reboot left
    int m_nListHidden = 0;  // seconds left without any satellite listed (cold start)
    int m_nUntilOutage = 0; // seconds of full tracking before the next lost fix
};
