#include "util/ExclusiveFile.h"

#include "util/FileIo.h"
#include "util/WideText.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

ExclusiveFile::ExclusiveFile() : ExclusiveFile(FileCalls{})
{
}

ExclusiveFile::ExclusiveFile(FileCalls calls)
    : m_open(calls.open ? std::move(calls.open) : [](const char* path, int flags, mode_t mode) {
          return ::open(path, flags, mode);
      }),
      m_write(calls.write ? std::move(calls.write) : WriteFunction(::write)),
      m_sync(calls.sync ? std::move(calls.sync) : SyncFunction(::fdatasync))
{
}

ExclusiveFile::~ExclusiveFile()
{
    Close();
}

bool ExclusiveFile::Fail(int error)
{
    m_nLastError = error;
    return false;
}

bool ExclusiveFile::Open(const std::wstring& path, bool createNew)
{
    Close();
    m_strPath = path;
    m_nLastError = 0;
    m_nSize = 0;
    m_bDirty = false;

    // O_NONBLOCK only so that a FIFO in the file's place fails instead of hanging; O_NOFOLLOW
    // so that a link cannot send the recording elsewhere. No O_TRUNC: whatever is there stays.
    const int fd = m_open(ToUtf8(path).c_str(),
                          O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK | (createNew ? O_EXCL : 0),
                          0644);
    if (fd < 0)
        return Fail(errno);
    struct stat info{};
    int error = 0;
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    else if (!S_ISREG(info.st_mode))
        error = ENODEV;
    // Linux cannot refuse other opens outright; the lock is what cooperating recorders honour.
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno;
    // Checked under the lock: a file with data is another recording's, never to be overwritten.
    else if (::fstat(fd, &info) != 0)
        error = errno;
    else if (info.st_size != 0)
        error = EEXIST;
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    if (error != 0)
    {
        ::close(fd);
        return Fail(error);
    }
    m_fd = fd;
    return true;
}

bool ExclusiveFile::WriteAt(off_t offset, std::string_view bytes)
{
    if (m_fd < 0)
        return Fail(EBADF);
    if (::lseek(m_fd, offset, SEEK_SET) < 0)
        return Fail(errno);
    if (!m_bDirty)
        m_firstUnsynced = std::chrono::steady_clock::now();
    m_bDirty = true;
    std::size_t done = 0;
    int error = 0;
    const bool ok = WriteAllWith(m_write, m_fd, bytes.data(), bytes.size(), done, error);
    const off_t end = offset + static_cast<off_t>(done);
    if (end > m_nSize)
        m_nSize = end;
    return ok || Fail(error);
}

bool ExclusiveFile::Append(std::string_view bytes)
{
    const off_t before = m_nSize;
    if (WriteAt(before, bytes))
        return true;
    // A torn half would not be a line; the failure's reason is kept, not the cleanup's.
    if (m_fd >= 0 && m_nSize > before && ::ftruncate(m_fd, before) == 0)
        m_nSize = before;
    return false;
}

bool ExclusiveFile::Truncate(off_t size)
{
    if (m_fd < 0)
        return Fail(EBADF);
    if (::ftruncate(m_fd, size) != 0)
        return Fail(errno);
    m_nSize = size;
    m_bDirty = true;
    return true;
}

bool ExclusiveFile::Sync()
{
    if (m_fd < 0)
        return Fail(EBADF);
    // A removed medium or a full remote disk may only tell here; what it did not keep stays
    // dirty, to be synced again.
    if (m_sync(m_fd) != 0 && errno != EINVAL)
        return Fail(errno);
    m_bDirty = false;
    return true;
}

bool ExclusiveFile::SyncIfDue()
{
    if (m_fd < 0 || !m_bDirty || std::chrono::steady_clock::now() - m_firstUnsynced < m_syncInterval)
        return m_fd >= 0;
    return Sync();
}

bool ExclusiveFile::Close()
{
    if (m_fd < 0)
        return true;
    bool ok = Sync();
    if (::close(m_fd) != 0 && errno != EINTR && ok)
        ok = Fail(errno);
    m_fd = -1;
    return ok;
}
