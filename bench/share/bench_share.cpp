// The reader's pace while it shares the receiver: what Publish costs the thread that reads the
// port, a line at a time, with clients on loopback that read as fast as they can and, with the
// second argument 1, one more that never reads (dropped once its queue is full).
#include "net/ShareServer.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <chrono>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

std::vector<std::string> CorpusLines()
{
    std::ifstream in(std::string(ORVANE_CORPUS_DIR) + "/neo-m8n.nmea", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < bytes.size();)
    {
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size() - 1) + 1;
        if (bytes[at] == '$')
            lines.push_back(bytes.substr(at, end - at));
        at = end;
    }
    return lines;
}

int Connect(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return fd;
}

void BM_PublishToClients(benchmark::State& state)
{
    const int readers = static_cast<int>(state.range(0));
    const bool stuck = state.range(1) != 0;
    const std::vector<std::string> lines = CorpusLines();
    ShareServer server;
    SourceAddress at;
    at.host = "127.0.0.1";
    if (!server.Start(at))
    {
        state.SkipWithError("cannot listen on loopback");
        return;
    }
    std::vector<int> fds;
    std::vector<std::thread> threads;
    for (int i = 0; i < readers; ++i)
    {
        fds.push_back(Connect(server.Port()));
        threads.emplace_back(
            [fd = fds.back()]
            {
                char buffer[65536];
                while (::recv(fd, buffer, sizeof buffer, 0) > 0)
                {
                }
            });
    }
    const int never = stuck ? Connect(server.Port()) : -1;
    while (server.Clients() < readers + (stuck ? 1 : 0))
        std::this_thread::yield();

    std::size_t i = 0;
    std::uint64_t bytes = 0;
    // Batches of 64 lines (a 115200-baud receiver's 0.4 s), a millisecond apart: far faster
    // than any receiver, slow enough for reading clients to keep up. Only Publish is timed.
    constexpr int kBatch = 64;
    for (auto _ : state)
    {
        for (int n = 0; n < kBatch; ++n)
        {
            const std::string& line = lines[i++ % lines.size()];
            server.Publish(line);
            bytes += line.size();
        }
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        state.ResumeTiming();
    }
    state.counters["ns_per_line"] = benchmark::Counter(static_cast<double>(state.iterations() * kBatch),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["dropped"] = static_cast<double>(server.Dropped());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    server.Stop();
    for (std::thread& t : threads)
        t.join();
    for (int fd : fds)
        ::close(fd);
    if (never >= 0)
        ::close(never);
}

BENCHMARK(BM_PublishToClients)->Args({0, 0})->Args({1, 0})->Args({8, 0})->Args({7, 1})->Iterations(3000);

} // namespace

BENCHMARK_MAIN();
