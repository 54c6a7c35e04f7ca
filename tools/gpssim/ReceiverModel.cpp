#include "tools/gpssim/ReceiverModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace
{

constexpr double kEarthRadius = 6371000.0;
constexpr double kKnotsPerMetrePerSecond = 3600.0 / 1852.0;
constexpr double kDegrees = 180.0 / std::numbers::pi;
constexpr double kMaxDop = 50.0;
constexpr int kMinSatellites = 8;
constexpr int kMaxSatellites = 12;
constexpr double kTrackingElevation = 5.0;

const GnssSystemSky& SkyOf(Talker talker)
{
    for (const GnssSystemSky& sky : kGnssSkies)
        if (sky.talker == talker)
            return sky;
    return kGnssSkies[0];
}

double WrapDegrees(double angle)
{
    angle = std::fmod(angle, 360.0);
    return angle < 0.0 ? angle + 360.0 : angle;
}

double RoundTenth(double value)
{
    return std::round(value * 10.0) / 10.0;
}

// Inverts a symmetric n x n matrix (n <= 4) by Gauss-Jordan; false when it is singular.
template <std::size_t N> bool Invert(std::array<std::array<double, N>, N>& m)
{
    std::array<std::array<double, N>, N> inverse{};
    for (std::size_t i = 0; i < N; ++i)
        inverse[i][i] = 1.0;
    for (std::size_t col = 0; col < N; ++col)
    {
        std::size_t pivot = col;
        for (std::size_t row = col + 1; row < N; ++row)
            if (std::fabs(m[row][col]) > std::fabs(m[pivot][col]))
                pivot = row;
        if (std::fabs(m[pivot][col]) < 1e-9)
            return false;
        std::swap(m[col], m[pivot]);
        std::swap(inverse[col], inverse[pivot]);
        const double scale = m[col][col];
        for (std::size_t k = 0; k < N; ++k)
        {
            m[col][k] /= scale;
            inverse[col][k] /= scale;
        }
        for (std::size_t row = 0; row < N; ++row)
        {
            if (row == col)
                continue;
            const double factor = m[row][col];
            for (std::size_t k = 0; k < N; ++k)
            {
                m[row][k] -= factor * m[col][k];
                inverse[row][k] -= factor * inverse[col][k];
            }
        }
    }
    m = inverse;
    return true;
}

} // namespace

ReceiverModel::ReceiverModel(const SimConfig& config)
    : m_bGnss(config.gnss), m_nRestartSpeedup(std::max(1, config.restartSpeedup)), m_random(config.seed), m_latitude(config.startLatitude),
      m_longitude(config.startLongitude)
{
    m_geoidSeparation = RoundTenth(m_random.Uniform(-30.0, 50.0));
    m_altitude = m_random.Uniform(80.0, 600.0);
    m_course = m_random.Uniform(0.0, 360.0);
    m_targetCourse = m_course;
    m_targetSpeed = m_random.Uniform(8.0, 20.0);
    m_nLegLeft = m_random.UniformInt(20, 60);

    for (const GnssSystemSky& sky : SkiesOf(m_bGnss ? Dialect::Gnss : Dialect::Gps))
    {
        const int count = m_bGnss ? m_random.UniformInt(sky.fewest + 1, sky.most - 1) : m_random.UniformInt(9, 11);
        for (int i = 0; i < count; ++i)
        {
            const double rate = m_random.Uniform(0.002, 0.008) * (m_random.Chance(0.5) ? 1.0 : -1.0);
            Satellite satellite = MakeSatellite(m_random.Uniform(8.0, 85.0), rate, sky.talker);
            satellite.lockIn = 0;
            m_sky.push_back(satellite);
        }
    }
    m_nUntilOutage = m_random.UniformInt(60, 180);
}

