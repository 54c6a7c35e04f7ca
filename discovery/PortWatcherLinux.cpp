// inotify rather than libudev: the links under /dev/serial/by-id are udev's own output, so they
// tell the same story without another run-time library.

#include "discovery/PortWatcher.h"

#include "discovery/PublishedPorts.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>

namespace
{
constexpr std::uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

// The folder itself if it exists, else the nearest parent that does.
std::string ExistingFolderFor(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::path at(folder);
    while (!at.empty() && !std::filesystem::is_directory(at, ec))
    {
        if (at == at.parent_path())
            return {};
        at = at.parent_path();
    }
    return at.string();
}
} // namespace

CInotifyPortWatcher::CInotifyPortWatcher(std::vector<std::string> folders)
    : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), m_folders(std::move(folders))
{
    WatchFolders();
}

CInotifyPortWatcher::~CInotifyPortWatcher()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void CInotifyPortWatcher::WatchFolders()
{
    if (m_fd < 0)
        return;
    // Adding a watch twice keeps the one there, so this only adds the folders made since the
    // last time. A parent watched meanwhile stays watched: its extra events only cost a rescan.
    for (const std::string& folder : m_folders)
    {
        const std::string existing = ExistingFolderFor(folder);
        if (existing.empty())
            continue;
        ::inotify_add_watch(m_fd, existing.c_str(), kFolderEvents | IN_ONLYDIR);
    }
}

bool CInotifyPortWatcher::TakeChanges()
{
    if (m_fd < 0)
        return false;
    bool bChanged = false;
    alignas(inotify_event) char buffer[4096];
    for (;;)
    {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;)
        {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            // A watched folder that went away says so once more when its watch ends.
            if ((event->mask & IN_IGNORED) == 0)
                bChanged = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (bChanged)
        WatchFolders();
    return bChanged;
}

std::unique_ptr<IPortWatcher> MakeSystemPortWatcher()
{
    return std::make_unique<CInotifyPortWatcher>(
        std::vector<std::string>{"/dev", "/dev/serial/by-id", PublishedPortsFolder()});
}
