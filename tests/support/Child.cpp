#include "support/Child.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{

// The test's environment with `entries` put in, as the array exec takes.
std::vector<std::string> Environment(const std::vector<std::string>& entries)
{
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e)
        out.emplace_back(*e);
    for (const std::string& entry : entries)
    {
        if (entry.find('=') == std::string::npos)
            continue;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(out, [&](const std::string& old) { return old.starts_with(name); });
        out.push_back(entry);
    }
    return out;
}

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Closes both ends of the pipes it made, unless handed over.
struct Pipe
{
    int fds[2] = {-1, -1};
    ~Pipe()
    {
        for (int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }
    bool Open() { return ::pipe2(fds, O_CLOEXEC) == 0; }
    int Take(int end)
    {
        const int fd = fds[end];
        fds[end] = -1;
        return fd;
    }
};

struct SpawnActions
{
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttributes
{
    posix_spawnattr_t attributes;
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

} // namespace

bool Child::Start(const std::vector<std::string>& args, const Options& options)
{
    if (m_pid > 0 || args.empty())
        return false;
    Pipe out;
    Pipe in;
    const bool reads = options.output == Output::Read || options.output == Output::Merged;
    if ((reads && !out.Open()) || (options.withInput && !in.Open()))
        return false;

    SpawnActions actions;
    if (reads)
    {
        posix_spawn_file_actions_adddup2(&actions.actions, out.fds[1], STDOUT_FILENO);
        if (options.output == Output::Merged)
            posix_spawn_file_actions_adddup2(&actions.actions, out.fds[1], STDERR_FILENO);
    }
    else if (options.output == Output::Discard)
    {
        posix_spawn_file_actions_addopen(&actions.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions.actions, STDOUT_FILENO, STDERR_FILENO);
    }
    if (options.withInput)
        posix_spawn_file_actions_adddup2(&actions.actions, in.fds[0], STDIN_FILENO);

    SpawnAttributes attributes;
    posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                         POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes.attributes, 0);
    // The test may block or catch signals; the child starts as a program started from a shell.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes.attributes, &none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes.attributes, &all);

    std::vector<std::string> argStrings = args;
    std::vector<std::string> envStrings = Environment(options.environment);
    std::vector<char*> argv = Pointers(argStrings);
    std::vector<char*> envp = Pointers(envStrings);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], &actions.actions, &attributes.attributes, argv.data(), envp.data()) != 0)
        return false;
    m_pid = pid;
    m_status = -1;
    m_eof = !reads;
    m_text.clear();
    m_consumed = 0;
    if (reads)
        m_out = out.Take(0);
    if (options.withInput)
        m_in = in.Take(1);
    return true;
}

Child::~Child()
{
    if (m_pid > 0)
    {
        ::kill(-m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
        ::close(m_out);
    if (m_in >= 0)
        ::close(m_in);
}

bool Child::WriteLine(const std::string& line)
{
    const std::string text = line + '\n';
    return m_in >= 0 && ::write(m_in, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool Child::ReadSome(int milliseconds)
{
    if (m_eof)
        return false;
    pollfd fd{m_out, POLLIN, 0};
    const int ready = ::poll(&fd, 1, milliseconds);
    if (ready < 0 && errno != EINTR)
        m_eof = true;
    if (ready <= 0)
        return !m_eof;
    char chunk[4096];
    const ssize_t n = ::read(m_out, chunk, sizeof chunk);
    if (n > 0)
        m_text.append(chunk, static_cast<std::size_t>(n));
    else if (n == 0 || errno != EINTR)
        m_eof = true;
    return !m_eof;
}

namespace
{
int MsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}
} // namespace

bool Child::ReadLine(std::string& line, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (true)
    {
        const std::size_t end = m_text.find('\n', m_consumed);
        if (end != std::string::npos)
        {
            line = m_text.substr(m_consumed, end - m_consumed);
            m_consumed = end + 1;
            return true;
        }
        if (MsLeft(deadline) == 0 || !ReadSome(MsLeft(deadline)))
            return false;
    }
}

bool Child::ReadUntil(const std::string& text, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_text.find(text) == std::string::npos)
        if (MsLeft(deadline) == 0 || !ReadSome(MsLeft(deadline)))
            return false;
    return true;
}

void Child::Signal(int signal)
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

void Child::Reap(bool block)
{
    int status = 0;
    if (m_pid > 0 && ::waitpid(m_pid, &status, block ? 0 : WNOHANG) == m_pid)
    {
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
}

int Child::Wait(int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (m_pid > 0)
    {
        // Its output ends when it does, unless something it started still holds the pipe.
        if (!m_eof)
            ReadSome(std::min(MsLeft(deadline), 20));
        else
            ::poll(nullptr, 0, std::min(MsLeft(deadline), 20));
        Reap(false);
        if (m_pid > 0 && MsLeft(deadline) == 0)
            return -1;
    }
    // What it wrote last; a pipe still held by something it started gives no end.
    for (std::size_t before = std::string::npos; before != m_text.size();)
    {
        before = m_text.size();
        ReadSome(0);
    }
    return m_status;
}

RunResult RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& environment, int seconds)
{
    Child child;
    RunResult result;
    if (!child.Start(args, Child::Options{environment, Child::Output::Merged, false}))
        return result;
    result.status = child.Wait(seconds);
    result.output = child.Text();
    return result;
}

RunResult RunShell(const std::string& command, int seconds)
{
    return RunProgram({"/bin/sh", "-c", command}, {}, seconds);
}

bool OnPath(const std::string& program)
{
    return RunShell("command -v '" + program + "'").status == 0;
}
