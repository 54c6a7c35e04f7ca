#include "gps/GpsData.h"

GnssSystem SatelliteSystem(const SatelliteInfo& sat)
{
    const unsigned prn = sat.prn;
    switch (sat.talker)
    {
    case Talker::GP:
        // GPS receivers list the SBAS satellites they track with the GPS ones.
        return (prn >= 33 && prn <= 64) || (prn >= 120 && prn <= 158) ? GnssSystem::Sbas
                                                                       : GnssSystem::Gps;
    case Talker::GL:
        return GnssSystem::Glonass;
    case Talker::GA:
        return GnssSystem::Galileo;
    case Talker::GB:
    case Talker::BD:
        return GnssSystem::BeiDou;
    case Talker::GQ:
    case Talker::QZ:
        return GnssSystem::Qzss;
    case Talker::GI:
        return GnssSystem::NavIC;
    case Talker::GN:
        if (prn >= 1 && prn <= 32)
            return GnssSystem::Gps;
        if ((prn >= 33 && prn <= 64) || (prn >= 120 && prn <= 158))
            return GnssSystem::Sbas;
        if (prn >= 65 && prn <= 96)
            return GnssSystem::Glonass;
        if (prn >= 193 && prn <= 200)
            return GnssSystem::Qzss;
        if ((prn >= 201 && prn <= 263) || (prn >= 401 && prn <= 463))
            return GnssSystem::BeiDou;
        if (prn >= 301 && prn <= 336)
            return GnssSystem::Galileo;
        return GnssSystem::Unknown;
    case Talker::None:
        break;
    }
    return GnssSystem::Unknown;
}

const char* TalkerName(Talker talker)
{
    switch (talker)
    {
    case Talker::GP: return "GP";
    case Talker::GL: return "GL";
    case Talker::GA: return "GA";
    case Talker::GB: return "GB";
    case Talker::BD: return "BD";
    case Talker::GQ: return "GQ";
    case Talker::QZ: return "QZ";
    case Talker::GI: return "GI";
    case Talker::GN: return "GN";
    case Talker::None: break;
    }
    return "";
}

int SatellitesInView(const GpsData& gps)
{
    int count = 0;
    for (const SatelliteInfo& sat : gps.satellites)
        count += sat.prn != 0 ? 1 : 0;
    return count;
}

int SatellitesUsed(const GpsData& gps)
{
    int count = 0;
    for (const SatelliteInfo& sat : gps.satellites)
        count += (sat.prn != 0 && sat.used) ? 1 : 0;
    return count;
}
