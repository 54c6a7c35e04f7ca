#include "recording/OrvaneDoc.h"

#include "framework/core/MessageBox.h"
#include "util/WideText.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace
{
// Whether the file system takes the name: each part at most NAME_MAX bytes (as the folder's
// file system counts them), the whole at most PATH_MAX with its terminating zero. A longer
// name is refused rather than cut, since cut names collide.
bool FitsFileSystem(const std::wstring& name, const std::string& folder)
{
    const std::string path = ToUtf8(name);
    if (path.size() >= PATH_MAX)
        return false;
    long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = NAME_MAX;
    for (std::size_t begin = 0; begin <= path.size();)
    {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        if (end - begin > static_cast<std::size_t>(nameMax))
            return false;
        begin = end + 1;
    }
    return true;
}

const wchar_t* const kOpenFailureText = L"Please check path or file name.";
const wchar_t* const kErrorCaption = L"Error";

std::wstring ReasonText(int error)
{
    return error != 0 ? FromUtf8(std::strerror(error)) : std::wstring();
}

std::wstring WriteFailureText(const std::wstring& path, int error)
{
    std::wstring text = L"The recording was stopped because its file could not be written:\n" + path;
    if (error != 0)
        text += L"\n" + ReasonText(error);
    return text;
}

// The writer fell behind until its queue was full: the medium has stopped answering.
std::wstring StallFailureText(const std::wstring& path)
{
    return WriteFailureText(path, 0) + L"\nThe disk did not keep up with the receiver";
}

// The open failure, with the place it concerns and why, so the user knows what to mend.
std::wstring OpenFailureText(const std::wstring& place, int error)
{
    std::wstring text = kOpenFailureText;
    text += L"\n\n" + place;
    if (error != 0)
        text += L"\n" + ReasonText(error);
    return text;
}

void ShowError(const std::wstring& text)
{
    ShowMessageBox(text, kErrorCaption, MbIcon::Error);
}

RecordKind KindOf(unsigned id)
{
    return id == ID_SAVE_KML ? RecordKml : id == ID_SAVE_GPX ? RecordGpx : id == ID_SAVE_RAW ? RecordRaw : RecordNmea;
}
} // namespace