ReceiverModel::Satellite ReceiverModel::MakeSatellite(double elevation, double elevationRate,
                                                              Talker talker)
{
    const GnssSystemSky& sky = SkyOf(talker);
    Satellite satellite;
    satellite.talker = talker;
    do
    {
        satellite.prn = static_cast<std::uint16_t>(m_random.UniformInt(sky.firstPrn, sky.lastPrn));
    } while (std::any_of(m_sky.begin(), m_sky.end(), [&](const Satellite& s) {
        return s.prn == satellite.prn && s.talker == talker;
    }));
    satellite.elevation = elevation;
    satellite.azimuth = m_random.Uniform(0.0, 360.0);
    satellite.elevationRate = elevationRate;
    satellite.azimuthRate = m_random.Uniform(-0.01, 0.01);
    satellite.snrOffset = m_random.Uniform(-5.0, 5.0);
    satellite.snr = 30.0 + 18.0 * std::sin(elevation / kDegrees) + satellite.snrOffset;
    satellite.lockIn = m_random.UniformInt(2, 5);
    return satellite;
}

void ReceiverModel::AddRisingSatellite(Talker talker)
{
    Satellite satellite =
        MakeSatellite(m_random.Uniform(2.5, 5.0), m_random.Uniform(0.004, 0.01), talker);
    satellite.lockIn = std::max(satellite.lockIn, SecondsUntil(m_listHiddenUntil));
    m_sky.push_back(satellite);
}

void ReceiverModel::Move()
{
    if (--m_nLegLeft <= 0)
    {
        if (m_random.Chance(0.12))
        {
            m_targetSpeed = 0.0;
            m_nLegLeft = m_random.UniformInt(5, 20);
        }
        else
        {
            m_targetSpeed = m_random.Uniform(4.0, 28.0);
            m_nLegLeft = m_random.UniformInt(20, 90);
        }
        m_targetCourse = WrapDegrees(m_course + m_random.Uniform(-100.0, 100.0));
        m_climbRate = m_random.Uniform(-0.6, 0.6);
    }

    m_speed += std::clamp(m_targetSpeed - m_speed, -2.5, 1.5);
    if (m_speed > 0.5)
    {
        m_speed = std::max(0.0, m_speed + m_random.Uniform(-0.2, 0.2));
        double turn = WrapDegrees(m_targetCourse - m_course);
        if (turn > 180.0)
            turn -= 360.0;
        m_course =
            WrapDegrees(m_course + std::clamp(turn, -4.0, 4.0) + m_random.Uniform(-0.3, 0.3));
    }
    else if (m_targetSpeed == 0.0)
    {
        m_speed = 0.0;
    }

    m_altitude += m_climbRate * std::min(1.0, m_speed / 10.0) + m_random.Uniform(-0.1, 0.1);
    if (m_altitude < -20.0 || m_altitude > 3000.0)
    {
        m_altitude = std::clamp(m_altitude, -20.0, 3000.0);
        m_climbRate = -m_climbRate;
    }

    m_latitude += m_speed * std::cos(m_course / kDegrees) / kEarthRadius * kDegrees;
    m_longitude += m_speed * std::sin(m_course / kDegrees) /
                   (kEarthRadius * std::cos(m_latitude / kDegrees)) * kDegrees;
    if (std::fabs(m_latitude) > 85.0)
    {
        m_latitude = std::clamp(m_latitude, -85.0, 85.0);
        m_course = m_targetCourse = WrapDegrees(180.0 - m_course);
    }
    if (m_longitude >= 180.0)
        m_longitude -= 360.0;
    else if (m_longitude < -180.0)
        m_longitude += 360.0;
}

void ReceiverModel::MoveSky()
{
    for (Satellite& satellite : m_sky)
    {
        satellite.elevation += satellite.elevationRate;
        if (satellite.elevation >= 89.0)
        {
            satellite.elevation = 89.0;
            satellite.elevationRate = -std::fabs(satellite.elevationRate);
        }
        satellite.azimuth = WrapDegrees(satellite.azimuth + satellite.azimuthRate);
        const double target =
            30.0 + 18.0 * std::sin(satellite.elevation / kDegrees) + satellite.snrOffset;
        satellite.snr += 0.3 * (target - satellite.snr) + m_random.Uniform(-1.2, 1.2);
    }
    std::erase_if(m_sky, [](const Satellite& s) { return s.elevation < 2.0; });
    if (m_bGnss)
    {
        KeepGnssSky();
        return;
    }
    while (static_cast<int>(m_sky.size()) < kMinSatellites)
        AddRisingSatellite();
    if (static_cast<int>(m_sky.size()) < kMaxSatellites && m_random.Chance(1.0 / 150.0))
        AddRisingSatellite();
}

