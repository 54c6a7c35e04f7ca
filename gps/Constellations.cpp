#include "gps/Constellations.h"

#include <iterator>

namespace
{

// clang-format off
constexpr Constellation kConstellations[] = {
    // system               label    letter colour    talker       group             id gpsd PRNs (first, last, first svid, tells apart under GN)
    {GnssSystem::Gps,     "GPS",   'G', 0x00FF00, Talker::GP, SkyGroup::Gps,     1, 0, {{1, 32, 1, true}}},
    {GnssSystem::Sbas,    "SBAS",  'S', 0xC8C8C8, Talker::GP, SkyGroup::Gps,     1, 1, {{33, 64, 120, true}, {120, 158, 120, true}}},
    {GnssSystem::Glonass, "GLO",   'R', 0x40A0FF, Talker::GL, SkyGroup::Glonass, 2, 6, {{65, 96, 1, true}}},
    {GnssSystem::Galileo, "GAL",   'E', 0xFFD200, Talker::GA, SkyGroup::Galileo, 3, 2, {{301, 336, 1, true}, {101, 136, 1, false}}},
    {GnssSystem::BeiDou,  "BDS",   'C', 0xFF60D0, Talker::GB, SkyGroup::BeiDou,  4, 3, {{401, 463, 1, true}, {201, 263, 1, false}}},
    {GnssSystem::Qzss,    "QZSS",  'J', 0xB080FF, Talker::GQ, SkyGroup::Qzss,    5, 5, {{193, 202, 1, true}}},
    {GnssSystem::NavIC,   "NavIC", 'I', 0xFF9632, Talker::GI, SkyGroup::NavIC,   6, 7, {}},
    {GnssSystem::Unknown, "?",     '?', 0x00FF00, Talker::None, SkyGroup::Gps,   0, -1, {}},
};
// clang-format on

struct TalkerRow
{
    std::string_view text;
    Talker talker;
    GnssSystem system; // Unknown: the PRN says
    int rank;
};

constexpr TalkerRow kTalkers[] = {
    {"GN", Talker::GN, GnssSystem::Unknown, 4}, {"GP", Talker::GP, GnssSystem::Gps, 3},
    {"GL", Talker::GL, GnssSystem::Glonass, 2}, {"GA", Talker::GA, GnssSystem::Galileo, 2},
    {"GB", Talker::GB, GnssSystem::BeiDou, 2},  {"BD", Talker::BD, GnssSystem::BeiDou, 2},
    {"PQ", Talker::GB, GnssSystem::BeiDou, 2},  {"GQ", Talker::GQ, GnssSystem::Qzss, 2},
    {"QZ", Talker::QZ, GnssSystem::Qzss, 2},    {"GI", Talker::GI, GnssSystem::NavIC, 2},
};

const TalkerRow* RowOf(Talker talker)
{
    for (const TalkerRow& row : kTalkers)
    {
        if (row.talker == talker)
            return &row;
    }
    return nullptr;
}

bool IsCapital(char c)
{
    return c >= 'A' && c <= 'Z';
}

} // namespace

const Constellation& ConstellationOf(GnssSystem system)
{
    for (const Constellation& row : kConstellations)
    {
        if (row.system == system)
            return row;
    }
    return kConstellations[std::size(kConstellations) - 1];
}

Talker TalkerOfText(std::string_view twoLetters)
{
    if (twoLetters.size() != 2)
        return Talker::None;
    for (const TalkerRow& row : kTalkers)
    {
        if (row.text == twoLetters)
            return row.talker;
    }
    // P starts a proprietary sentence, whose next letters name the maker, not a talker.
    if (twoLetters[0] == 'P' || !IsCapital(twoLetters[0]) || !IsCapital(twoLetters[1]))
        return Talker::None;
    return Talker::Other;
}

const char* TalkerName(Talker talker)
{
    const TalkerRow* row = RowOf(talker);
    return row ? row->text.data() : "";
}

int TalkerRank(Talker talker)
{
    if (talker == Talker::Other)
        return 1;
    const TalkerRow* row = RowOf(talker);
    return row ? row->rank : 0;
}

SkyGroup GroupOfTalker(Talker talker)
{
    if (talker == Talker::GN)
        return SkyGroup::Combined;
    const TalkerRow* row = RowOf(talker);
    return row ? ConstellationOf(row->system).group : SkyGroup::Gps;
}

SkyGroup GroupOfSystem(GnssSystem system)
{
    return ConstellationOf(system).group;
}

GnssSystem SystemOfNmeaId(int id)
{
    // SBAS shares GPS's id; GPS comes first in the table.
    for (const Constellation& row : kConstellations)
    {
        if (id != 0 && row.nmeaSystemId == id)
            return row.system;
    }
    return GnssSystem::Unknown;
}

GnssSystem SystemOfCombinedPrn(int prn)
{
    for (const Constellation& row : kConstellations)
    {
        for (const PrnRange& range : row.prns)
        {
            if (range.combined && prn >= range.first && prn <= range.last)
                return row.system;
        }
    }
    return GnssSystem::Unknown;
}

GnssSystem SystemOf(Talker talker, int prn)
{
    switch (talker)
    {
    case Talker::GN:
        return SystemOfCombinedPrn(prn);
    case Talker::GP:
    {
        // GPS receivers list the SBAS and QZSS satellites they track with the GPS ones.
        const GnssSystem system = SystemOfCombinedPrn(prn);
        return system == GnssSystem::Sbas || system == GnssSystem::Qzss ? system : GnssSystem::Gps;
    }
    case Talker::None:
    case Talker::Other:
        return GnssSystem::Unknown;
    default:
        break;
    }
    const TalkerRow* row = RowOf(talker);
    return row ? row->system : GnssSystem::Unknown;
}

int GpsdSvid(GnssSystem system, int prn)
{
    for (const PrnRange& range : ConstellationOf(system).prns)
    {
        if (range.last != 0 && prn >= range.first && prn <= range.last)
            return prn - range.first + range.firstSvid;
    }
    return prn;
}

GnssSystem SystemOfGnssId(int gnssId)
{
    for (const Constellation& row : kConstellations)
    {
        if (row.system != GnssSystem::Unknown && row.gpsdId == gnssId)
            return row.system;
    }
    return GnssSystem::Unknown;
}

int NmeaPrnOf(GnssSystem system, int svid)
{
    for (const PrnRange& range : ConstellationOf(system).prns)
    {
        if (range.last != 0 && svid >= range.firstSvid && svid <= range.firstSvid + (range.last - range.first))
            return svid - range.firstSvid + range.first;
    }
    return svid;
}
