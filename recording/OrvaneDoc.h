#pragma once

#include "framework/core/CommandIds.h"
#include "framework/core/Document.h"
#include "gps/GpsData.h"
#include "gps/History.h"
#include "recording/QueuedRecorder.h"
#include "recording/Recorder.h"

#include <ctime>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Update hints sent to all views of the document.
inline constexpr long HINT_GPS_DATA = 4096;
inline constexpr long HINT_CONNECTION_CHANGED = 4097;
inline constexpr long HINT_RECORDING_CHANGED = 4098;
// While a network source is being opened; the hint holds the std::wstring to show,
// "Connecting to HOST:PORT…".
inline constexpr long HINT_SOURCE_CONNECTING = 4100;
// A recorded log starts or stops playing; the hint holds the PlaybackHint.
inline constexpr long HINT_PLAYBACK_CHANGED = 4120;
// A new source begins (a connect, a log): what the views keep of the last one (its track, its
// fixes) is forgotten.
inline constexpr long HINT_SOURCE_STARTED = 4121;

class LogPlayer;
struct PlaybackHint
{
    // The player to steer; empty once the log is closed.
    std::shared_ptr<LogPlayer> player;
    // True while lines the log already gave have not reached the views yet.
    std::function<bool()> linesPending;
};

// The program's document and recorder. Everything here runs on the user-interface thread, apart
// from a recording's writes and syncs, which its writer thread does (see QueuedRecorder).
class COrvaneDoc : public CDocument
{
public:
    COrvaneDoc();
    ~COrvaneDoc() override;

    // Save NMEA File / Save KML File / Save GPX File choose the kind of the next recording; the
    // restart commands are enabled here (the frame handles them) while the receiver is connected.
    bool OnCommand(unsigned id) override;
    bool OnUpdateCommand(CCmdUI& ui) override;

    // Starts a recording of the current kind into a new file named after the local time, or
    // stops the running one. Tells the views with HINT_RECORDING_CHANGED; a file that cannot
    // be created is reported to the user and leaves the document idle.
    void SetRecording(bool bStart);
    // The lines the frame drained from the device, in order, each with the record right after
    // it: recorded while a recording runs, and the last record becomes m_gps. The recording's
    // writer thread writes them; a failure it met is told here or at the next SyncRecording.
    void OnReceived(std::span<const ReceivedLine> batch);
    // Has the recording's writer sync what it has not yet synced; the frame calls it every
    // second, so a quiet stream's last lines are synced too. A failed write or sync, or a writer
    // stuck on a medium that stopped answering, stops the recording.
    void SyncRecording();
    // A new source begins: its record, epochs and history start empty, and the views are told
    // with HINT_SOURCE_STARTED. A running recording goes on.
    void StartSource();
    // Shows the errors met while a batch was handed out. OnReceived shows no message box: the
    // box's event loop could hand out the next batch inside it. The frame calls this once the
    // views have had the batch; SyncRecording shows any left.
    void ShowQueuedErrors();
    // The frame sent a restart command: the history marks it on its time axis.
    void MarkRestart(HistoryEventKind kind);

    // The file name of a recording started at `when`, local time, numbered `n` when n > 0
    // ("-1", "-2", ... before the extension).
    std::wstring MakeFileName(std::time_t when, const wchar_t* extension, int n = 0) const;
    // Names tried before a start gives up: a folder does not hold a hundred recordings
    // started in one second.
    static constexpr int kMaxNameTries = 100;

    int m_bConnected = 0;
    int m_bRecording = 0;
    std::wstring m_strSaveFolder;
    // The folder offered when the settings name none; created at the first recording if missing.
    std::wstring m_strDefaultFolder;
    GpsData m_gps = {};
    // The running recording, or none.
    std::unique_ptr<QueuedRecorder> m_pRecorder;
    int m_nRecordKind = RecordNmea;
    // The last 15 minutes of what was received, kept whether or not a view shows them.
    History m_history;

protected:
    // Seams for tests: the clock the file names come from, and the system calls the files go
    // through (empty: the system's own).
    virtual std::time_t Now() const;
    virtual FileCalls Calls() const;

private:
    // The source has given a line: m_gps is the record after the last one.
    bool m_bLineSeen = false;
    // Recordings stopped while their writer was stuck on the medium: each completes its file
    // when the medium answers again, without holding the window; let go once done, and waited
    // for when the document ends.
    std::vector<std::unique_ptr<QueuedRecorder>> m_stalledWriters;
    // While OnReceived hands out a batch, errors wait here for ShowQueuedErrors.
    bool m_bHandingOut = false;
    std::vector<std::wstring> m_queuedErrors;

    void StartRecording();
    // Creates the recorder's file under the first free name; else what the user is told.
    std::wstring CreateFile(Recorder& recorder);
    // Completes the recording, if any; the failure is described in `failure`.
    void Finish(std::wstring& failure);
    // Stops after a failed write or sync: the file keeps what it holds, and the user is told why.
    void StopOnWriteFailure();
    // Shows the error now, or queues it while a batch is handed out.
    void Report(const std::wstring& text);
    // Empty when the folder can take a recording; else what the user is told.
    std::wstring CheckSaveFolder() const;
};
