#include "recording/OrvaneDoc.h"

#include "framework/core/MessageBox.h"
#include "util/WideText.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace
{
// The longest name a recording may have (a buffer of 260 wide characters on the original
// platform); a longer one is refused rather than cut, since cut names collide.
constexpr std::size_t kMaxFileName = 259;

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

bool Exists(const std::wstring& path)
{
    struct stat info{};
    return ::lstat(ToUtf8(path).c_str(), &info) == 0 || errno != ENOENT;
}

const wchar_t* ExtensionOf(int kind)
{
    switch (kind)
    {
    case RecordKml:
        return L".kml";
    case RecordGpx:
        return L".gpx";
    default:
        return L".txt";
    }
}

int KindOf(unsigned id)
{
    return id == ID_SAVE_KML ? RecordKml : id == ID_SAVE_GPX ? RecordGpx : RecordNmea;
}
} // namespace

COrvaneDoc::COrvaneDoc() = default;

// Completes whatever is under way, whether or not m_bRecording is set: an open log is closed,
// an open track is finished.
COrvaneDoc::~COrvaneDoc()
{
    std::wstring failure;
    CloseWriters(failure);
    if (!failure.empty())
        ShowError(failure);
}

bool COrvaneDoc::OnCommand(unsigned id)
{
    if (id != ID_SAVE_NMEA && id != ID_SAVE_KML && id != ID_SAVE_GPX)
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

std::wstring COrvaneDoc::MakeFileName(std::time_t when, const wchar_t* extension) const
{
    std::tm local = {};
    localtime_r(&when, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::wstring name = m_strSaveFolder;
    name += static_cast<wchar_t>(std::filesystem::path::preferred_separator);
    name += FromUtf8(stamp);
    name += extension;
    return name;
}

std::wstring COrvaneDoc::MakeFreeFileName(std::time_t when, const wchar_t* extension) const
{
    const std::wstring name = MakeFileName(when, extension);
    const std::wstring stem = name.substr(0, name.size() - std::wcslen(extension));
    // The repeated hour of a clock change, or two starts in one second: the next free number.
    for (int n = 0;; ++n)
    {
        const std::wstring candidate = n == 0 ? name : stem + L"-" + std::to_wstring(n) + extension;
        if (candidate.size() > kMaxFileName)
            return {};
        if (!Exists(candidate))
            return candidate;
    }
}

std::time_t COrvaneDoc::Now() const
{
    return std::time(nullptr);
}

ExclusiveFile::WriteFunction COrvaneDoc::FileWriter() const
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
    CloseWriters(failure);
    UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
    if (!failure.empty())
        ShowError(failure);
}

void COrvaneDoc::StartRecording()
{
    const bool bWasRecording = m_bRecording != 0;

    // A start while a recording runs completes that recording instead of discarding it.
    std::wstring failure;
    CloseWriters(failure);
    if (!failure.empty())
        ShowError(failure);

    std::wstring problem = CheckSaveFolder();
    const std::wstring name = problem.empty() ? MakeFreeFileName(Now(), ExtensionOf(m_nRecordKind)) : L"";
    if (problem.empty() && name.empty())
        problem = OpenFailureText(m_strSaveFolder, ENAMETOOLONG);

    bool bOpened = false;
    int error = 0;
    const ExclusiveFile::WriteFunction write = FileWriter();
    // The writer that does not open stays until the next start or the document's end.
    if (m_nRecordKind == RecordKml)
    {
        m_pKmlTrack = std::make_unique<KmlTrackWriter>(write);
        bOpened = problem.empty() && m_pKmlTrack->Open(name);
        error = m_pKmlTrack->GetLastError();
        m_bKmlOpen = bOpened;
    }
    else if (m_nRecordKind == RecordGpx)
    {
        m_pGpxTrack = std::make_unique<GpxTrackWriter>(write);
        bOpened = problem.empty() && m_pGpxTrack->Open(name, m_gps);
        error = m_pGpxTrack->GetLastError();
        m_bGpxOpen = bOpened;
    }
    else
    {
        m_pLogFile = std::make_unique<LogFile>(write);
        bOpened = problem.empty() && m_pLogFile->Open(name);
        error = m_pLogFile->GetLastError();
    }

    if (bOpened)
    {
        m_bRecording = 1;
        UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
        return;
    }
    m_bRecording = 0;
    if (bWasRecording)
        UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
    ShowError(problem.empty() ? OpenFailureText(name, error) : problem);
}

void COrvaneDoc::RecordSentence(const std::string& line)
{
    if (m_nRecordKind == RecordKml)
    {
        if (m_pKmlTrack && m_bKmlOpen && m_gps.fixMode > 1 && !m_pKmlTrack->AddPoint(m_gps))
            StopOnWriteFailure(m_pKmlTrack->GetPath(), m_pKmlTrack->GetLastError());
        return;
    }
    if (m_nRecordKind == RecordGpx)
    {
        if (m_pGpxTrack && m_bGpxOpen && !m_pGpxTrack->AddSentence(line))
            StopOnWriteFailure(m_pGpxTrack->GetPath(), m_pGpxTrack->GetLastError());
        return;
    }
    if (m_pLogFile && m_pLogFile->IsOpen() && !m_pLogFile->Write(line))
        StopOnWriteFailure(m_pLogFile->GetPath(), m_pLogFile->GetLastError());
}

void COrvaneDoc::StopOnWriteFailure(const std::wstring& path, int error)
{
    // Disk full or medium gone: keep what is in the file, stop, and say why.
    const std::wstring failure = WriteFailureText(path, error);
    m_bRecording = 0;
    std::wstring closeFailure;
    // The track's last cycle is not retried on a disk that just refused a write.
    if (m_pGpxTrack)
        m_pGpxTrack.reset();
    m_bGpxOpen = false;
    CloseWriters(closeFailure);
    UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
    ShowError(failure);
}

void COrvaneDoc::CloseWriters(std::wstring& failure)
{
    std::wstring log, kml, gpx;
    CloseLog(log);
    FinishKml(kml);
    FinishGpx(gpx);
    for (const std::wstring* text : {&log, &kml, &gpx})
        if (failure.empty() && !text->empty())
            failure = *text;
}

bool COrvaneDoc::CloseLog(std::wstring& failure)
{
    if (!m_pLogFile)
        return true;
    const bool ok = m_pLogFile->Close();
    if (!ok)
        failure = WriteFailureText(m_pLogFile->GetPath(), m_pLogFile->GetLastError());
    m_pLogFile.reset();
    return ok;
}

bool COrvaneDoc::FinishKml(std::wstring& failure)
{
    if (!m_pKmlTrack)
        return true;
    bool ok = true;
    if (m_bKmlOpen)
    {
        ok = m_pKmlTrack->Finish();
        if (!ok)
            failure = WriteFailureText(m_pKmlTrack->GetPath(), m_pKmlTrack->GetLastError());
    }
    m_pKmlTrack.reset();
    m_bKmlOpen = false;
    return ok;
}

bool COrvaneDoc::FinishGpx(std::wstring& failure)
{
    if (!m_pGpxTrack)
        return true;
    bool ok = true;
    if (m_bGpxOpen)
    {
        ok = m_pGpxTrack->Finish();
        if (!ok)
            failure = WriteFailureText(m_pGpxTrack->GetPath(), m_pGpxTrack->GetLastError());
    }
    m_pGpxTrack.reset();
    m_bGpxOpen = false;
    return ok;
}
