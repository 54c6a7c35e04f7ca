#include "serial/SerialPort.h"
#include "serial/BaudRates.h"
#include "io/GatherPause.h"
#include "serial/PosixSerialDevice.h"
#include "support/PseudoTerminal.h"
#include "io/WakeEvent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <termios.h>
#include <thread>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace
{

constexpr auto kDeadline = 20s;

// A port that records what the reader thread hands it.
class RecordingPort : public SerialPort
{
public:
    ~RecordingPort() override { Close(); }

    template <class Predicate> bool WaitUntil(Predicate predicate)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kDeadline, [&] { return predicate(*this); });
    }

    // Under m_mutex (WaitUntil's predicate runs under it).
    std::string received;
    std::string takenFromRing;
    std::size_t largestChunk = 0;
    int emptyReads = 0;
    int stoppedCalls = 0;
    bool stoppedOnReaderThread = false;

    std::string Received()
    {
        std::lock_guard lock(m_mutex);
        return received;
    }
    int StoppedCalls()
    {
        std::lock_guard lock(m_mutex);
        return stoppedCalls;
    }

protected:
    void OnDataReceived(const char* bytes, std::size_t count) override
    {
        const std::string fromRing = TakeReceived();
        std::lock_guard lock(m_mutex);
        received.append(bytes, count);
        takenFromRing += fromRing;
        largestChunk = std::max(largestChunk, count);
        if (count == 0)
            ++emptyReads;
        m_changed.notify_all();
    }

    void OnReaderStopped() override
    {
        std::lock_guard lock(m_mutex);
        ++stoppedCalls;
        stoppedOnReaderThread = std::this_thread::get_id() != m_testThread;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread::id m_testThread = std::this_thread::get_id();
};

std::string RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(generator));
    return bytes;
}

// ---- Opening ------------------------------------------------------------------------------

TEST(SerialPortOpen, MissingPathFailsWithNotFound)
{
    SerialPort port;
    EXPECT_FALSE(port.Open(L"/dev/orvane-no-such-port", 4800));
    EXPECT_EQ(port.LastOpenError(), PortError::NotFound);
    EXPECT_EQ(port.LastOpenSystemError(), ENOENT);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Write("x", 1));
}

TEST(SerialPortOpen, RegularFileIsNotASerialPort)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("orvane-not-a-port-" + std::to_string(::getpid()));
    std::ofstream(file) << "$GPGGA\r\n";
    SerialPort port;
    EXPECT_FALSE(port.Open(file.wstring(), 4800));
    EXPECT_EQ(port.LastOpenError(), PortError::NotSerialPort);
    EXPECT_FALSE(port.IsOpen());
    std::filesystem::remove(file);
}

TEST(SerialPortOpen, PortAlreadyOpenElsewhereFailsWithBusy)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    SerialPort first;
    ASSERT_TRUE(first.Open(pty.SlaveWidePath(), 4800));
    SerialPort second;
    EXPECT_FALSE(second.Open(pty.SlaveWidePath(), 4800));
    EXPECT_EQ(second.LastOpenError(), PortError::Busy);
    EXPECT_FALSE(second.IsOpen());

    first.Close();
    EXPECT_TRUE(second.Open(pty.SlaveWidePath(), 4800));
    EXPECT_EQ(second.LastOpenError(), PortError::None);
}

TEST(SerialPortOpen, SecondOpenOfAnOpenPortFails)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.SlaveWidePath(), 4800));
    EXPECT_FALSE(port.Open(pty.SlaveWidePath(), 9600));
    EXPECT_TRUE(port.IsOpen());
}

TEST(SerialPortOpen, CloseOnAClosedPortDoesNothing)
{
    SerialPort port;
    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Write("$", 1));
}

