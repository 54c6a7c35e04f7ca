#pragma once

// A program run as a child process, in a process group of its own so that whatever it starts
// ends with it. Started with posix_spawn: nothing runs between fork and exec, which matters in
// test programs that already have threads.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class Child
{
public:
    enum class Output
    {
        Read,    // stdout to the test, stderr shared with the test's
        Merged,  // stdout and stderr to the test
        Discard, // both to /dev/null
        Shared,  // both shared with the test's
    };
    struct Options
    {
        // "NAME=value", added to the test's own environment or replacing its entry.
        std::vector<std::string> environment;
        Output output = Output::Read;
        // Without it the child shares the test's stdin.
        bool withInput = false;
    };

    Child() = default;
    // The program is looked up on PATH unless given as a path.
    Child(const std::vector<std::string>& args, const Options& options) { Start(args, options); }
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Start(const std::vector<std::string>& args, const Options& options);
    bool Start(const std::vector<std::string>& args, const std::vector<std::string>& environment = {},
               bool withInput = false)
    {
        return Start(args, Options{environment, Output::Read, withInput});
    }
    bool Started() const { return m_pid > 0 || m_status >= 0; }
    pid_t Pid() const { return m_pid; }

    // One line to the child's stdin (Options::withInput); false when it is gone.
    bool WriteLine(const std::string& line);
    // The next whole line of its output, waiting up to `seconds`; false at the end or on time-out.
    bool ReadLine(std::string& line, int seconds = 60);
    // Reads until the output so far holds `text` (true), or it ends or time runs out (false).
    bool ReadUntil(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Everything it has written so far that the test has read.
    const std::string& Text() const { return m_text; }

    void Signal(int signal);
    // The exit status (WEXITSTATUS, or 128 + the signal), -1 when it did not end in time. The
    // output it writes meanwhile is read, so a talkative child cannot block on a full pipe.
    int Wait(int seconds = 5);

private:
    // Reads what is there within `milliseconds`; false at the end of the output.
    bool ReadSome(int milliseconds);
    void Reap(bool block);

    pid_t m_pid = -1;
    int m_status = -1;
    int m_out = -1;
    int m_in = -1;
    bool m_eof = false;
    std::string m_text;
    std::size_t m_consumed = 0; // of m_text, by ReadLine
};

// A program run to its end, stdout and stderr together.
struct RunResult
{
    int status = -1; // as Child::Wait
    std::string output;
};
RunResult RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& environment = {},
              int seconds = 300);
// A command line run by /bin/sh.
RunResult RunShell(const std::string& command, int seconds = 300);
// Whether `program` is found on PATH.
bool OnPath(const std::string& program);
