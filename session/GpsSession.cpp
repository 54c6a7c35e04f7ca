#include "session/GpsSession.h"

#include "discovery/SysfsTty.h"
#include "gps/UbxDecoders.h"
#include "net/SourceAddress.h"
#include "playback/LogPlayer.h"
#include "receiver/ReceiverCommands.h"
#include "serial/BaudRates.h"
#include "util/WideText.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace
{
// The USB device above a serial port, found through the kernel name its path leads to (a
// /dev/serial/by-id link, or /dev/ttyACM0 itself); none for a port that is no USB device.
TtyDeviceInfo UsbDeviceOf(const std::wstring& devicePath)
{
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(std::filesystem::path(devicePath), error);
    if (error || !device.has_filename())
        return {};
    return InspectTty("/sys", device.filename().string());
}
} // namespace

CGpsSession::CGpsSession(QObject* parent)
    : QObject(parent),
      m_baudDetection(
          {[this] { return m_device.ValidLineCount(); }, [this] { CloseDevice(); },
           [this](int rate, long probe) {
               QMetaObject::invokeMethod(this, [this, rate, probe] { m_baudDetection.OnProbed(rate, probe); },
                                         Qt::QueuedConnection);
           },
           [this](int rate) { return ReopenAtDetectedRate(rate); },
           [this](int fromRate, int toRate) { emit baudDetected(fromRate, toRate); }},
          kBaudRates)
{
    m_clock.start();
    m_updateTimer.setSingleShot(true);
    QObject::connect(&m_updateTimer, &QTimer::timeout, this, [this] { OnUpdate(); });
    m_versionProbeTimer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early, before the probe is due.
    m_versionProbeTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_versionProbeTimer, &QTimer::timeout, this, [this] { OnVersionProbeDue(); });
}

CGpsSession::~CGpsSession()
{
    // The open worker, the probe and the reader thread call into this object: they go first.
    Close();
}

void CGpsSession::Subscribe()
{
    m_connNotify = m_device.ConnectNotification([this](int code) { OnDeviceNotify(code); });
    m_connStopped = m_device.ConnectStoppedNotification([this] {
        // Close joins the reader thread, which is the one running here.
        QMetaObject::invokeMethod(this, [this] { OnDeviceLost(); }, Qt::QueuedConnection);
    });
}

SessionError CGpsSession::ErrorOfDevice() const
{
    return {m_device.LastOpenError(), m_device.LastOpenSystemError(), m_strPath, m_nBaudRate};
}

bool CGpsSession::BeginOpen(const std::wstring& portName, int baudRate)
{
    Close();
    m_bNetwork = IsNetworkSourceText(portName);
    // The path a port name stands for, or the network source as it was typed.
    m_strPath = m_bNetwork ? portName : CGPSDevice::DevicePathOf(portName);
    m_nBaudRate = baudRate;
    Subscribe();
    m_bConnecting = true;
    const std::uint64_t attempt = ++m_nOpenAttempt;
    try
    {
        // Even a serial open: it first asks the local gpsd which ports it holds.
        m_openWorker = std::thread([this, portName, baudRate, attempt] {
            m_device.OpenPort(portName, baudRate);
            m_openedAt = Clock::now();
            QMetaObject::invokeMethod(this, [this, attempt] { OnOpened(attempt); }, Qt::QueuedConnection);
        });
    }
    catch (const std::system_error&)
    {
        m_bConnecting = false;
        CloseDevice();
        emit failed({PortError::Other, EAGAIN, m_strPath, m_nBaudRate});
        return false;
    }
    return true;
}

bool CGpsSession::OpenLog(std::shared_ptr<LogPlayer> player, const std::wstring& path)
{
    Close();
    m_strPath = path;
    Subscribe();
    if (!m_device.OpenLog(player))
    {
        CloseDevice();
        emit failed(ErrorOfDevice());
        return false;
    }
    m_pPlayer = std::move(player);
    return true;
}

