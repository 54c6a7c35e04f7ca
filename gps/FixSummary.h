#pragma once

#include "gps/Accuracy.h"
#include "gps/Constellations.h"
#include "gps/GpsData.h"

#include <optional>
#include <vector>

// What a run of epochs adds up to: how many in each fix mode, the time to the first fix, the
// HDOP of the fixes, the most satellites of each constellation, and the positions for the
// CEP. Fed one record per epoch, as the epoch detector hands them, by orvane-nmea --summary;
// the window can feed it the same records.
class FixSummary
{
public:
    struct Hdop
    {
        int count = 0; // fix epochs that reported one
        double mean = 0.0;
        float min = 0.0f;
        float max = 0.0f;
    };

    struct Satellites
    {
        int usedMax = 0;
        int inViewMax = 0;
    };

    // More UTC than this between two epochs is the receiver setting its clock (from a default
    // date to the satellites' time, say), not time that passed.
    static constexpr double kClockStepSeconds = 600.0;

    void Add(const GpsData& epoch);

    int Epochs() const { return m_nEpochs; }
    // Epochs whose record said mode 0 (none yet), 1 (no fix), 2 or 3.
    int EpochsInMode(int mode) const;
    // Seconds of the stream's UTC from its first epoch with a time to its first epoch with a 2D
    // or 3D fix; none without a fix, without a time, or when the clock stepped in between.
    std::optional<double> TimeToFirstFix() const;
    Hdop HdopOfFixes() const;
    // The largest count seen in one epoch, per constellation and over all of them.
    Satellites SatellitesOf(GnssSystem system) const;
    Satellites AllSatellites() const { return m_all; }
    // One position per epoch with a 2D or 3D fix and a position.
    const std::vector<GeoPoint>& FixPositions() const { return m_fixPositions; }
    CepResult Cep() const { return ComputeCep(m_fixPositions); }

private:
    static constexpr int kSystems = static_cast<int>(GnssSystem::NavIC) + 1;

    int m_nEpochs = 0;
    int m_nModes[4] = {};
    // The time: elapsed UTC summed epoch by epoch, so that midnight passes without a date.
    bool m_bTimed = false;
    GpsData m_lastTimed{};
    double m_elapsed = 0.0;
    bool m_bClockStepped = false;
    std::optional<double> m_ttff;
    bool m_bFixSeen = false;
    int m_nHdops = 0;
    double m_hdopSum = 0.0;
    float m_hdopMin = 0.0f;
    float m_hdopMax = 0.0f;
    Satellites m_systems[kSystems] = {};
    Satellites m_all{};
    std::vector<GeoPoint> m_fixPositions;
};
