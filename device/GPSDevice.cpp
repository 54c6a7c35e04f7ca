// GCC 12 sees Boost.Signals2's empty optional group key in connect() as possibly uninitialised
// when instrumented for AddressSanitizer; it is never read unset.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "device/GPSDevice.h"

#include "gps/NmeaFraming.h"
#include "gps/UbxDecoders.h"
#include "net/GpsdQuery.h"
#include "util/WideText.h"

#include <algorithm>
#include <iterator>
#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

namespace
{
// Asking costs one loopback connection, refused at once when no gpsd runs.
constexpr int kGpsdQueryTimeoutMs = 1000;
// How often a reader held back by a full queue looks whether the port is closing.
constexpr std::chrono::milliseconds kFullQueueRecheck(50);

std::filesystem::path Resolved(const std::string& path)
{
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path(path) : resolved;
}
} // namespace

CGPSDevice::~CGPSDevice()
{
    // The reader thread calls into this object until it has stopped: stop it before the
    // queue, the signals and the lock go.
    Close();
}

std::wstring CGPSDevice::DevicePathOf(const std::wstring& portName)
{
    if (!portName.empty() && portName.front() == L'/')
        return portName;
    return L"/dev/" + portName;
}

bool CGPSDevice::OpenPort(const std::wstring& portName, int baudRate)
{
    if (IsNetworkSourceText(portName))
    {
        const std::optional<SourceAddress> source = ParseSourceAddress(portName);
        if (!source)
        {
            SetOpenError(PortError::BadAddress, 0);
            return false;
        }
        return OpenNetwork(*source);
    }
    const std::wstring path = DevicePathOf(portName);
    // Asked before opening: gpsd takes no exclusive lock a second reader would meet (and
    // root passes the terminal's own), and two readers would split the receiver's bytes.
    if (IsHeldByGpsd(path))
    {
        SetOpenError(PortError::HeldByGpsd, EBUSY);
        return false;
    }
    return Open(path, baudRate);
}

bool CGPSDevice::OpenNetwork(const SourceAddress& source, const OpenLimits& limits)
{
    auto pDevice = std::make_unique<SocketDevice>();
    if (!BeginOpening(pDevice.get()))
        return false;
    const bool bOpened = pDevice->Open(source, limits);
    EndOpening();
    if (!bOpened)
    {
        SetOpenError(pDevice->LastError(), pDevice->LastSystemError());
        return false;
    }
    // Datagrams and segments come whole; there is nothing to gather.
    return Start(std::move(pDevice), GatherPause());
}

bool CGPSDevice::IsHeldByGpsd(const std::wstring& devicePath) const
{
    std::vector<std::string> held;
    if (!AskGpsdForDevices(m_gpsdAddress, kGpsdQueryTimeoutMs, held))
        return false;
    const std::filesystem::path wanted = Resolved(ToUtf8(devicePath));
    return std::any_of(held.begin(), held.end(),
                       [&](const std::string& path) { return Resolved(path) == wanted; });
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

std::size_t CGPSDevice::PopLines(std::vector<ReceivedLine>& batch)
{
    std::lock_guard lock(m_deviceLock);
    const std::size_t count = m_lines.size();
    // Not reserved to the exact size: a caller that gathers batch after batch would have the
    // whole batch copied at every call, not now and then as the vector grows.
    batch.insert(batch.end(), std::make_move_iterator(m_lines.begin()), std::make_move_iterator(m_lines.end()));
    m_lines.clear();
    if (count >= kMaxQueuedLines)
        m_roomInQueue.notify_one();
    return count;
}

std::size_t CGPSDevice::QueuedLineCount()
{
    std::lock_guard lock(m_deviceLock);
    return m_lines.size();
}

void CGPSDevice::OnDataReceived(const char*, std::size_t)
{
    // Works from the receive ring, which already holds the bytes; a partial frame stays in the
    // framer for the next call. The frames of one read arrived together.
    const auto arrived = std::chrono::steady_clock::now();
    m_framer.Feed(TakeReceived());
    Frame frame;
    while (m_framer.Next(frame))
    {
        // The NMEA decoders stop at a field that does not convert; what they stored before it
        // stays, and the line is still queued and notified when its checksum holds. A binary
        // frame's checksum was verified by the framer.
        try
        {
            DecodeFrame(frame, m_gpsLive);
        }
        catch (...)
        {
        }
        const bool valid = frame.kind != FrameKind::Nmea || IsChecksumValid(frame.bytes);
        EpochMarks marks;
        if (valid)
        {
            if (frame.kind == FrameKind::Nmea)
                m_nValidLines.fetch_add(1, std::memory_order_relaxed);
            else
                m_nBinaryFrames.fetch_add(1, std::memory_order_relaxed);
            marks = m_epochEnd.Feed(frame, m_gpsLive);
        }

        {
            std::unique_lock lock(m_deviceLock);
            // Held back here, a TCP sender is slowed by the connection's own flow control and
            // datagrams wait in, or are dropped from, the kernel's bounded queue.
            while (valid && m_lines.size() >= kMaxQueuedLines && IsRunning())
                m_roomInQueue.wait_for(lock, kFullQueueRecheck);
            if (valid && m_lines.size() < kMaxQueuedLines)
                m_lines.push_back(ReceivedLine{std::move(frame.bytes), m_gpsLive, arrived, marks, frame.kind});
        }

        // A failing slot costs its own notification, not the lines after it.
        try
        {
            m_sigNotify(marks.ends ? kEpochCompleted : kLineReceived);
        }
        catch (...)
        {
        }
    }
    m_nSkippedBytes.store(m_nSkippedBase + m_framer.SkippedBytes(), std::memory_order_relaxed);
}

void CGPSDevice::OnReaderStarting()
{
    // The skipped count runs on across reopens: it is the device's, as the line count is.
    m_nSkippedBase += m_framer.SkippedBytes();
    m_framer = Framer();
}

void CGPSDevice::OnReaderStopped()
{
    m_sigStopped();
}