void CGpsSession::OnOpened(std::uint64_t attempt)
{
    // An open cancelled or replaced since queued this.
    if (!m_bConnecting || attempt != m_nOpenAttempt)
        return;
    if (m_openWorker.joinable())
        m_openWorker.join();
    m_bConnecting = false;
    if (m_device.IsOpen())
    {
        // A network source has no line speed to find.
        if (!m_bNetwork)
            m_baudDetection.Arm(ToUtf8(m_strPath), m_nBaudRate);
        StartRecognising();
        emit opened(m_openedAt);
        return;
    }
    const SessionError error = ErrorOfDevice();
    CloseDevice();
    if (error.error != PortError::Cancelled)
        emit failed(error);
}

void CGpsSession::CancelOpen()
{
    if (!m_openWorker.joinable())
        return;
    m_device.CancelOpen();
    m_openWorker.join();
    m_bConnecting = false;
    ++m_nOpenAttempt;
}

void CGpsSession::CloseDevice()
{
    m_connNotify.disconnect();
    m_connStopped.disconnect();
    // Also lifts a cancel left by CancelOpen, for the next open.
    m_device.Close();
}

void CGpsSession::StopCorrectionsAndSharing()
{
    // Their threads write to the device and queue to this session.
    m_pNtrip.reset();
    m_pShare.reset();
}

void CGpsSession::Close()
{
    StopCorrectionsAndSharing();
    m_baudDetection.Cancel();
    CancelOpen();
    CloseDevice();
    m_updateTimer.stop();
    m_versionProbe.Disconnected();
    m_versionProbeTimer.stop();
}

ReceiverFamily CGpsSession::CommandFamily() const
{
    return m_recogniser.FamilyKnown() ? m_recogniser.Identity().family : m_chosenFamily;
}

void CGpsSession::StartRecognising()
{
    if (!m_bNetwork)
    {
        const TtyDeviceInfo usb = UsbDeviceOf(m_strPath);
        if (!usb.usbVendor.empty() && m_recogniser.FeedUsbId(usb.usbVendor, usb.usbProduct))
            emit identityChanged(m_recogniser.Identity());
    }
    // gpsd:// and udp:// take no bytes; a log is never opened here.
    m_versionProbe.Connected(Clock::now(), m_device.AcceptsWrites());
    if (m_recogniser.FamilyKnown())
        m_versionProbe.FamilyKnown();
    if (const auto due = m_versionProbe.Due())
        m_versionProbeTimer.start(std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()));
    else
        m_versionProbeTimer.stop();
}

void CGpsSession::OnVersionProbeDue()
{
    // Not while the baud probe has the port closed: its reopen starts the wait again.
    if (!m_device.AcceptsWrites())
        return;
    const std::string queries = m_versionProbe.Poll(Clock::now());
    if (!queries.empty() && Write(queries))
        ++m_nVersionQueriesSent;
    else if (const auto due = m_versionProbe.Due())
        m_versionProbeTimer.start(std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()));
}

void CGpsSession::OnDeviceNotify(int code)
{
    // One hand-over waiting is enough: it takes every line queued until it runs. A fast receiver
    // thus costs one pass of the views per hand-over, not one per sentence.
    m_nLinesSinceUpdate.fetch_add(1, std::memory_order_relaxed);
    if (!m_bUpdatePosted.exchange(true))
        QMetaObject::invokeMethod(this, [this] { OnUpdate(); }, Qt::QueuedConnection);
    // The fix is complete: the panel shows it now, not when the pacer's frame has passed.
    if (code == CGPSDevice::kEpochCompleted)
    {
        m_bEpochCompleted.store(true);
        if (m_bWaitingOnTimer.exchange(false))
            QMetaObject::invokeMethod(this, [this] { OnUpdate(); }, Qt::QueuedConnection);
    }
}

void CGpsSession::OnUpdate()
{
    m_bWaitingOnTimer.store(false);
    // While lines flood, a completed epoch waits its turn like any line.
    const bool bFlooding = m_pacer.Flooding();
    const bool bEpochCompleted = m_bEpochCompleted.exchange(false) && !bFlooding;
    // Too soon after the last hand-over: the timer brings this one, and no other is queued
    // meanwhile (the flag stays set), but for a line that completes an epoch.
    if (const qint64 wait = m_pacer.Wait(); wait > 0 && !bEpochCompleted)
    {
        if (!m_updateTimer.isActive())
            m_updateTimer.start(static_cast<int>(wait));
        m_bWaitingOnTimer.store(true);
        // Such a line queued just now found nobody waiting, and queued nothing: whoever takes
        // the waiting flag back runs the hand-over.
        if (bFlooding || !m_bEpochCompleted.load() || !m_bWaitingOnTimer.exchange(false))
            return;
        m_bEpochCompleted.store(false);
    }
    m_updateTimer.stop();
    // Cleared before the device is drained, so a line queued meanwhile queues again.
    m_bUpdatePosted.store(false);
    m_pacer.Ran(m_nLinesSinceUpdate.exchange(0, std::memory_order_relaxed));
    HandOver();
}

