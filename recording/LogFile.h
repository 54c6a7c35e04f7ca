#pragma once

#include "util/ExclusiveFile.h"

#include <string>
#include <string_view>

// The output file of an NMEA recording: raw bytes, each write handed to the system at once and
// synced to the medium at least every second or two.
class LogFile
{
public:
    LogFile() = default;
    explicit LogFile(FileCalls calls) : m_file(std::move(calls)) {}
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile() = default;

    // Creates the file, held exclusively while open; see ExclusiveFile for what is refused.
    bool Open(const std::wstring& path, bool createNew = false) { return m_file.Open(path, createNew); }
    bool IsOpen() const { return m_file.IsOpen(); }
    // Writes all the bytes or none of them: a failed write takes back the part of the text that
    // got out, so the file keeps only whole lines.
    bool Write(std::string_view bytes) { return m_file.Append(bytes) && m_file.SyncIfDue(); }
    // Syncs what is written and not yet synced.
    bool Sync() { return !m_file.IsDirty() || m_file.Sync(); }
    // Flushes to the medium and closes; false when the system reported the data not kept.
    bool Close() { return m_file.Close(); }

    off_t Size() const { return m_file.Size(); }
    const std::wstring& GetPath() const { return m_file.GetPath(); }
    // errno of the last failure, 0 if none.
    int GetLastError() const { return m_file.GetLastError(); }

private:
    ExclusiveFile m_file;
};
