#pragma once

#include "io/WakeEvent.h"
#include "net/SourceAddress.h"
#include "util/UniqueFd.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// "HOST:PORT", "[IPv6]:PORT" or a bare "PORT" (then on 127.0.0.1): where the receiver is
// shared. nullopt for an empty or malformed text.
std::optional<SourceAddress> ParseShareAddress(std::string_view text);

// Serves the receiver's lines, as received, to the TCP clients that connect to one address: a
// chart plotter, `gpsd tcp://HOST:PORT`. A thread of its own accepts and writes, from Start to
// Stop or destruction. Publish never waits for a client: each has a queue of at most
// kQueueBytes, and one whose queue would overflow (it does not read) is dropped. At most
// kMaxClients at once; a further one is accepted and closed at once.
class ShareServer
{
public:
    static constexpr std::size_t kMaxClients = 8;
    static constexpr std::size_t kQueueBytes = 64 * 1024;

    ShareServer();
    ~ShareServer();
    ShareServer(const ShareServer&) = delete;
    ShareServer& operator=(const ShareServer&) = delete;

    // Listens on the address (port 0: one the system picks, see Port). Blocks for the lookup
    // of a host name. False, with LastSystemError, when the address cannot be listened on.
    bool Start(const SourceAddress& address);
    void Stop();
    std::uint16_t Port() const { return m_port; }
    int LastSystemError() const { return m_lastSystemError; }

    // Queues the bytes for every client connected now.
    void Publish(std::string_view line);

    int Clients() const;
    // Clients dropped for not reading.
    std::uint64_t Dropped() const { return m_nDropped.load(); }
    std::uint64_t Refused() const { return m_nRefused.load(); }

private:
    struct Client;
    void Run();
    void Accept();
    // Sends what the client's queue holds; false when the client is gone.
    bool Flush(Client& client);

    UniqueFd m_listen;
    std::uint16_t m_port = 0;
    int m_lastSystemError = 0;
    WakeEvent m_wake;
    std::atomic<bool> m_bStopping{false};
    mutable std::mutex m_lock;
    std::vector<std::unique_ptr<Client>> m_clients; // guarded by m_lock
    std::atomic<std::uint64_t> m_nDropped{0};
    std::atomic<std::uint64_t> m_nRefused{0};
    std::thread m_thread;
};