bool CGpsSession::EnableUbx()
{
    const std::optional<std::string> command = EnableUbxCommand(CommandFamily(), Identity().protocolVersion);
    return command && Write(*command);
}

bool CGpsSession::StartCorrections(const NtripCaster& caster, NtripVersion version, const NtripTimings& timings)
{
    if (!m_device.AcceptsWrites())
        return false;
    m_pNtrip = std::make_unique<NtripClient>(
        caster, version,
        [this](std::string_view frame) {
            // One Write a frame: the transmit ring takes it whole or not at all, so a restart
            // command never lands inside it.
            const bool bWritten = Write(frame);
            if (bWritten)
                m_nCorrectionBytes.fetch_add(frame.size());
            else
                m_nCorrectionsDropped.fetch_add(1);
            QMetaObject::invokeMethod(
                this, [this, sent = std::string(frame), bWritten] { emit correctionSent(sent, bWritten); },
                Qt::QueuedConnection);
        },
        [this](const NtripStatus& status) {
            QMetaObject::invokeMethod(this, [this, status] { emit correctionsStatus(status); }, Qt::QueuedConnection);
        },
        timings);
    return true;
}

bool CGpsSession::StartSharing(const SourceAddress& address, int& systemError)
{
    auto server = std::make_unique<ShareServer>();
    if (!server->Start(address))
    {
        systemError = server->LastSystemError();
        return false;
    }
    m_pShare = std::move(server);
    return true;
}

void CGpsSession::HandOver()
{
    // A batch of its own: a slot that runs a nested event loop may see another hand-over.
    std::vector<ReceivedLine> batch;
    batch.swap(m_spare);
    batch.clear();
    m_device.PopLines(batch);
    bool bIdentified = false;
    for (const ReceivedLine& line : batch)
    {
        bIdentified = m_recogniser.FeedFrame(line.kind, line.text) || bIdentified;
        if (line.kind != FrameKind::Nmea)
            continue;
        // The sentence as it came; binary frames are the receiver's business with us alone.
        if (m_pShare)
            m_pShare->Publish(line.text);
        if (m_pNtrip && line.text.size() > 6 && line.text.compare(3, 3, "GGA") == 0)
            m_pNtrip->SetGga(line.text);
    }
    if (bIdentified)
    {
        if (m_recogniser.FamilyKnown())
        {
            m_versionProbe.FamilyKnown();
            m_versionProbeTimer.stop();
        }
        emit identityChanged(m_recogniser.Identity());
    }
    emit linesArrived(batch);
    if (m_spare.capacity() < batch.capacity())
        m_spare.swap(batch);
}

void CGpsSession::OnDeviceLost()
{
    // Queued before a Close or a reopen that has since replaced the stopped reader.
    if (!m_device.IsOpen() || !m_device.HasStoppedOnItsOwn())
        return;
    m_baudDetection.Cancel();
    StopCorrectionsAndSharing();
    CloseDevice();
    // The last lines before it went, still queued, are shown and recorded.
    if (m_device.QueuedLineCount() > 0)
        HandOver();
    emit lost(m_strPath);
}

bool CGpsSession::ReopenAtDetectedRate(int baudRate)
{
    // The same port, a moment after it was open: it opens at once, here, without asking gpsd
    // again. The decoder's record stays: it is the same receiver.
    m_nBaudRate = baudRate;
    CloseDevice();
    Subscribe();
    if (m_device.Open(m_strPath, baudRate))
    {
        // The queries go at the rate the receiver speaks.
        StartRecognising();
        return true;
    }
    const SessionError error = ErrorOfDevice();
    StopCorrectionsAndSharing();
    CloseDevice();
    emit failed(error);
    return false;
}