TEST(SerialPortOpen, ConfiguresRaw8N1WithoutHardwareFlowControl)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.SlaveWidePath(), 4800));
    termios settings{};
    ASSERT_EQ(::tcgetattr(pty.Slave(), &settings), 0);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(settings.c_cflag & CLOCAL, 0u);
    EXPECT_NE(settings.c_cflag & CREAD, 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(cfgetispeed(&settings), static_cast<speed_t>(B4800));
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B4800));
}

class EveryBaudRate : public testing::TestWithParam<int>
{
};

// The setup form's rates. A pseudo-terminal stores whatever speed it is given, 14400 included
// (through termios2/BOTHER), so every row opens and reads back its own rate.
TEST_P(EveryBaudRate, OpensAndTakesTheRate)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    {
        PosixSerialDevice device;
        ASSERT_TRUE(device.Open(pty.SlavePath(), GetParam()))
            << "errno " << device.LastSystemError();
        EXPECT_EQ(device.ActualBaudRate(), GetParam());
    }
    SerialPort port;
    EXPECT_TRUE(port.Open(pty.SlaveWidePath(), GetParam()));
    EXPECT_EQ(port.LastOpenError(), PortError::None);
}

INSTANTIATE_TEST_SUITE_P(SetupFormRates, EveryBaudRate, testing::ValuesIn(kBaudRates));

TEST(SerialPortOpen, NonPositiveRateIsUnsupported)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    SerialPort port;
    EXPECT_FALSE(port.Open(pty.SlaveWidePath(), 0));
    EXPECT_EQ(port.LastOpenError(), PortError::Unsupported);
    // The failed open left nothing locked behind.
    EXPECT_TRUE(port.Open(pty.SlaveWidePath(), 4800));
}

// ---- Errno mapping ------------------------------------------------------------------------

TEST(PortErrorFromErrno, MapsTheCodesTheUserIsToldAbout)
{
    const std::pair<int, PortError> rows[] = {
        {0, PortError::None},
        {ENOENT, PortError::NotFound},
        {EBUSY, PortError::Busy},
        {EWOULDBLOCK, PortError::Busy},
        {EACCES, PortError::PermissionDenied},
        {EPERM, PortError::PermissionDenied},
        {ENOTTY, PortError::NotSerialPort},
        {EINVAL, PortError::Unsupported},
        {EIO, PortError::Gone},
        {ENXIO, PortError::Gone},
        {ENODEV, PortError::Gone},
        {ENOMEM, PortError::Other},
    };
    for (const auto& [code, expected] : rows)
        EXPECT_EQ(PortErrorFromErrno(code), expected) << "errno " << code;
}

// ---- Reading ------------------------------------------------------------------------------

TEST(SerialPortReader, BytesFromTheReceiverArriveInOrderThroughTheRing)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    RecordingPort port;
    ASSERT_TRUE(port.Open(pty.SlaveWidePath(), 115200));

    // Every byte value, control characters (XOFF, ^C, EOF, NUL) included, is plain data.
    const std::string bytes = RandomBytes(20000, 7) + std::string("\x13\x11\x03\x04\x00\r\n", 7);
    for (std::size_t at = 0; at < bytes.size(); at += 1000)
        ASSERT_TRUE(pty.Write(std::string_view(bytes).substr(at, 1000)));

    ASSERT_TRUE(
        port.WaitUntil([&](RecordingPort& p) { return p.received.size() >= bytes.size(); }));
    port.Close();
    EXPECT_EQ(port.received, bytes);
    EXPECT_EQ(port.takenFromRing, bytes);
    EXPECT_LE(port.largestChunk, SerialPort::kReceiveChunk);
    EXPECT_EQ(port.stoppedCalls, 0);
    EXPECT_FALSE(port.HasStoppedOnItsOwn());
}

TEST(SerialPortReader, WaitWithoutInputStillCallsOnDataReceivedWithZero)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    RecordingPort port;
    ASSERT_TRUE(port.Open(pty.SlaveWidePath(), 4800));
    EXPECT_TRUE(port.WaitUntil([](RecordingPort& p) { return p.emptyReads > 0; }));
    EXPECT_EQ(port.Received(), "");
}

