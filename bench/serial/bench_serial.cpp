// End-to-end throughput of the receive path: receiver captures written to a pseudo-terminal,
// or sent by a TCP server on 127.0.0.1 to a tcp:// source, read by the port's reader thread,
// cut into lines, decoded and queued by the device, drained by the consumer. Reports lines per
// second, lines lost, and the reader thread's CPU time per line. A 115200-baud receiver sends
// about 160 sentences a second.
#include "device/GPSDevice.h"
#include "gps/NmeaFraming.h"
#include "io/RingBuffer.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

struct Stream
{
    std::string bytes;
    long lines = 0;  // lines the device hands on
    long queued = 0; // of them, with a valid checksum
};

const Stream& CorpusStream()
{
    static const Stream stream = []
    {
        Stream s;
        std::string once;
        for (const auto& entry : std::filesystem::directory_iterator(ORVANE_CORPUS_DIR))
        {
            if (entry.path().extension() != ".nmea")
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            once.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!once.empty() && once.back() != '\n')
                once += "\r\n"; // a truncated last sentence must not swallow the next capture
        }
        while (s.bytes.size() < 1000000)
            s.bytes += once;
        RingBuffer ring(RingBuffer::kDefaultCapacity);
        std::string line;
        for (std::size_t at = 0; at < s.bytes.size(); at += 64)
        {
            const std::size_t n = std::min<std::size_t>(64, s.bytes.size() - at);
            ring.Write(s.bytes.data() + at, static_cast<std::uint32_t>(n));
            while (ring.ReadLine(line))
            {
                ++s.lines;
                if (IsChecksumValid(line))
                    ++s.queued;
            }
        }
        return s;
    }();
    return stream;
}

// Samples the reader thread's own CPU clock after each read it hands on.
class MeteredDevice : public CGPSDevice
{
public:
    ~MeteredDevice() { Close(); }
    std::atomic<long long> readerCpuNs{0};

protected:
    void OnDataReceived(const char* bytes, std::size_t count) override
    {
        CGPSDevice::OnDataReceived(bytes, count);
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        readerCpuNs = now.tv_sec * 1000000000LL + now.tv_nsec;
    }
};

bool WriteAll(int fd, const std::string& bytes, std::size_t piece)
{
    for (std::size_t at = 0; at < bytes.size();)
    {
        const ssize_t put = ::write(fd, bytes.data() + at, std::min(piece, bytes.size() - at));
        if (put > 0)
            at += static_cast<std::size_t>(put);
        else if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        else
        {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
        }
    }
    return true;
}

struct Totals
{
    long popped = 0;
    long lost = 0;
    double cpuNs = 0;
};

// Opens the device on `portName`, runs `send` (the receiver's side) on its own thread and drains
// the queue until every line has been handed on; adds what it counted to the totals.
template <class Send>
bool ReceiveStream(benchmark::State& state, const std::wstring& portName, Send send, Totals& totals)
{
    const Stream& stream = CorpusStream();
    std::atomic<long> notifications{0};
    long popped = 0;
    MeteredDevice device;
    boost::signals2::scoped_connection connection =
        device.ConnectNotification([&](int) { ++notifications; });
    if (!device.OpenPort(portName, 115200))
    {
        state.SkipWithError("cannot open the source");
        return false;
    }
    std::thread receiver([&] { send(stream.bytes); });
    std::vector<ReceivedLine> batch;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (notifications < stream.lines && std::chrono::steady_clock::now() < deadline)
    {
        batch.clear();
        const std::size_t taken = device.PopLines(batch);
        popped += static_cast<long>(taken);
        if (taken == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    receiver.join();
    device.Close();
    batch.clear();
    popped += static_cast<long>(device.PopLines(batch));
    totals.cpuNs += static_cast<double>(device.readerCpuNs.load());
    totals.popped += popped;
    totals.lost += stream.queued - popped;
    return true;
}

void Report(benchmark::State& state, const Totals& totals)
{
    const Stream& stream = CorpusStream();
    state.SetItemsProcessed(totals.popped);
    state.SetBytesProcessed(static_cast<long long>(stream.bytes.size()) * state.iterations());
    state.counters["lines_per_s"] =
        benchmark::Counter(static_cast<double>(totals.popped), benchmark::Counter::kIsRate);
    state.counters["lost_lines"] = static_cast<double>(totals.lost);
    state.counters["reader_cpu_ns_per_line"] =
        totals.cpuNs / static_cast<double>(stream.lines * state.iterations());
    state.counters["x_115200_baud"] =
        benchmark::Counter(static_cast<double>(totals.popped) / 160.0, benchmark::Counter::kIsRate);
}

void BM_PseudoTerminalToLineQueue(benchmark::State& state)
{
    const std::size_t piece = static_cast<std::size_t>(state.range(0));
    Totals totals;
    for (auto _ : state)
    {
        int master = -1, slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        {
            state.SkipWithError("openpty failed");
            return;
        }
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        const std::string path = name;
        const bool ran = ReceiveStream(
            state, std::wstring(path.begin() + 5, path.end()),
            [&](const std::string& bytes) { WriteAll(master, bytes, piece); }, totals);
        ::close(master);
        ::close(slave);
        if (!ran)
            return;
    }
    Report(state, totals);
}
// Pieces the size of a UART's FIFO burst and of a large write.
BENCHMARK(BM_PseudoTerminalToLineQueue)
    ->Arg(64)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// A receiver serving NMEA on TCP (a phone app, a survey receiver): a server on 127.0.0.1 writes
// the stream as fast as the connection takes it, in pieces of the argument's size.
void BM_TcpToLineQueue(benchmark::State& state)
{
    const std::size_t piece = static_cast<std::size_t>(state.range(0));
    Totals totals;
    for (auto _ : state)
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        {
            state.SkipWithError("no loopback listener");
            return;
        }
        const std::wstring source = L"tcp://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port));
        const bool ran = ReceiveStream(
            state, source,
            [&](const std::string& bytes)
            {
                const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (client < 0)
                    return;
                WriteAll(client, bytes, piece);
                ::close(client);
            },
            totals);
        ::close(listener);
        if (!ran)
            return;
    }
    Report(state, totals);
}
// Pieces of one line or so, and of a full segment.
BENCHMARK(BM_TcpToLineQueue)
    ->Arg(64)
    ->Arg(1448)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_RingReadLine(benchmark::State& state)
{
    const Stream& stream = CorpusStream();
    RingBuffer ring;
    std::string line;
    long lines = 0;
    for (auto _ : state)
    {
        for (std::size_t at = 0; at < 64 * 1024; at += 64)
        {
            ring.Write(stream.bytes.data() + at, 64);
            while (ring.ReadLine(line))
                ++lines;
        }
        benchmark::DoNotOptimize(line.data());
    }
    state.SetItemsProcessed(lines);
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * 64 * 1024);
}
BENCHMARK(BM_RingReadLine);

} // namespace

BENCHMARK_MAIN();
