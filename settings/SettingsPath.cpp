#include "settings/Settings.h"

#include "util/WideText.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

bool IsWritableFile(const std::wstring& path)
{
    // O_APPEND without writing: the file is opened for writing and left as it was.
    const int fd = ::open(ToUtf8(path).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool IsRegularFile(const std::wstring& path)
{
    struct stat info{};
    return ::stat(ToUtf8(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// mkdir -p; user configuration folders are private to the user.
bool MakeFolders(const std::string& folder)
{
    std::string partial;
    std::size_t pos = 0;
    while (pos <= folder.size())
    {
        const std::size_t next = folder.find('/', pos);
        const std::size_t end = next == std::string::npos ? folder.size() : next;
        partial = folder.substr(0, end);
        if (!partial.empty() && ::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        pos = end + 1;
    }
    struct stat info{};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::wstring HomeFromPasswordDatabase()
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 || !result ||
        !result->pw_dir)
        return {};
    return FromUtf8(result->pw_dir);
}

std::wstring FromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? FromUtf8(value) : std::wstring();
}

} // namespace

bool IsWritableFolder(const std::wstring& folder)
{
    std::string probe = (folder.empty() ? std::string() : ToUtf8(folder)) + "/.Orvane-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

ConfigEnvironment CurrentConfigEnvironment()
{
    ConfigEnvironment env;
    env.xdgConfigHome = FromEnvironment("XDG_CONFIG_HOME");
    env.xdgCacheHome = FromEnvironment("XDG_CACHE_HOME");
    env.home = FromEnvironment("HOME");
    if (env.home.empty())
        env.home = HomeFromPasswordDatabase();
    env.canCreateIn = IsWritableFolder;
    return env;
}

namespace
{
std::wstring XdgFolder(const std::wstring& variable, const std::wstring& home, const wchar_t* underHome)
{
    if (!variable.empty() && variable.front() == L'/')
        return variable;
    return home.empty() ? std::wstring() : home + underHome;
}
} // namespace

std::wstring UserConfigFolder(const ConfigEnvironment& env)
{
    return XdgFolder(env.xdgConfigHome, env.home, L"/.config");
}

std::wstring UserCacheFolder(const ConfigEnvironment& env)
{
    return XdgFolder(env.xdgCacheHome, env.home, L"/.cache");
}

std::wstring ComputeConfigPath(const std::wstring& exePath, const ConfigEnvironment& env)
{
    // Without a folder of its own, the executable's location has nothing to offer.
    const std::size_t slash = exePath.rfind(L'/');
    if (slash != std::wstring::npos)
    {
        const std::wstring folder = exePath.substr(0, slash);
        const std::wstring beside = folder + L"/" + kSettingsFileName;
        bool keepBeside = env.canCreateIn && env.canCreateIn(folder);
        if (!keepBeside && IsRegularFile(beside))
            keepBeside = IsWritableFile(beside);
        if (keepBeside)
            return beside;
    }

    // An installed program's folder is not the user's to write: settings go to the user's
    // configuration folder instead of being lost at every close.
    const std::wstring base = UserConfigFolder(env);
    if (base.empty())
        return std::wstring(L"/") + kSettingsFileName;

    const std::wstring folder = base + L"/Orvane";
    MakeFolders(ToUtf8(folder));
    return folder + L"/" + kSettingsFileName;
}

std::wstring ComputeConfigPath(const std::wstring& exePath)
{
    return ComputeConfigPath(exePath, CurrentConfigEnvironment());
}

std::wstring CurrentExecutablePath()
{
    std::vector<char> buffer(4096);
    for (;;)
    {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < buffer.size())
            return FromUtf8(std::string_view(buffer.data(), static_cast<std::size_t>(length)));
        if (buffer.size() >= 1 << 20)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}
