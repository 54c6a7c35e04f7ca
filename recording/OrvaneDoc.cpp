#include "recording/OrvaneDoc.h"

#include "framework/core/MessageBox.h"
#include "util/WideText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace
{
// A name longer than this is cut, as it always was; the cut name is then used as it is.
constexpr std::size_t kMaxFileName = 259;

const wchar_t* const kOpenFailureText = L"Please check path or file name.";
const wchar_t* const kErrorCaption = L"Error";

std::wstring WriteFailureText(const std::wstring& path, int error)
{
    std::wstring text = L"The recording was stopped because its file could not be written:\n" + path;
    if (error != 0)
        text += L"\n" + FromUtf8(std::strerror(error));
    return text;
}

void ShowError(const std::wstring& text)
{
    ShowMessageBox(text, kErrorCaption, MbIcon::Error);
}
} // namespace

COrvaneDoc::COrvaneDoc() = default;

// Completes whatever is under way, whether or not m_bRecording is set: an open log is closed,
// an open track is written out.
COrvaneDoc::~COrvaneDoc()
{
    std::wstring failure;
    CloseLog(failure);
    FinishKml(failure);
    if (!failure.empty())
        ShowError(failure);
}

bool COrvaneDoc::OnCommand(unsigned id)
{
    if (id != ID_SAVE_NMEA && id != ID_SAVE_KML)
        return false;
    // Stopping acts on the current kind, so it must not change under a running recording.
    if (!m_bRecording)
        m_nRecordKind = id == ID_SAVE_NMEA ? RecordNmea : RecordKml;
    return true;
}

bool COrvaneDoc::OnUpdateCommand(CCmdUI& ui)
{
    switch (ui.m_nID)
    {
    case ID_SAVE_NMEA:
    case ID_SAVE_KML:
        ui.Enable(!m_bRecording);
        ui.SetCheck(m_nRecordKind == (ui.m_nID == ID_SAVE_NMEA ? RecordNmea : RecordKml));
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
    if (name.size() > kMaxFileName)
        name.resize(kMaxFileName);
    return name;
}

std::time_t COrvaneDoc::Now() const
{
    return std::time(nullptr);
}

std::unique_ptr<LogFile> COrvaneDoc::CreateLogFile() const
{
    return std::make_unique<LogFile>();
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
    if (m_nRecordKind == RecordNmea || (m_pLogFile && m_pLogFile->IsOpen()))
        CloseLog(failure);
    if (m_nRecordKind == RecordKml || m_bKmlOpen)
        FinishKml(failure);
    UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
    if (!failure.empty())
        ShowError(failure);
}

void COrvaneDoc::StartRecording()
{
    const bool bWasRecording = m_bRecording != 0;
    const std::wstring name = MakeFileName(Now(), m_nRecordKind == RecordKml ? L".kml" : L".txt");

    // A start while a recording runs completes that recording instead of discarding it.
    std::wstring failure;
    if (m_pLogFile && m_pLogFile->IsOpen())
        CloseLog(failure);
    if (m_bKmlOpen)
        FinishKml(failure);
    if (!failure.empty())
        ShowError(failure);

    // With no folder the name would point into the file system's root; the setup view always
    // supplies a folder, so an empty one is refused like any other unusable path.
    const bool bUsableName = !m_strSaveFolder.empty();
    bool bOpened = false;
    if (m_nRecordKind == RecordKml)
    {
        m_pKmlTrack.reset();
        m_pKmlTrack = std::make_unique<KmlTrackWriter>();
        m_strKmlPath = name;
        bOpened = bUsableName && m_pKmlTrack->Open(name);
        m_bKmlOpen = bOpened;
    }
    else
    {
        m_pLogFile.reset();
        m_pLogFile = CreateLogFile();
        bOpened = bUsableName && m_pLogFile->Open(name);
    }

    if (bOpened)
    {
        m_bRecording = 1;
        UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
        return;
    }
    // The writer that did not open stays until the next start or the document's end.
    m_bRecording = 0;
    if (bWasRecording)
        UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
    ShowError(kOpenFailureText);
}

void COrvaneDoc::RecordSentence(const std::string& line)
{
    if (m_nRecordKind == RecordKml)
    {
        if (m_pKmlTrack && m_bKmlOpen && m_gps.fixMode > 1)
            m_pKmlTrack->AddPoint(m_gps);
        return;
    }

    if (!m_pLogFile || !m_pLogFile->IsOpen() || m_pLogFile->Write(line))
        return;
    // Disk full or medium gone: keep what is in the file, stop, and say why.
    std::wstring failure = WriteFailureText(m_pLogFile->GetPath(), m_pLogFile->GetLastError());
    m_bRecording = 0;
    std::wstring closeFailure;
    CloseLog(closeFailure);
    UpdateAllViews(nullptr, HINT_RECORDING_CHANGED);
    ShowError(failure);
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
        // The writer reports only success; errno right after it is the system's reason.
        errno = 0;
        ok = m_pKmlTrack->Finish();
        const int error = errno;
        if (!ok)
            failure = WriteFailureText(m_strKmlPath, error);
    }
    m_pKmlTrack.reset();
    m_bKmlOpen = false;
    return ok;
}
