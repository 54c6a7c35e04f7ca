#include "device/BaudProbe.h"

#include "gps/NmeaFraming.h"

#include <algorithm>
#include <chrono>

namespace
{
// The receive ring's line limit: anything longer is noise.
constexpr std::size_t kMaxLine = 1023;
constexpr int kLikelyRates[] = {4800, 9600, 38400, 115200, 57600, 19200};
} // namespace

bool CNmeaSpotter::Feed(const char* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count && !m_bSeen; ++i)
    {
        const char c = bytes[i];
        // A sentence starts at '$' whatever came before it: a garbled start is skipped.
        if (c == '$')
            m_line.clear();
        m_line.push_back(c);
        if (c == '\n')
        {
            m_bSeen = IsChecksumValid(m_line);
            m_line.clear();
        }
        else if (m_line.size() > kMaxLine)
        {
            m_line.clear();
        }
    }
    return m_bSeen;
}

std::vector<int> CBaudProbe::OrderToTry(std::span<const int> all, int current)
{
    std::vector<int> order;
    const auto offered = [&](int rate) { return std::find(all.begin(), all.end(), rate) != all.end(); };
    const auto add = [&](int rate) {
        if (rate != current && offered(rate) && std::find(order.begin(), order.end(), rate) == order.end())
            order.push_back(rate);
    };
    for (const int rate : kLikelyRates)
        add(rate);
    for (const int rate : all)
        add(rate);
    return order;
}

int CBaudProbe::Run(const std::string& path, std::span<const int> rates, int listenMs)
{
    for (const int rate : rates)
    {
        if (m_bCancelled)
            return 0;
        PosixSerialDevice device;
        if (!device.Open(path, rate))
            continue;
        {
            std::lock_guard guard(m_lock);
            m_pDevice = &device;
        }
        // What arrived before the rate was set was read at another one.
        device.Purge(true, false);
        const bool bFound = !m_bCancelled && Listen(listenMs);
        {
            std::lock_guard guard(m_lock);
            m_pDevice = nullptr;
        }
        if (bFound && !m_bCancelled)
            return rate;
    }
    return 0;
}

bool CBaudProbe::Listen(int listenMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(listenMs);
    CNmeaSpotter spotter;
    char buffer[64];
    for (;;)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || m_bCancelled)
            return false;
        const PosixSerialDevice::Result result = m_pDevice->Read(buffer, sizeof buffer, static_cast<int>(left));
        switch (result.status)
        {
        case PosixSerialDevice::Status::Done:
            if (spotter.Feed(buffer, result.count))
                return true;
            break;
        case PosixSerialDevice::Status::TimedOut:
            break;
        case PosixSerialDevice::Status::Failed:
        case PosixSerialDevice::Status::Woken:
        case PosixSerialDevice::Status::Gone:
            return false;
        }
    }
}

void CBaudProbe::Cancel()
{
    m_bCancelled = true;
    std::lock_guard guard(m_lock);
    if (m_pDevice)
        m_pDevice->Wake();
}
