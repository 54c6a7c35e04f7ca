// GCC 12 sees Boost.Signals2's empty optional group key in connect() as possibly uninitialised
// when instrumented for AddressSanitizer; it is never read unset.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "gps/GPSDevice.h"

#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"

CGPSDevice::~CGPSDevice()
{
    // The reader thread calls into this object until it has stopped: stop it before the
    // queue, the signals and the lock go.
    Close();
}

bool CGPSDevice::OpenPort(const std::wstring& portName, int baudRate)
{
    return Open(L"/dev/" + portName, baudRate);
}

boost::signals2::connection
CGPSDevice::ConnectNotification(const NotificationSignal::slot_type& slot)
{
    return m_sigNotify.connect(slot);
}

boost::signals2::connection
CGPSDevice::ConnectStoppedNotification(const StoppedSignal::slot_type& slot)
{
    return m_sigStopped.connect(slot);
}

bool CGPSDevice::PopLine(std::string& line)
{
    std::lock_guard lock(m_deviceLock);
    if (m_lines.empty())
        return false;
    line = std::move(m_lines.front());
    m_lines.pop_front();
    return true;
}

void CGPSDevice::CopySnapshot(GpsData& gps)
{
    std::lock_guard lock(m_deviceLock);
    gps = m_gpsSnapshot;
}

void CGPSDevice::OnDataReceived(const char*, std::size_t)
{
    // Works from the receive ring, which already holds the bytes; a partial line stays there
    // for the next call.
    for (;;)
    {
        std::string line;
        {
            std::lock_guard lock(m_portLock);
            if (!m_pReceiveRing || !m_pReceiveRing->ReadLine(line))
                return;
        }

        // The decoders stop at a field that does not convert; what they stored before it stays,
        // and the line is still queued and notified when its checksum holds.
        try
        {
            DecodeSentence(line, m_gpsLive);
        }
        catch (...)
        {
        }
        const bool valid = IsChecksumValid(line);
        if (valid)
            m_nValidLines.fetch_add(1, std::memory_order_relaxed);

        {
            std::lock_guard lock(m_deviceLock);
            m_gpsSnapshot = m_gpsLive;
            if (valid)
                m_lines.push_back(std::move(line));
        }

        // A failing slot costs its own notification, not the lines after it.
        try
        {
            m_sigNotify(0);
        }
        catch (...)
        {
        }
    }
}

void CGPSDevice::OnReaderStopped()
{
    m_sigStopped();
}
