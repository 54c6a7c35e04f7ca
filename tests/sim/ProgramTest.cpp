// orvane-gpssim as a user runs it: its output, its link, its ways of ending.
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace std::chrono;
namespace fs = std::filesystem;

namespace
{

class Program
{
public:
    explicit Program(std::vector<std::string> args)
    {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
        args.insert(args.begin(), ORVANE_GPSSIM_EXE);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, ORVANE_GPSSIM_EXE, &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        m_out = pipeFds[0];
    }
    ~Program()
    {
        if (m_pid > 0 && !m_status)
        {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
    }
    bool Started() const { return m_pid > 0; }

    // Reads the output until it holds `text` (true) or it ends or time runs out (false).
    bool ReadUntil(const std::string& text, milliseconds limit = seconds(5))
    {
        const auto deadline = steady_clock::now() + limit;
        while (output.find(text) == std::string::npos)
            if (!ReadSome(deadline))
                return false;
        return true;
    }
    // Waits for the program to end; its wait status.
    std::optional<int> Wait(milliseconds limit = seconds(5))
    {
        const auto deadline = steady_clock::now() + limit;
        while (ReadSome(deadline))
        {
        }
        if (m_eof)
        {
            // Output closed: the program has ended or is ending.
            int status = 0;
            if (::waitpid(m_pid, &status, 0) == m_pid)
                m_status = status;
        }
        return m_status;
    }
    void Signal(int signal) { ::kill(m_pid, signal); }

    std::string output;

private:
    bool ReadSome(steady_clock::time_point deadline)
    {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (m_eof || left <= 0)
            return false;
        pollfd fd{m_out, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left)) <= 0)
            return true;
        char buffer[512];
        const ssize_t got = ::read(m_out, buffer, sizeof buffer);
        if (got <= 0)
        {
            m_eof = got == 0 || errno != EINTR;
            return !m_eof;
        }
        output.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    bool m_eof = false;
    std::optional<int> m_status;
};

class ProgramTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = m_temp.Path();
        ASSERT_FALSE(m_folder.empty());
        // The crash test must not leave a core file behind.
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
    }

    static std::string DevicePath(const std::string& output)
    {
        const auto at = output.find("Device: /dev/pts/");
        if (at == std::string::npos)
            return "";
        const auto end = output.find('\n', at);
        return end == std::string::npos ? "" : output.substr(at + 8, end - at - 8);
    }
    static bool LinkGone(const fs::path& link) { return !fs::exists(fs::symlink_status(link)); }

    // Opens the port through the link and reads the first line.
    static std::string FirstLine(int fd)
    {
        std::string line;
        const auto deadline = steady_clock::now() + seconds(3);
        while (line.empty() || line.back() != '\n')
        {
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{fd, POLLIN, 0};
            char c = 0;
            if (::poll(&p, 1, static_cast<int>(left)) > 0 && ::read(fd, &c, 1) == 1)
                line.push_back(c);
        }
        return line;
    }

    TempFolder m_temp;
    fs::path m_folder;
};

bool ExitedWith(const std::optional<int>& status, int code)
{
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

} // namespace

TEST_F(ProgramTest, PrintsItsDeviceMakesTheLinkAndStopsCleanlyOnSigterm)
{
    const fs::path link = m_folder / "gps";
    Program program({"--baud", "115200", "--seed", "3", "--link", link.string()});
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.ReadUntil("Ctrl+C stops.")) << program.output;
    const std::string device = DevicePath(program.output);
    ASSERT_FALSE(device.empty()) << program.output;
    EXPECT_NE(program.output.find("seed 3"), std::string::npos);
    EXPECT_EQ(fs::read_symlink(link).string(), device);

    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(FirstLine(fd).substr(0, 7), "$GPGGA,");
    program.Signal(SIGTERM);
    EXPECT_TRUE(ExitedWith(program.Wait(), 0)) << program.output;
    ::close(fd);
    EXPECT_NE(program.output.find("Stopped."), std::string::npos) << program.output;
    EXPECT_TRUE(LinkGone(link));
}

TEST_F(ProgramTest, CtrlCWhileNobodyListensRemovesTheLink)
{
    const fs::path link = m_folder / "gps";
    Program program({"--link", link.string()});
    ASSERT_TRUE(program.ReadUntil("Ctrl+C stops.")) << program.output;
    EXPECT_TRUE(fs::is_symlink(link));
    program.Signal(SIGINT);
    EXPECT_TRUE(ExitedWith(program.Wait(), 0)) << program.output;
    EXPECT_TRUE(LinkGone(link));
}

TEST_F(ProgramTest, EndsByItselfWhenTheOtherSideClosesThePort)
{
    const fs::path link = m_folder / "gps";
    Program program({"--baud", "57600", "--link", link.string()});
    ASSERT_TRUE(program.ReadUntil("Ctrl+C stops.")) << program.output;
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(FirstLine(fd).empty());
    ::close(fd);
    EXPECT_TRUE(ExitedWith(program.Wait(), 0)) << program.output;
    EXPECT_NE(program.output.find("went away"), std::string::npos) << program.output;
    EXPECT_TRUE(LinkGone(link));
}

TEST_F(ProgramTest, ACrashDoesNotLeaveTheLinkBehind)
{
    const fs::path link = m_folder / "gps";
    Program program({"--link", link.string()});
    ASSERT_TRUE(program.ReadUntil("Ctrl+C stops.")) << program.output;
    program.Signal(SIGABRT);
    const std::optional<int> status = program.Wait();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status));
    EXPECT_TRUE(LinkGone(link));
}

TEST_F(ProgramTest, RefusesToReplaceSomethingThatIsNotALink)
{
    const fs::path file = m_folder / "notes.txt";
    std::ofstream(file) << "keep me";
    Program program({"--link", file.string()});
    EXPECT_TRUE(ExitedWith(program.Wait(), 1)) << program.output;
    EXPECT_NE(program.output.find("not a symbolic link"), std::string::npos) << program.output;
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
}

TEST_F(ProgramTest, ReplaysALogFromItsFirstSentence)
{
    const fs::path link = m_folder / "gps";
    Program program({"--replay", std::string(ORVANE_CORPUS_DIR) + "/gpslim236.nmea", "--baud",
                     "115200", "--link", link.string()});
    ASSERT_TRUE(program.ReadUntil("Ctrl+C stops.")) << program.output;
    EXPECT_NE(program.output.find("replaying"), std::string::npos);
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(FirstLine(fd),
              "$GPGGA,185244.000,4854.2575,N,00219.9816,E,1,05,1.7,124.4,M,47.3,M,,0000*56\r\n");
    program.Signal(SIGTERM);
    EXPECT_TRUE(ExitedWith(program.Wait(), 0)) << program.output;
    ::close(fd);
    EXPECT_TRUE(LinkGone(link));
}

TEST_F(ProgramTest, WrongOptionsAndHelp)
{
    Program wrong({"--baud", "300"});
    EXPECT_TRUE(ExitedWith(wrong.Wait(), 2));
    EXPECT_NE(wrong.output.find("--help"), std::string::npos) << wrong.output;

    Program missing({"--replay", (m_folder / "absent.nmea").string()});
    EXPECT_TRUE(ExitedWith(missing.Wait(), 1));
    EXPECT_NE(missing.output.find("absent.nmea"), std::string::npos) << missing.output;

    Program help({"--help"});
    EXPECT_TRUE(ExitedWith(help.Wait(), 0));
    EXPECT_NE(help.output.find("Usage: orvane-gpssim"), std::string::npos);
}
