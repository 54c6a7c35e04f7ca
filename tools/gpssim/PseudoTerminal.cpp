// openpty and termios: the simulator only exists on POSIX systems.
#include "tools/gpssim/PseudoTerminal.h"

#include "serial/CustomBaudRate.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace
{

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    Close();
}

bool PseudoTerminal::Open(int baud, std::string& error)
{
    Close();
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
    {
        error = SystemError("cannot open a pseudo-terminal");
        return false;
    }
    termios settings{};
    bool bOk = ::tcgetattr(slave, &settings) == 0;
    if (bOk)
    {
        ::cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        // Every rate, 14400 included: the session compares its own with the one the other side
        // leaves set, and an opener that sets none leaves this one.
        bOk = ::tcsetattr(slave, TCSANOW, &settings) == 0 && SetCustomBaudRate(slave, baud);
    }
    const int flags = ::fcntl(master, F_GETFL);
    bOk = bOk && flags >= 0 && ::fcntl(master, F_SETFL, flags | O_NONBLOCK) == 0 &&
          ::fcntl(master, F_SETFD, FD_CLOEXEC) == 0;
    if (!bOk)
        error = SystemError("cannot set up the pseudo-terminal");
    ::close(slave);
    if (!bOk)
    {
        ::close(master);
        return false;
    }
    m_fd = master;
    m_strSlavePath = name;
    return true;
}

void PseudoTerminal::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_strSlavePath.clear();
}

bool DeviceLink::Create(const std::string& linkPath, const std::string& target, std::string& error)
{
    Remove();
    struct stat info
    {
    };
    if (::lstat(linkPath.c_str(), &info) == 0)
    {
        if (!S_ISLNK(info.st_mode))
        {
            error = linkPath + " exists and is not a symbolic link; not replacing it";
            return false;
        }
        // A link left behind by a run that could not clean up: replaced in one step.
        const std::string temporary = linkPath + ".orvane-gpssim-" + std::to_string(::getpid());
        ::unlink(temporary.c_str());
        if (::symlink(target.c_str(), temporary.c_str()) != 0)
        {
            error = SystemError("cannot create " + temporary);
            return false;
        }
        if (::rename(temporary.c_str(), linkPath.c_str()) != 0)
        {
            error = SystemError("cannot replace " + linkPath);
            ::unlink(temporary.c_str());
            return false;
        }
    }
    else if (::symlink(target.c_str(), linkPath.c_str()) != 0)
    {
        error = SystemError("cannot create " + linkPath);
        return false;
    }
    m_strPath = linkPath;
    m_strTarget = target;
    return true;
}

void DeviceLink::Remove()
{
    if (m_strPath.empty())
        return;
    // Someone may have pointed the path elsewhere meanwhile: then it is theirs.
    char buffer[4096];
    const ssize_t length = ::readlink(m_strPath.c_str(), buffer, sizeof buffer);
    if (length >= 0 && std::string(buffer, static_cast<std::size_t>(length)) == m_strTarget)
        ::unlink(m_strPath.c_str());
    m_strPath.clear();
    m_strTarget.clear();
}

std::string PortNameFor(const std::string& devicePath)
{
    constexpr std::string_view prefix = "/dev/";
    return devicePath.starts_with(prefix) ? devicePath.substr(prefix.size()) : devicePath;
}