TEST(SerialPortReader, ClosingTheReceiverSideStopsTheReaderOnItsOwn)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    RecordingPort port;
    ASSERT_TRUE(port.Open(pty.SlaveWidePath(), 4800));
    ASSERT_TRUE(pty.Write("$GPGGA,1*00\r\n$GPGGA,2"));
    ASSERT_TRUE(port.WaitUntil([](RecordingPort& p) { return p.received.size() >= 21; }));

    pty.CloseMaster();
    ASSERT_TRUE(port.WaitUntil([](RecordingPort& p) { return p.stoppedCalls > 0; }));
    EXPECT_TRUE(port.HasStoppedOnItsOwn());
    EXPECT_TRUE(port.IsOpen());
    EXPECT_FALSE(port.Write("$", 1));
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.StoppedCalls(), 1);
    EXPECT_TRUE(port.stoppedOnReaderThread);
    EXPECT_EQ(port.Received(), "$GPGGA,1*00\r\n$GPGGA,2");
}

TEST(SerialPortReader, CloseWhileDataFlowsReturnsAndIsNotAStop)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    std::atomic<bool> pumping{true};
    std::thread receiver(
        [&]
        {
            const std::string sentence =
                "$GPGSV,3,1,11,30,79,308,20,05,54,079,16,06,43,204,29*75\r\n";
            while (pumping)
                pty.Write(sentence, 50ms);
        });
    for (int round = 0; round < 10; ++round)
    {
        RecordingPort port;
        ASSERT_TRUE(port.Open(pty.SlaveWidePath(), 115200));
        EXPECT_TRUE(port.WaitUntil([](RecordingPort& p) { return p.received.size() > 100; }));
        port.Close();
        EXPECT_FALSE(port.IsOpen());
        EXPECT_FALSE(port.HasStoppedOnItsOwn());
        EXPECT_EQ(port.StoppedCalls(), 0);
    }
    pumping = false;
    receiver.join();
}

// ---- Writing ------------------------------------------------------------------------------

TEST(SerialPortWriter, QueuedBytesReachTheReceiverExactly)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.SlaveWidePath(), 4800));
    const std::string command = "$PSRF101,0,0,0,96000,497260,921,12,4*2B\r\n";
    ASSERT_TRUE(port.Write(command.data(), command.size()));
    EXPECT_EQ(pty.Read(command.size()), command);
    const std::string second = "$PSRF103,00,01,00,01*25\r\n";
    ASSERT_TRUE(port.Write(second.data(), second.size()));
    EXPECT_EQ(pty.Read(second.size()), second);
    EXPECT_EQ(pty.ReadAvailable(), "");
}

TEST(SerialPortWriter, RefusesMoreThanTheRingHolds)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.SlaveWidePath(), 4800));
    const std::string tooMuch(RingBuffer::kDefaultCapacity + 1, 'x');
    EXPECT_FALSE(port.Write(tooMuch.data(), tooMuch.size()));
    port.Close();
    EXPECT_EQ(pty.ReadAvailable(), "");
}

TEST(SerialPortWriter, CloseWhileOutputIsBlockedReturnsAndSentBytesAreAPrefix)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.SlaveWidePath(), 115200));
    // Nobody reads the master, so the kernel's queue fills and the reader waits for room.
    const std::string stream = RandomBytes(4 * RingBuffer::kDefaultCapacity, 3);
    std::size_t queued = 0;
    for (int refused = 0; refused < 50 && queued < stream.size();)
    {
        const std::size_t piece = std::min<std::size_t>(4096, stream.size() - queued);
        if (port.Write(stream.data() + queued, piece))
        {
            queued += piece;
            refused = 0;
        }
        else
        {
            ++refused;
            std::this_thread::sleep_for(1ms);
        }
    }
    EXPECT_GT(queued, 0u);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    const std::string sent = pty.ReadAvailable();
    EXPECT_LE(sent.size(), queued);
    EXPECT_EQ(sent, stream.substr(0, sent.size()));
}

