#pragma once

#include "device/GPSDevice.h"
#include "io/PortError.h"
#include "net/NtripClient.h"
#include "net/ShareServer.h"
#include "net/SourceAddress.h"
#include "receiver/ReceiverFamily.h"
#include "receiver/ReceiverIdentity.h"
#include "receiver/VersionProbe.h"
#include "session/BaudDetection.h"
#include "session/UpdatePacer.h"

#include <boost/signals2/connection.hpp>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class LogPlayer;

// Why a source could not be opened, or why an open one had to be given up.
struct SessionError
{
    PortError error = PortError::None;
    int systemError = 0;
    // The device path, or the network source as typed.
    std::wstring path;
    int baudRate = 0;
};

// One source, from its open to its close: the device that reads it, the worker that opens it,
// the baud probe, the log player, and the hand-over of its lines to the window. Every Connect
// and every Open Log makes a new one, so nothing of one source's state (the decoder's record,
// its epochs, lines still queued) reaches the next. It lives on the user-interface thread and
// tells the window what happened through its signals, all emitted there: the reader thread
// only queues calls to it, which die with it.
class CGpsSession : public QObject
{
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    explicit CGpsSession(QObject* parent = nullptr);
    // Ends an open under way, the probe and the reader; nothing is emitted after.
    ~CGpsSession() override;

    // Where a serial open asks which ports gpsd holds.
    void SetGpsdAddress(const SourceAddress& gpsd) { m_device.SetGpsdAddress(gpsd); }

    // Opens the port or network source the name stands for on a worker thread; `opened` or
    // `failed` tells how it ended. False when no worker could be started (`failed` was emitted).
    bool BeginOpen(const std::wstring& portName, int baudRate);
    // Plays a loaded log; false (and `failed` emitted) when its reader cannot start.
    bool OpenLog(std::shared_ptr<LogPlayer> player, const std::wstring& path);
    // Ends an open under way, the probe and the reader. The session stays closed.
    void Close();

    // From BeginOpen until its open has ended.
    bool IsConnecting() const { return m_bConnecting; }
    bool IsOpen() const { return m_device.IsOpen(); }
    // A restart command can go out now: open, taking bytes, and not given up for the probe.
    bool AcceptsWrites() const { return m_device.AcceptsWrites(); }
    // The port is closed while the probe listens for the receiver's rate.
    bool IsProbing() const { return m_baudDetection.IsProbing(); }
    bool IsLog() const { return m_pPlayer != nullptr; }
    // Queues bytes for the receiver; false when they cannot go out now.
    bool Write(std::string_view bytes) { return m_device.Write(bytes.data(), bytes.size()); }

    // Turns a u-blox receiver's UBX navigation messages on, in its RAM, in the words its protocol
    // version takes (EnableUbxCommand); its ACK or NAK comes back as frames like any. False for
    // another family, or when the command cannot go out now.
    bool EnableUbx();
    // Who the receiver is, as far as its lines, its port's USB id and its answers to the
    // version queries have told; nothing at the start of a session.
    const ReceiverIdentity& Identity() const { return m_recogniser.Identity(); }
    // The family chosen by hand for this source, Unknown for none.
    void SetChosenFamily(ReceiverFamily family) { m_chosenFamily = family; }
    // Whose restart commands are sent: the receiver's own family once it has told it, else the
    // one chosen by hand, else Unknown (which sends SiRF's, as Orvane always has).
    ReceiverFamily CommandFamily() const;
    // The version queries are waiting to be sent to this source (never to a log, gpsd:// or
    // udp://); false once sent or no longer needed.
    bool IsVersionQueryPending() const { return m_versionProbe.Due().has_value(); }
    // How many times the version queries were written.
    int VersionQueriesSent() const { return m_nVersionQueriesSent; }

    // From now until Close (or the receiver is lost), the caster's RTCM3 frames go to the
    // receiver: each whole through Write, from the client's own thread, so a busy window never
    // holds them back. The receiver's GGA goes back to the caster. False for a source that takes
    // no bytes.
    bool StartCorrections(const NtripCaster& caster, NtripVersion version = NtripVersion::V2,
                          const NtripTimings& timings = {});
    bool CorrectionsOn() const { return m_pNtrip != nullptr; }
    // Bytes of frames the receiver's port took, and frames it had no room for.
    std::uint64_t CorrectionBytesWritten() const { return m_nCorrectionBytes.load(); }
    std::uint64_t CorrectionFramesDropped() const { return m_nCorrectionsDropped.load(); }
    // From now until Close (or the receiver is lost), every NMEA line received goes, as
    // received, to the TCP clients at the address. False, with the server's system error, when
    // it cannot listen there.
    bool StartSharing(const SourceAddress& address, int& systemError);
    // The share server while sharing, else null.
    const ShareServer* Share() const { return m_pShare.get(); }

