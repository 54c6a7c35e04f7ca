#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

// The output file of a recording, held alone while it is open: created, or taken over when it
// exists but is empty; never truncated and never one that already holds data. It refuses
// anything that is not a regular file (a FIFO, a device, a symbolic link, a folder), locks the
// file (flock) so that a second recorder is refused, writes every byte, and syncs to the medium
// at most a sync interval after the data that the last write left unsynced.
// The system calls a recording's file goes through; an empty one is the system's own. Tests
// pass ones that fail like a full disk, a lost medium or a taken name.
struct FileCalls
{
    std::function<int(const char* path, int flags, mode_t mode)> open{};
    std::function<ssize_t(int fd, const void* data, size_t size)> write{};
    std::function<int(int fd)> sync{};
};

class ExclusiveFile
{
public:
    using WriteFunction = decltype(FileCalls::write);
    using SyncFunction = decltype(FileCalls::sync);

    static constexpr std::chrono::milliseconds kDefaultSyncInterval{1000};

    ExclusiveFile();
    explicit ExclusiveFile(FileCalls calls);
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;
    // Closes (and syncs) a file still open.
    ~ExclusiveFile();

    // `createNew`: only a file this call creates (O_EXCL), so that EEXIST tells a taken name.
    bool Open(const std::wstring& path, bool createNew = false);
    bool IsOpen() const { return m_fd >= 0; }

    // Writes all the bytes at the end of the file or none of them: a failed write takes back
    // the part that got out.
    bool Append(std::string_view bytes);
    // Writes all the bytes at `offset`; on failure the file may hold part of them.
    bool WriteAt(off_t offset, std::string_view bytes);
    bool Truncate(off_t size);
    off_t Size() const { return m_nSize; }

    // Syncs when the data written since the last sync is older than the interval.
    bool SyncIfDue();
    // Syncs what was written since the last sync; a failed sync leaves it to sync again.
    bool Sync();
    bool IsDirty() const { return m_bDirty; }
    void SetSyncInterval(std::chrono::milliseconds interval) { m_syncInterval = interval; }

    // Syncs and closes; false when the system reported the data not kept.
    bool Close();

    const std::wstring& GetPath() const { return m_strPath; }
    // errno of the last failure, 0 if none.
    int GetLastError() const { return m_nLastError; }

private:
    bool Fail(int error);

    decltype(FileCalls::open) m_open;
    WriteFunction m_write;
    SyncFunction m_sync;
    std::wstring m_strPath;
    int m_fd = -1;
    off_t m_nSize = 0;
    int m_nLastError = 0;
    bool m_bDirty = false;
    std::chrono::milliseconds m_syncInterval = kDefaultSyncInterval;
    std::chrono::steady_clock::time_point m_firstUnsynced{};
};
