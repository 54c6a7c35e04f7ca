#include "settings/Settings.h"

#include "util/WideText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace
{

bool Lstat(const std::string& path, struct stat& info)
{
    return ::lstat(path.c_str(), &info) == 0;
}

bool IsNewer(const struct stat& a, const struct stat& b)
{
    if (a.st_mtim.tv_sec != b.st_mtim.tv_sec)
        return a.st_mtim.tv_sec > b.st_mtim.tv_sec;
    return a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

std::vector<std::string> NamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    return names;
}

bool MoveEntry(const std::string& from, const std::string& to);

// Across file systems: a copy under a name of its own, renamed into place once whole, so that
// an interruption never leaves half a file under the real name; then the original goes.
bool CopyThenRemove(const std::string& from, const struct stat& info, const std::string& to)
{
    std::error_code error;
    if (S_ISDIR(info.st_mode))
    {
        if (::mkdir(to.c_str(), info.st_mode & 07777) != 0 && errno != EEXIST)
            return false;
        bool ok = true;
        for (const std::string& name : NamesIn(from))
            ok = MoveEntry(from + "/" + name, to + "/" + name) && ok;
        return ok && ::rmdir(from.c_str()) == 0;
    }
    const std::string temp = to + ".orvane-moving";
    fs::remove(temp, error);
    if (S_ISLNK(info.st_mode))
        fs::copy_symlink(from, temp, error);
    else if (S_ISREG(info.st_mode))
        fs::copy_file(from, temp, error);
    else
        return false; // a device or a socket is nothing to move
    if (error)
    {
        fs::remove(temp, error);
        return false;
    }
    if (S_ISREG(info.st_mode))
    {
        // The copy keeps the original's age, which decides between two files later on.
        const timespec times[2] = {info.st_atim, info.st_mtim};
        ::utimensat(AT_FDCWD, temp.c_str(), times, 0);
    }
    if (::rename(temp.c_str(), to.c_str()) != 0)
    {
        fs::remove(temp, error);
        return false;
    }
    return ::unlink(from.c_str()) == 0;
}

bool Replace(const std::string& from, const struct stat& info, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    return errno == EXDEV && CopyThenRemove(from, info, to);
}

bool MoveEntry(const std::string& from, const std::string& to)
{
    struct stat source{};
    if (!Lstat(from, source))
        return errno == ENOENT;
    struct stat target{};
    if (!Lstat(to, target))
        return errno == ENOENT && Replace(from, source, to);

    if (S_ISDIR(source.st_mode) && S_ISDIR(target.st_mode))
    {
        bool ok = true;
        for (const std::string& name : NamesIn(from))
            ok = MoveEntry(from + "/" + name, to + "/" + name) && ok;
        return ok && ::rmdir(from.c_str()) == 0;
    }
    if (S_ISDIR(source.st_mode) || S_ISDIR(target.st_mode))
        return false; // a folder and a file of one name: both stay as they are
    // Two files: the newer stays, the older was replaced by it.
    if (IsNewer(source, target))
        return Replace(from, source, to);
    return ::unlink(from.c_str()) == 0;
}

} // namespace

bool MoveOver(const std::string& from, const std::string& to)
{
    try
    {
        struct stat source{};
        if (!Lstat(from, source))
            return errno == ENOENT;
        std::error_code error;
        fs::create_directories(fs::path(to).parent_path(), error);
        return MoveEntry(from, to);
    }
    catch (...)
    {
        return false;
    }
}

bool MoveEarlierUserFiles(const ConfigEnvironment& env)
{
    bool ok = true;
    const std::string earlier = std::string("/") + kEarlierFolderName;
    const std::string own = std::string("/") + kUserFolderName;
    // The window state is one file among those other programs of that wizard might keep.
    if (const std::string config = ToUtf8(UserConfigFolder(env)); !config.empty())
    {
        ok = MoveOver(config + earlier + "/Orvane.conf", config + own + "/Orvane.conf") && ok;
        ::rmdir((config + earlier).c_str());
    }
    if (const std::string cache = ToUtf8(UserCacheFolder(env)); !cache.empty())
    {
        ok = MoveOver(cache + earlier + "/Orvane", cache + own) && ok;
        ::rmdir((cache + earlier).c_str());
    }
    return ok;
}
