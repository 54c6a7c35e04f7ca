#pragma once

#include <memory>
#include <string>
#include <vector>

// Tells that serial devices may have come or gone, so that the port list can be read again.
// The owner waits for ReadableFd (a QSocketNotifier, poll) and then calls TakeChanges.
class IPortWatcher
{
public:
    virtual ~IPortWatcher() = default;
    // Becomes readable when a change is waiting; -1 when the watcher could not be set up.
    virtual int ReadableFd() const = 0;
    // Takes what is waiting without blocking; true when the set of ports may have changed.
    virtual bool TakeChanges() = 0;
};

// inotify on folders where device nodes and links appear (/dev, /dev/serial/by-id, the
// published-ports folder). A folder that does not exist yet is watched through its nearest
// existing parent until it appears.
class CInotifyPortWatcher : public IPortWatcher
{
public:
    explicit CInotifyPortWatcher(std::vector<std::string> folders);
    ~CInotifyPortWatcher() override;
    CInotifyPortWatcher(const CInotifyPortWatcher&) = delete;
    CInotifyPortWatcher& operator=(const CInotifyPortWatcher&) = delete;

    int ReadableFd() const override { return m_fd; }
    bool TakeChanges() override;

private:
    void WatchFolders();

    int m_fd = -1;
    std::vector<std::string> m_folders;
};

// The folders Orvane watches on this machine.
std::unique_ptr<IPortWatcher> MakeSystemPortWatcher();