namespace
{
// A steady clock for the seconds when the receiver sends no time.
std::int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

COrvaneDoc::COrvaneDoc() : m_history(SteadyMs)
{
}

void COrvaneDoc::StartSource()
{
    m_gps = GpsData{};
    m_bLineSeen = false;
    m_history = History(SteadyMs);
    UpdateAllViews(nullptr, HINT_SOURCE_STARTED);
}

// Completes a recording under way, whether or not m_bRecording is set.
COrvaneDoc::~COrvaneDoc()
{
    ShowQueuedErrors();
    std::wstring failure;
    Finish(failure);
    if (!failure.empty())
        Report(failure);
}

bool COrvaneDoc::OnCommand(unsigned id)
{
    if (id != ID_SAVE_NMEA && id != ID_SAVE_KML && id != ID_SAVE_GPX && id != ID_SAVE_RAW)
        return false;
    // Stopping acts on the current kind, so it must not change under a running recording.
    if (!m_bRecording)
        m_nRecordKind = KindOf(id);
    return true;
}

bool COrvaneDoc::OnUpdateCommand(CCmdUI& ui)
{
    switch (ui.m_nID)
    {
    case ID_SAVE_NMEA:
    case ID_SAVE_KML:
    case ID_SAVE_GPX:
    case ID_SAVE_RAW:
        ui.Enable(!m_bRecording);
        ui.SetCheck(m_nRecordKind == KindOf(ui.m_nID));
        return true;
    case ID_HOT_START:
    case ID_WARM_START:
    case ID_COLD_START:
        ui.Enable(m_bConnected != 0);
        return true;
    default:
        return false;
    }
}

std::wstring COrvaneDoc::MakeFileName(std::time_t when, const wchar_t* extension, int n) const
{
    std::tm local = {};
    localtime_r(&when, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::wstring name = m_strSaveFolder;
    name += static_cast<wchar_t>(std::filesystem::path::preferred_separator);
    name += FromUtf8(stamp);
    if (n > 0)
        name += L"-" + std::to_wstring(n);
    name += extension;
    return name;
}

std::time_t COrvaneDoc::Now() const
{
    return std::time(nullptr);
}

FileCalls COrvaneDoc::Calls() const
{
    return {};
}

std::wstring COrvaneDoc::CheckSaveFolder() const
{
    // With no folder the name would point into the file system's root; the setup view always
    // supplies a folder, so an empty one is refused like any other unusable path.
    if (m_strSaveFolder.empty())
        return kOpenFailureText;
    const std::string folder = ToUtf8(m_strSaveFolder);
    struct stat info{};
    if (::stat(folder.c_str(), &info) != 0 && errno == ENOENT && m_strSaveFolder == m_strDefaultFolder)
    {
        // A fresh account may have no documents folder yet; the one the program offers is made.
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(folder), error);
        if (error)
            return OpenFailureText(m_strSaveFolder, error.value());
    }
    if (::stat(folder.c_str(), &info) != 0)
        return OpenFailureText(m_strSaveFolder, errno);
    if (!S_ISDIR(info.st_mode))
        return OpenFailureText(m_strSaveFolder, ENOTDIR);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return OpenFailureText(m_strSaveFolder, errno);
    return {};
}

void COrvaneDoc::SetRecording(bool bStart)
{
    if (bStart)
    {
        StartRecording();
        return;
    }

    m_bRecording = 0;
    std::wstring failure;
    Finish(failure);
    UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
    if (!failure.empty())
        Report(failure);
}

std::wstring COrvaneDoc::CreateFile(Recorder& recorder)
{
    const RecordKind kind = static_cast<RecordKind>(m_nRecordKind);
    const std::time_t when = Now();
    // The repeated hour of a clock change, or two starts in one second: the next free number.
    // The name is taken by creating the file, so no other program can slip in between.
    for (int n = 0; n < kMaxNameTries; ++n)
    {
        const std::wstring name = MakeFileName(when, ExtensionOf(kind), n);
        if (!FitsFileSystem(name, ToUtf8(m_strSaveFolder)))
            return OpenFailureText(m_strSaveFolder, ENAMETOOLONG);
        if (recorder.Start(name, true, m_gps))
            return {};
        if (recorder.LastError() != EEXIST)
            return OpenFailureText(name, recorder.LastError());
    }
    return OpenFailureText(MakeFileName(when, ExtensionOf(kind)), EEXIST);
}

void COrvaneDoc::StartRecording()
{
    const bool bWasRecording = m_bRecording != 0;

    // A start while a recording runs completes that recording instead of discarding it.
    std::wstring failure;
    Finish(failure);
    if (!failure.empty())
        Report(failure);

    auto recorder = std::make_unique<QueuedRecorder>(MakeRecorder(static_cast<RecordKind>(m_nRecordKind), Calls()));
    std::wstring problem = CheckSaveFolder();
    if (problem.empty())
        problem = CreateFile(*recorder);
    if (problem.empty())
    {
        m_pRecorder = std::move(recorder);
        m_bRecording = 1;
        UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
        return;
    }
    m_bRecording = 0;
    if (bWasRecording)
        UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
    Report(problem);
}

void COrvaneDoc::OnReceived(std::span<const ReceivedLine> batch)
{
    const bool wasHandingOut = std::exchange(m_bHandingOut, true);
    // The record after the line before: at an epoch's beginning, the last epoch as it ended.
    const GpsData* previous = m_bLineSeen ? &m_gps : nullptr;
    for (const ReceivedLine& line : batch)
    {
        if (m_bRecording && m_pRecorder && m_pRecorder->Takes(line.kind) &&
            !m_pRecorder->Add(line.text, line.gps, line.epoch))
            StopOnWriteFailure();
        if (line.epoch.began && previous)
            m_history.AddEpoch(*previous);
        m_history.Add(line.gps);
        previous = &line.gps;
    }
    m_bLineSeen = m_bLineSeen || !batch.empty();
    if (!batch.empty())
        m_gps = batch.back().gps;
    m_bHandingOut = wasHandingOut;
}

void COrvaneDoc::SyncRecording()
{
    ShowQueuedErrors();
    std::erase_if(m_stalledWriters, [](const std::unique_ptr<QueuedRecorder>& writer) { return writer->Done(); });
    if (m_bRecording && m_pRecorder && !m_pRecorder->Sync())
        StopOnWriteFailure();
}

void COrvaneDoc::ShowQueuedErrors()
{
    if (m_bHandingOut)
        return;
    // Taken first: a box's event loop may hand out another batch, which queues its own.
    const std::vector<std::wstring> errors = std::exchange(m_queuedErrors, {});
    for (const std::wstring& text : errors)
        ShowError(text);
}

void COrvaneDoc::Report(const std::wstring& text)
{
    if (m_bHandingOut)
        m_queuedErrors.push_back(text);
    else
        ShowError(text);
}

void COrvaneDoc::MarkRestart(HistoryEventKind kind)
{
    m_history.MarkEvent(kind);
}

void COrvaneDoc::StopOnWriteFailure()
{
    // Disk full or medium gone: keep what is in the file, stop, and say why.
    const std::wstring failure = m_pRecorder->Stalled()
                                     ? StallFailureText(m_pRecorder->Path())
                                     : WriteFailureText(m_pRecorder->Path(), m_pRecorder->LastError());
    m_bRecording = 0;
    std::wstring closeFailure;
    Finish(closeFailure);
    UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
    Report(failure);
}

void COrvaneDoc::Finish(std::wstring& failure)
{
    if (!m_pRecorder)
        return;
    if (m_pRecorder->Stalled())
    {
        // Waiting here would hold the window for as long as the medium hangs.
        m_pRecorder->FinishLater();
        m_stalledWriters.push_back(std::move(m_pRecorder));
        return;
    }
    if (!m_pRecorder->Finish())
        failure = WriteFailureText(m_pRecorder->Path(), m_pRecorder->LastError());
    m_pRecorder.reset();
}