void ReceiverModel::KeepGnssSky()
{
    for (const GnssSystemSky& sky : kGnssSkies)
    {
        const auto count = [&] {
            return static_cast<int>(std::count_if(m_sky.begin(), m_sky.end(),
                                                  [&](const Satellite& s) { return s.talker == sky.talker; }));
        };
        while (count() < sky.fewest)
            AddRisingSatellite(sky.talker);
        if (count() < sky.most && m_random.Chance(1.0 / 150.0))
            AddRisingSatellite(sky.talker);
    }
}

void ReceiverModel::Acquire()
{
    bool bAllLocked = m_now >= m_listHiddenUntil && m_now >= m_fixNotBefore;
    for (Satellite& satellite : m_sky)
    {
        if (satellite.lockIn > 0)
            --satellite.lockIn;
        bAllLocked = bAllLocked && satellite.lockIn == 0;
    }
    // Lost fixes (a tunnel, an urban canyon) come only while everything is tracked.
    if (bAllLocked && --m_nUntilOutage <= 0)
    {
        const int length = m_random.UniformInt(3, 10);
        for (Satellite& satellite : m_sky)
            satellite.lockIn = length + m_random.UniformInt(0, 2);
        m_nUntilOutage = m_random.UniformInt(60, 180);
    }
}

ReceiverModel::TimePoint ReceiverModel::AfterRestart(TimePoint at, double seconds) const
{
    return at + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::duration<double>(seconds / m_nRestartSpeedup));
}

int ReceiverModel::SecondsUntil(TimePoint when) const
{
    if (when <= m_now)
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(when - m_now).count());
}

void ReceiverModel::Restart(RestartKind kind, TimePoint at)
{
    // Counted from the command's arrival, so that the time to first fix an observer measures
    // is the one drawn here, whatever the phase of the second the command came in.
    switch (kind)
    {
    case RestartKind::Hot:
        // Everything kept: it fixes again as soon as it speaks after its reboot.
        m_silentUntil = AfterRestart(at, m_random.Uniform(1.0, 2.0));
        m_fixNotBefore = m_silentUntil;
        break;
    case RestartKind::Warm:
    {
        // Ephemeris cleared: the sky is known and tracked again within seconds, but no
        // satellite is used until its ephemeris has been received again.
        const double toFix = m_random.Uniform(25.0, 35.0);
        m_silentUntil = AfterRestart(at, 1.0);
        m_fixNotBefore = AfterRestart(at, toFix);
        for (Satellite& satellite : m_sky)
            satellite.lockIn = static_cast<int>(m_random.Uniform(2.0, 7.0) / m_nRestartSpeedup);
        m_nUntilOutage = m_random.UniformInt(60, 180);
        break;
    }
    case RestartKind::Cold:
    {
        // Everything cleared: no satellite list until the receiver has searched the sky, then
        // satellites tracked one by one, the fix when the last ephemeris is in.
        const double toFix = m_random.Uniform(30.0, 60.0);
        const double listed = m_random.Uniform(8.0, 12.0);
        m_silentUntil = AfterRestart(at, 2.0);
        m_listHiddenUntil = AfterRestart(at, listed);
        m_fixNotBefore = AfterRestart(at, toFix);
        // Lock counters run once a second from the end of the reboot; all are done before
        // the fix is due.
        for (Satellite& satellite : m_sky)
            satellite.lockIn =
                static_cast<int>(m_random.Uniform(listed, toFix - 4.0) / m_nRestartSpeedup);
        m_nUntilOutage = m_random.UniformInt(60, 180);
        break;
    }
    }
}

