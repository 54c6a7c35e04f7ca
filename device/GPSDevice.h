#pragma once

#include "gps/EpochEnd.h"
#include "gps/Framer.h"
#include "gps/GpsData.h"
#include "net/SocketDevice.h"
#include "net/SourceAddress.h"
#include "serial/SerialPort.h"

#include <boost/signals2/connection.hpp>
#include <boost/signals2/signal.hpp>

#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The serial port specialised for the GPS receiver. On the reader thread it cuts received
// bytes into frames (NMEA lines, UBX and RTCM3 frames, see Framer), decodes them into the live
// record, queues the lines whose checksum is valid and every verified binary frame, each with
// the record right after it, and fires the notification once per frame. The user-interface
// thread takes the lines, records and all, with PopLines. The receiver is a serial port or a
// source on the network, chosen by the name OpenPort is given.
class CGPSDevice : public SerialPort
{
public:
    using NotificationSignal = boost::signals2::signal<void(int)>;
    using StoppedSignal = boost::signals2::signal<void()>;

    // Lines the queue holds at most: a consumer that falls behind holds the reader back
    // rather than letting a flood grow memory. Serial lines never come this fast.
    static constexpr std::size_t kMaxQueuedLines = 4096;

    CGPSDevice() = default;
    ~CGPSDevice() override;

    // Opens the source the name stands for: gpsd://HOST[:PORT], tcp://HOST:PORT or
    // udp://[HOST][:PORT] (the baud rate then does not matter), else the serial port at
    // DevicePathOf(portName). A serial port that the gpsd at the gpsd address holds open is
    // not opened: it fails with PortError::HeldByGpsd. Only while closed.
    bool OpenPort(const std::wstring& portName, int baudRate);
    // A name that starts with '/' is a path already (pseudo-terminals, rfcomm binds, symbolic
    // links); otherwise the kernel name goes under /dev (ttyUSB0 becomes /dev/ttyUSB0).
    static std::wstring DevicePathOf(const std::wstring& portName);
    // A receiver on the network: looks up, connects or binds, each step within its limit.
    // Blocks for as long: not for the user-interface thread. Only while closed.
    bool OpenNetwork(const SourceAddress& source, const OpenLimits& limits = {});
    // Where OpenPort asks which serial ports gpsd holds; 127.0.0.1:2947 unless set.
    void SetGpsdAddress(const SourceAddress& gpsd) { m_gpsdAddress = gpsd; }

    // What the notification says of its line.
    static constexpr int kLineReceived = 0;
    // A checksum-valid line that most likely completes a fix epoch (see EpochEnd).
    static constexpr int kEpochCompleted = 1;

    // The slot runs on the reader thread, once per received line, with kLineReceived or
    // kEpochCompleted. It may be
    // disconnected from any thread, also while the signal fires; it must not wait for the
    // thread that calls Close.
    boost::signals2::connection ConnectNotification(const NotificationSignal::slot_type& slot);
    // The slot runs on the reader thread, once, when the port stopped because the device went
    // away (unplugged, hung up); not on Close.
    boost::signals2::connection ConnectStoppedNotification(const StoppedSignal::slot_type& slot);

    // Moves every queued line, with the record as it stood right after it, to the end of
    // `batch`; how many.
    std::size_t PopLines(std::vector<ReceivedLine>& batch);
    // Checksum-valid lines received since construction; any thread.
    std::uint64_t ValidLineCount() const { return m_nValidLines.load(std::memory_order_relaxed); }
    // Verified UBX and RTCM3 frames received since construction, and the bytes that belonged
    // to no frame; any thread.
    std::uint64_t BinaryFrameCount() const { return m_nBinaryFrames.load(std::memory_order_relaxed); }
    std::uint64_t SkippedByteCount() const { return m_nSkippedBytes.load(std::memory_order_relaxed); }
    std::size_t QueuedLineCount();

protected:
    void OnDataReceived(const char* bytes, std::size_t count) override;
    void OnReaderStopped() override;
    void OnReaderStarting() override;

private:
    bool IsHeldByGpsd(const std::wstring& devicePath) const;

    // 127.0.0.1 rather than localhost: no name to look up on every serial open.
    SourceAddress m_gpsdAddress{SourceAddress::Kind::Gpsd, "127.0.0.1", SourceAddress::kGpsdPort};
    std::mutex m_deviceLock;
    // Signalled by PopLine when it made room in a full queue.
    std::condition_variable m_roomInQueue;
    NotificationSignal m_sigNotify;
    StoppedSignal m_sigStopped;
    std::deque<ReceivedLine> m_lines;
    GpsData m_gpsLive{};

    // Reader thread only.
    Framer m_framer;
    std::uint64_t m_nSkippedBase = 0; // skipped before the framer was last made anew
    EpochEnd m_epochEnd;
    std::atomic<std::uint64_t> m_nValidLines{0};
    std::atomic<std::uint64_t> m_nBinaryFrames{0};
    std::atomic<std::uint64_t> m_nSkippedBytes{0};
};
