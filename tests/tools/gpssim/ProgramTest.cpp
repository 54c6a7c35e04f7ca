// orvane-gpssim as a user runs it: its output, its link, its ways of ending.
#include "support/Child.h"
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
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono;
namespace fs = std::filesystem;

namespace
{

// orvane-gpssim run with `args`, its output and errors read together.
class Program : public Child
{
public:
    explicit Program(std::vector<std::string> args)
    {
        args.insert(args.begin(), ORVANE_GPSSIM_EXE);
        Start(args, Options{{}, Output::Merged, false});
    }
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

} // namespace

TEST_F(ProgramTest, PrintsItsDeviceMakesTheLinkAndStopsCleanlyOnSigterm)
{
    const fs::path link = m_folder / "gps";
    Program program({"--baud", "115200", "--seed", "3", "--link", link.string()});
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.ReadUntil("Ctrl+C stops.")) << program.Text();
    const std::string device = DevicePath(program.Text());
    ASSERT_FALSE(device.empty()) << program.Text();
    EXPECT_NE(program.Text().find("seed 3"), std::string::npos);
    EXPECT_EQ(fs::read_symlink(link).string(), device);

    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(FirstLine(fd).substr(0, 7), "$GPGGA,");
    program.Signal(SIGTERM);
    EXPECT_TRUE(program.Wait() == 0) << program.Text();
    ::close(fd);
    EXPECT_NE(program.Text().find("Stopped."), std::string::npos) << program.Text();
    EXPECT_TRUE(LinkGone(link));
}

TEST_F(ProgramTest, CtrlCWhileNobodyListensRemovesTheLink)
{
    const fs::path link = m_folder / "gps";
    Program program({"--link", link.string()});
    ASSERT_TRUE(program.ReadUntil("Ctrl+C stops.")) << program.Text();
    EXPECT_TRUE(fs::is_symlink(link));
    program.Signal(SIGINT);
    EXPECT_TRUE(program.Wait() == 0) << program.Text();
    EXPECT_TRUE(LinkGone(link));
}

TEST_F(ProgramTest, EndsByItselfWhenTheOtherSideClosesThePort)
{
    const fs::path link = m_folder / "gps";
    Program program({"--baud", "57600", "--link", link.string()});
    ASSERT_TRUE(program.ReadUntil("Ctrl+C stops.")) << program.Text();
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(FirstLine(fd).empty());
    ::close(fd);
    EXPECT_TRUE(program.Wait() == 0) << program.Text();
    EXPECT_NE(program.Text().find("went away"), std::string::npos) << program.Text();
    EXPECT_TRUE(LinkGone(link));
}

TEST_F(ProgramTest, AReceiverOfAFamilyGreetsAndLogsWhatItReceives)
{
    const fs::path link = m_folder / "gps";
    Program program({"--family", "casic", "--baud", "115200", "--link", link.string()});
    ASSERT_TRUE(program.ReadUntil("Ctrl+C stops.")) << program.Text();
    EXPECT_NE(program.Text().find("simulated CASIC receiver"), std::string::npos) << program.Text();
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(FirstLine(fd), "$GPTXT,01,01,02,MA=CASIC*27\r\n");
    const std::string commands = "$PMTK103*30\r\n$PCAS06,0*1B\r\n$PCAS10,2*1E\r\n";
    ASSERT_EQ(::write(fd, commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
    ASSERT_TRUE(program.ReadUntil("cold start command received.")) << program.Text();
    const std::string log = program.Text();
    const auto ignored = log.find("Received: $PMTK103*30 (ignored)\n");
    const auto answered = log.find("Received: $PCAS06,0*1B (answered)\n");
    const auto obeyed = log.find("Received: $PCAS10,2*1E\ncold start command received.\n");
    EXPECT_NE(ignored, std::string::npos) << log;
    EXPECT_NE(answered, std::string::npos) << log;
    EXPECT_NE(obeyed, std::string::npos) << log;
    EXPECT_TRUE(ignored < answered && answered < obeyed) << log;
    program.Signal(SIGTERM);
    EXPECT_TRUE(program.Wait() == 0) << program.Text();
    ::close(fd);
}

TEST_F(ProgramTest, ACrashDoesNotLeaveTheLinkBehind)
{
    const fs::path link = m_folder / "gps";
    Program program({"--link", link.string()});
    ASSERT_TRUE(program.ReadUntil("Ctrl+C stops.")) << program.Text();
    program.Signal(SIGABRT);
    EXPECT_EQ(program.Wait(), 128 + SIGABRT);
    EXPECT_TRUE(LinkGone(link));
}

TEST_F(ProgramTest, RefusesToReplaceSomethingThatIsNotALink)
{
    const fs::path file = m_folder / "notes.txt";
    std::ofstream(file) << "keep me";
    Program program({"--link", file.string()});
    EXPECT_TRUE(program.Wait() == 1) << program.Text();
    EXPECT_NE(program.Text().find("not a symbolic link"), std::string::npos) << program.Text();
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
    ASSERT_TRUE(program.ReadUntil("Ctrl+C stops.")) << program.Text();
    EXPECT_NE(program.Text().find("replaying"), std::string::npos);
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(FirstLine(fd),
              "$GPGGA,185244.000,4854.2575,N,00219.9816,E,1,05,1.7,124.4,M,47.3,M,,0000*56\r\n");
    program.Signal(SIGTERM);
    EXPECT_TRUE(program.Wait() == 0) << program.Text();
    ::close(fd);
    EXPECT_TRUE(LinkGone(link));
}

TEST_F(ProgramTest, WrongOptionsAndHelp)
{
    Program wrong({"--baud", "300"});
    EXPECT_TRUE(wrong.Wait() == 2);
    EXPECT_NE(wrong.Text().find("--help"), std::string::npos) << wrong.Text();

    Program missing({"--replay", (m_folder / "absent.nmea").string()});
    EXPECT_TRUE(missing.Wait() == 1);
    EXPECT_NE(missing.Text().find("absent.nmea"), std::string::npos) << missing.Text();

    Program help({"--help"});
    EXPECT_TRUE(help.Wait() == 0);
    EXPECT_NE(help.Text().find("Usage: orvane-gpssim"), std::string::npos);
}
