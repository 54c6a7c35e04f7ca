#include "io/GatherPause.h"

#include <algorithm>

namespace
{
// Ten bits a byte on the line.
long long LineTimeUs(long long bytes, int baudRate)
{
    return 10'000'000LL * bytes / baudRate;
}
} // namespace

GatherPause::GatherPause(int baudRate)
{
    if (baudRate <= 0)
        return;
    m_nBaseUs = static_cast<int>(std::min<long long>(kMaxUs, LineTimeUs(kGatherBytes, baudRate)));
    m_nFloodUs = static_cast<int>(std::max<long long>(
        m_nBaseUs, std::min<long long>(kFloodUs, LineTimeUs(kMaxHeldBytes, baudRate))));
}

int GatherPause::After(const char* bytes, std::size_t count, Clock::time_point now)
{
    if (m_nBaseUs == 0)
        return 0;
    m_nLines += std::count(bytes, bytes + count, '\n');
    if (!m_bWindowStarted)
    {
        m_bWindowStarted = true;
        m_windowStart = now;
    }
    if (const auto elapsed = now - m_windowStart; elapsed >= std::chrono::seconds(1))
    {
        const long long elapsedUs = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
        m_bFlooding = m_nLines * 1'000'000 > kFloodLinesPerSecond * elapsedUs;
        m_nLines = 0;
        m_windowStart = now;
    }
    if (count >= kGatherBytes)
        return 0;
    return m_bFlooding ? m_nFloodUs : m_nBaseUs;
}
