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
    const auto nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    m_flood.Count(nowMs, std::count(bytes, bytes + count, '\n'));
    m_bFlooding = m_flood.Flooding(nowMs);
    if (count >= kGatherBytes)
        return 0;
    return m_bFlooding ? m_nFloodUs : m_nBaseUs;
}
