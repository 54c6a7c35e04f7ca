#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

// A child process in its own process group, its stdout read line by line, its stdin written
// when asked for.
class Child
{
public:
    // The program is looked up on PATH unless given as a path; `environment` entries
    // ("NAME=value") are added to the test's own. Without `withInput` the child shares the
    // test's stdin.
    bool Start(const std::vector<std::string>& args, const std::vector<std::string>& environment = {},
               bool withInput = false)
    {
        int out[2];
        int in[2] = {-1, -1};
        if (::pipe2(out, O_CLOEXEC) != 0 || (withInput && ::pipe2(in, O_CLOEXEC) != 0))
            return false;
        m_pid = ::fork();
        if (m_pid == 0)
        {
            ::setpgid(0, 0);
            ::dup2(out[1], STDOUT_FILENO);
            if (withInput)
                ::dup2(in[0], STDIN_FILENO);
            for (const std::string& entry : environment)
                ::putenv(const_cast<char*>(entry.c_str()));
            std::vector<char*> argv;
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        m_out = out[0];
        if (withInput)
        {
            ::close(in[0]);
            m_in = in[1];
        }
        return m_pid > 0;
    }

    // One line to the child's stdin (Start with `withInput`); false when it is gone.
    bool WriteLine(const std::string& line)
    {
        const std::string text = line + '\n';
        return m_in >= 0 && ::write(m_in, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    // The next whole line, waiting up to `seconds`; false at the end or on time-out.
    bool ReadLine(std::string& line, int seconds = 60)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (true)
        {
            const std::size_t end = m_buffer.find('\n');
            if (end != std::string::npos)
            {
                line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                return false;
            pollfd fd{m_out, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left)) <= 0)
                continue;
            char chunk[4096];
            const ssize_t n = ::read(m_out, chunk, sizeof chunk);
            if (n <= 0)
                return false;
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    void Signal(int signal) { ::kill(m_pid, signal); }

    // The exit status (WEXITSTATUS, or 128 + the signal), -1 when it did not end in time.
    int Wait(int seconds)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline)
        {
            int status = 0;
            const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid)
            {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            ::poll(nullptr, 0, 20);
        }
        return -1;
    }

    ~Child()
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

    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;
    std::string m_buffer;
};