void ReceiverModel::ComputeDop(const std::vector<const Satellite*>& used, SimState& state) const
{
    // Rows of the geometry matrix: line of sight east, north, (up,) and the clock.
    state.pdop = state.hdop = state.vdop = kMaxDop;
    if (used.size() >= 4)
    {
        std::array<std::array<double, 4>, 4> normal{};
        for (const Satellite* s : used)
        {
            const double el = s->elevation / kDegrees;
            const double az = s->azimuth / kDegrees;
            const std::array<double, 4> row{std::cos(el) * std::sin(az),
                                            std::cos(el) * std::cos(az), std::sin(el), 1.0};
            for (std::size_t i = 0; i < 4; ++i)
                for (std::size_t j = 0; j < 4; ++j)
                    normal[i][j] += row[i] * row[j];
        }
        if (Invert(normal))
        {
            state.hdop = std::sqrt(std::max(0.0, normal[0][0] + normal[1][1]));
            state.vdop = std::sqrt(std::max(0.0, normal[2][2]));
            state.pdop = std::sqrt(std::max(0.0, normal[0][0] + normal[1][1] + normal[2][2]));
        }
    }
    else if (used.size() == 3)
    {
        // 2D: the altitude is held, so only east, north and the clock are solved for.
        std::array<std::array<double, 3>, 3> normal{};
        for (const Satellite* s : used)
        {
            const double el = s->elevation / kDegrees;
            const double az = s->azimuth / kDegrees;
            const std::array<double, 3> row{std::cos(el) * std::sin(az),
                                            std::cos(el) * std::cos(az), 1.0};
            for (std::size_t i = 0; i < 3; ++i)
                for (std::size_t j = 0; j < 3; ++j)
                    normal[i][j] += row[i] * row[j];
        }
        if (Invert(normal))
        {
            state.hdop = state.pdop = std::sqrt(std::max(0.0, normal[0][0] + normal[1][1]));
        }
    }
    state.pdop = std::clamp(RoundTenth(state.pdop), 0.5, kMaxDop);
    state.hdop = std::clamp(RoundTenth(state.hdop), 0.5, kMaxDop);
    state.vdop = std::clamp(RoundTenth(state.vdop), 0.5, kMaxDop);
}

SimState ReceiverModel::Advance(TimePoint utc)
{
    m_now = utc;
    Move();
    MoveSky();

    SimState state;
    state.latitude = m_latitude;
    state.longitude = m_longitude;
    state.altitude = RoundTenth(m_altitude);
    state.geoidSeparation = m_geoidSeparation;
    state.speedKnots = m_speed * kKnotsPerMetrePerSecond;
    state.course = m_course;

    if (m_now < m_silentUntil)
    {
        state.silent = true;
        return state;
    }

    Acquire();

    std::vector<const Satellite*> used;
    const bool bMayFix = m_now >= m_fixNotBefore;
    if (m_now >= m_listHiddenUntil)
    {
        for (const Satellite& satellite : m_sky)
        {
            SimSatellite listed;
            listed.prn = satellite.prn;
            listed.elevation = static_cast<std::uint16_t>(std::lround(satellite.elevation));
            listed.azimuth = static_cast<std::uint16_t>(std::lround(satellite.azimuth) % 360);
            const bool bTracked =
                satellite.lockIn == 0 && satellite.elevation >= kTrackingElevation;
            if (bTracked)
                listed.snr =
                    static_cast<std::uint16_t>(std::clamp(std::lround(satellite.snr), 1L, 99L));
            listed.talker = satellite.talker;
            state.satellites.push_back(listed);
            const auto usedOfSystem = std::count_if(used.begin(), used.end(), [&](const Satellite* s) {
                return s->talker == satellite.talker;
            });
            if (bMayFix && bTracked && listed.snr >= 20 && usedOfSystem < kGsaPlaces)
                used.push_back(&satellite);
        }
    }
    state.fixMode = used.size() >= 4 ? 3 : used.size() == 3 ? 2 : 1;
    if (state.fixMode > 1)
    {
        ComputeDop(used, state);
        for (std::size_t i = 0; i < state.satellites.size(); ++i)
            state.satellites[i].used = std::find(used.begin(), used.end(), &m_sky[i]) != used.end();
    }
    return state;
}