    const std::shared_ptr<LogPlayer>& Player() const { return m_pPlayer; }
    CGPSDevice& Device() { return m_device; }

    // A hand-over of lines is due and has not run yet.
    bool IsUpdatePending() const { return m_bUpdatePosted.load(); }
    // Lines the reader gave that the window has not had yet.
    bool LinesPending() { return IsUpdatePending() || m_device.QueuedLineCount() > 0; }

signals:
    // The lines the reader queued since the last hand-over, in order, each with the record right
    // after it; at once for a line that completes a fix epoch, else at the pacer's pace.
    void linesArrived(const std::vector<ReceivedLine>& batch);
    // The open has ended with the source open; `at` is when it did.
    void opened(Clock::time_point at);
    // An open failed (not when cancelled), or a reopen at the probed rate did: the session is
    // closed.
    void failed(const SessionError& error);
    // The receiver went away on its own (unplugged, hung up); its last lines came before this.
    void lost(const std::wstring& path);
    // The probe found the receiver at `toRate` (0: at no rate) and the port is open again.
    void baudDetected(int fromRate, int toRate);
    // The receiver told more of who it is; emitted before the lines that told it are handed over.
    void identityChanged(const ReceiverIdentity& identity);
    // A frame from the caster was queued for the receiver (bWritten), or found no room.
    void correctionSent(const std::string& frame, bool bWritten);
    // The caster connection's state changed.
    void correctionsStatus(const NtripStatus& status);

private:
    // Reader thread.
    void OnDeviceNotify(int code);
    // User-interface thread, queued by the reader or by the pacer's timer.
    void OnUpdate();
    void HandOver();
    void OnOpened(std::uint64_t attempt);
    void OnDeviceLost();
    void CancelOpen();
    void CloseDevice();
    // The receiver is gone for good: the caster and the share's clients are let go.
    void StopCorrectionsAndSharing();
    void Subscribe();
    SessionError ErrorOfDevice() const;
    bool ReopenAtDetectedRate(int baudRate);
    // The port is open: the USB id of its device, and the wait before the version queries.
    void StartRecognising();
    void OnVersionProbeDue();

    CGPSDevice m_device;
    std::shared_ptr<LogPlayer> m_pPlayer;
    std::wstring m_strPath;
    int m_nBaudRate = 0;
    bool m_bNetwork = false;

    // The open under way: its worker (which only opens the device and queues), its number.
    std::thread m_openWorker;
    std::uint64_t m_nOpenAttempt = 0;
    bool m_bConnecting = false;
    // When the worker's open ended; read after it has been joined.
    Clock::time_point m_openedAt{};

    // A hand-over is queued, or waits for m_updateTimer, and the window has not had it.
    std::atomic<bool> m_bUpdatePosted{false};
    // The reader queued a line that completes a fix epoch: the hand-over runs without waiting
    // for the pacer, unless lines flood.
    std::atomic<bool> m_bEpochCompleted{false};
    // The queued hand-over waits for m_updateTimer; the reader then queues again for such a line.
    std::atomic<bool> m_bWaitingOnTimer{false};
    // Lines the reader announced since the last hand-over.
    std::atomic<unsigned> m_nLinesSinceUpdate{0};
    QElapsedTimer m_clock;
    UpdatePacer m_pacer{[this] { return m_clock.elapsed(); }};
    QTimer m_updateTimer;
    // Kept between hand-overs to reuse its room; each hand-over takes it for its own.
    std::vector<ReceivedLine> m_spare;

    ReceiverRecogniser m_recogniser;
    ReceiverFamily m_chosenFamily = ReceiverFamily::Unknown;
    VersionProbe m_versionProbe;
    QTimer m_versionProbeTimer;
    int m_nVersionQueriesSent = 0;

    // Dropped before the device closes.
    boost::signals2::scoped_connection m_connNotify;
    boost::signals2::scoped_connection m_connStopped;
    // Stopped by Close, before the device: the client's thread writes to it.
    std::unique_ptr<NtripClient> m_pNtrip;
    std::unique_ptr<ShareServer> m_pShare;
    std::atomic<std::uint64_t> m_nCorrectionBytes{0};
    std::atomic<std::uint64_t> m_nCorrectionsDropped{0};

    // Last, so that its probe thread, which queues to this session, is joined first.
    CBaudDetection m_baudDetection;
};
