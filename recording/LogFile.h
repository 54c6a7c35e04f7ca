#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

// The output file of an NMEA recording: raw bytes, each write handed to the system at once.
class LogFile
{
public:
    // The system call that writes; a test passes one that fails like a full disk.
    using WriteFunction = std::function<ssize_t(int fd, const void* data, size_t size)>;

    LogFile();
    explicit LogFile(WriteFunction write);
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile();

    // Creates the file or empties an existing one, held exclusively while open.
    bool Open(const std::wstring& path);
    bool IsOpen() const { return m_fd >= 0; }
    // Writes all the bytes or none of them: a failed write takes back the part of the text that
    // got out, so the file keeps only whole lines.
    bool Write(std::string_view bytes);
    // Flushes to the medium and closes; false when the system reported the data not kept.
    bool Close();

    const std::wstring& GetPath() const { return m_strPath; }
    // errno of the last failure, 0 if none.
    int GetLastError() const { return m_nLastError; }

private:
    bool Fail(int error);

    WriteFunction m_write;
    std::wstring m_strPath;
    int m_fd = -1;
    bool m_bRegular = false;
    off_t m_nWritten = 0;
    int m_nLastError = 0;
};
