#include "recording/LogFile.h"

#include "util/FileIo.h"
#include "util/WideText.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

LogFile::LogFile() : LogFile(WriteFunction(::write))
{
}

LogFile::LogFile(WriteFunction write) : m_write(std::move(write))
{
}

LogFile::~LogFile()
{
    Close();
}

bool LogFile::Fail(int error)
{
    m_nLastError = error;
    return false;
}

bool LogFile::Open(const std::wstring& path)
{
    Close();
    m_strPath = path;
    m_nLastError = 0;
    m_nWritten = 0;

    const std::string name = ToUtf8(path);
    // Truncating waits for the lock: a file that another recorder holds is left as it is.
    int fd = ::open(name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return Fail(errno);
    // Linux cannot refuse other opens of the file outright as the original platform does; the
    // lock is the part of "no sharing" that cooperating programs honour.
    struct stat st = {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0)
    {
        const int error = errno;
        ::close(fd);
        return Fail(error);
    }
    m_bRegular = S_ISREG(st.st_mode);
    if (m_bRegular && ::ftruncate(fd, 0) != 0)
    {
        const int error = errno;
        ::close(fd);
        return Fail(error);
    }
    m_fd = fd;
    return true;
}

bool LogFile::Write(std::string_view bytes)
{
    if (m_fd < 0)
        return Fail(EBADF);
    size_t done = 0;
    int error = 0;
    if (!WriteAllWith(m_write, m_fd, bytes.data(), bytes.size(), done, error))
    {
        // The lines before this one stay; a torn half line would not be a sentence.
        if (m_bRegular && done > 0)
            static_cast<void>(::ftruncate(m_fd, m_nWritten));
        return Fail(error);
    }
    m_nWritten += static_cast<off_t>(bytes.size());
    return true;
}

bool LogFile::Close()
{
    if (m_fd < 0)
        return true;
    bool ok = true;
    // The medium may only now report that written data was lost.
    if (m_bRegular && ::fsync(m_fd) != 0 && errno != EINVAL)
        ok = Fail(errno);
    if (::close(m_fd) != 0 && errno != EINTR && ok)
        ok = Fail(errno);
    m_fd = -1;
    return ok;
}
