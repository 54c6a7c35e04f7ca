#pragma once

#include "framework/core/CommandIds.h"
#include "framework/core/Document.h"
#include "gps/GpsData.h"
#include "recording/GpxTrackWriter.h"
#include "recording/KmlTrackWriter.h"
#include "recording/LogFile.h"

#include <ctime>
#include <memory>
#include <string>

// Update hints sent to all views of the document.
inline constexpr long HINT_GPS_DATA = 4096;
inline constexpr long HINT_CONNECTION_CHANGED = 4097;
inline constexpr long HINT_RECORDING_CHANGED = 4098;

enum RecordKind
{
    RecordNmea = 0,
    RecordKml = 1,
    RecordGpx = 2
};

// The program's document and recorder. Everything here runs on the user-interface thread.
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
    // One checksum-valid line as received, line ending included.
    void RecordSentence(const std::string& line);

    // The file name of a recording started at `when`, local time.
    std::wstring MakeFileName(std::time_t when, const wchar_t* extension) const;
    // That name, or with "-1", "-2", ... before the extension when a file of that name exists.
    // Empty when the name would be longer than a path may be.
    std::wstring MakeFreeFileName(std::time_t when, const wchar_t* extension) const;

    int m_bConnected = 0;
    int m_bRecording = 0;
    std::wstring m_strSaveFolder;
    // The folder offered when the settings name none; created at the first recording if missing.
    std::wstring m_strDefaultFolder;
    GpsData m_gps = {};
    std::unique_ptr<LogFile> m_pLogFile;
    std::unique_ptr<KmlTrackWriter> m_pKmlTrack;
    std::unique_ptr<GpxTrackWriter> m_pGpxTrack;
    int m_nRecordKind = RecordNmea;

protected:
    // Seams for tests: the clock the file names come from, and the system call the files are
    // written through (empty: the system's own).
    virtual std::time_t Now() const;
    virtual ExclusiveFile::WriteFunction FileWriter() const;

private:
    void StartRecording();
    // Completes every writer still there; the first failure is described in `failure`.
    void CloseWriters(std::wstring& failure);
    bool CloseLog(std::wstring& failure);
    bool FinishKml(std::wstring& failure);
    bool FinishGpx(std::wstring& failure);
    // Stops after a failed write: the file keeps what it holds, and the user is told why.
    void StopOnWriteFailure(const std::wstring& path, int error);
    // Empty when the folder can take a recording; else what the user is told.
    std::wstring CheckSaveFolder() const;

    // Only a writer whose file opened is finished; one that failed to open writes nothing.
    bool m_bKmlOpen = false;
    bool m_bGpxOpen = false;
};
