#include "tools/gpssim/RtkCorrections.h"

#include <cmath>
#include <numbers>

namespace
{
constexpr double kMetresPerDegree = 6371008.8 * std::numbers::pi / 180.0;
} // namespace

RtkCorrections::RtkCorrections(std::uint32_t seed) : m_random(seed ^ 0x52544B33u) {}

void RtkCorrections::Received(std::string_view bytes, TimePoint at)
{
    m_framer.Feed(bytes);
    while (m_framer.Next(m_frame))
    {
        if (m_frame.kind != FrameKind::Rtcm3)
            continue;
        ++m_nFrames;
        m_nFrameBytes += m_frame.bytes.size();
        if (!m_runStart || at - m_lastFrame > kLostAfter)
            m_runStart = at;
        m_lastFrame = at;
        m_bEverCorrected = true;
    }
}

void RtkCorrections::Apply(SimState& state, TimePoint utc)
{
    if (m_runStart && utc - m_lastFrame > kLostAfter)
        m_runStart.reset();
    if (state.fixMode < 2 || !m_bEverCorrected)
        return;
    double scatter = kOrdinaryScatterM;
    if (m_runStart && utc - *m_runStart >= kFixedAfter)
    {
        state.quality = 4;
        scatter = kFixedScatterM;
    }
    else if (m_runStart && utc - *m_runStart >= kFloatAfter)
    {
        state.quality = 5;
        scatter = kFloatScatterM;
    }
    const double north = m_random.Uniform(-scatter, scatter);
    const double east = m_random.Uniform(-scatter, scatter);
    state.latitude += north / kMetresPerDegree;
    state.longitude += east / (kMetresPerDegree * std::cos(state.latitude * std::numbers::pi / 180.0));
}