// The waits both write loops share: every way a wait for room can end.
TEST(WaitWritable, EndsOnRoomWakeTimeOutAndClosedDescriptor)
{
    using Status = ByteDevice::Status;
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC), 0);
    WakeEvent wake;
    ASSERT_TRUE(wake.Open());
    const auto soon = [] { return std::chrono::steady_clock::now() + std::chrono::milliseconds(50); };

    EXPECT_EQ(WaitWritableOrWoken(pipeFds[1], wake, soon()).status, Status::Done);
    std::vector<char> fill(65536, 'x');
    while (::write(pipeFds[1], fill.data(), fill.size()) > 0)
    {
    }
    EXPECT_EQ(WaitWritableOrWoken(pipeFds[1], wake, soon()).status, Status::TimedOut);
    // A wake-up ends the wait but stays for the read that follows.
    wake.Signal();
    EXPECT_EQ(WaitWritableOrWoken(pipeFds[1], wake, soon()).status, Status::Woken);
    EXPECT_EQ(WaitReadableOrWoken(pipeFds[0], wake, soon()).status, Status::Woken);
    // The reader gone: the write itself reports EPIPE, so the wait lets it go on.
    ::close(pipeFds[0]);
    EXPECT_EQ(WaitWritableOrWoken(pipeFds[1], wake, soon()).status, Status::Done);
    ::close(pipeFds[1]);
    const ByteDevice::Result closed = WaitWritableOrWoken(pipeFds[1], wake, soon());
    EXPECT_EQ(closed.status, Status::Gone);
    EXPECT_EQ(closed.systemError, EBADF);
}

} // namespace

// The reader's pause between reads: a short read waits for about 64 bytes of the line's time,
// at most 90 ms; a full read none; a flood of lines a longer pause, bounded by what the
// terminal driver can hold; a network source none.
TEST(GatherPause, WaitsForAChunkOfTheLineAndLongerInAFlood)
{
    struct Row
    {
        int baud;
        int base;
        int flood;
    };
    for (const Row& row : {Row{4800, 90000, 90000}, Row{9600, 66666, 66666}, Row{115200, 5555, 20000},
                           Row{921600, 694, 20000}, Row{0, 0, 0}})
    {
        SCOPED_TRACE(row.baud);
        GatherPause pause(row.baud);
        EXPECT_EQ(pause.BaseUs(), row.base);
        EXPECT_EQ(pause.FloodUs(), row.flood);
    }

    const std::string line = "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n";
    const std::string full(GatherPause::kGatherBytes, 'x');
    GatherPause pause(115200);
    GatherPause::Clock::time_point now{};
    const auto readAt = [&](const std::string& bytes, int ms) {
        return pause.After(bytes.data(), bytes.size(), now + std::chrono::milliseconds(ms));
    };
    EXPECT_EQ(readAt(line, 0), 5555) << "a short read";
    EXPECT_EQ(readAt(full, 1), 0) << "a full read: more is waiting";
    // 99 lines in the first second are no flood; 101 in the next are.
    for (int i = 0; i < 97; ++i)
        readAt(line, 2 + i);
    EXPECT_EQ(readAt(line, 1000), 5555);
    EXPECT_FALSE(pause.Flooding());
    for (int i = 0; i < 100; ++i)
        readAt(line, 1001 + i);
    EXPECT_EQ(readAt(line, 2000), 20000);
    EXPECT_TRUE(pause.Flooding());
    // A second with no more than 100 lines ends it.
    EXPECT_EQ(readAt(line, 4500), 5555);
    EXPECT_FALSE(pause.Flooding());
}
