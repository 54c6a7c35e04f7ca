#pragma once

#include "io/WakeEvent.h"

#include <netdb.h>
#include <sys/socket.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// One address a name stands for, ready for socket, connect or bind.
struct ResolvedAddress
{
    int family = AF_UNSPEC;
    int socketType = 0;
    int protocol = 0;
    sockaddr_storage address{};
    socklen_t length = 0;
};

// A lookup's outcome: status 0 with the addresses, or an EAI_ code.
struct ResolverAnswer
{
    int status = EAI_FAIL;
    std::vector<ResolvedAddress> addresses;
};

// Turns a host (empty for the wildcard of a passive lookup) and a port into addresses. The
// system's is getaddrinfo; tests and benchmarks put in their own, so that no nameserver is
// ever asked.
using Resolver = std::function<ResolverAnswer(const std::string& host, const std::string& port,
                                              const addrinfo& hints)>;
ResolverAnswer SystemResolve(const std::string& host, const std::string& port,
                             const addrinfo& hints);

enum class LookupStatus
{
    Done,
    NotFound,
    TimedOut,
    Cancelled
};

// At most this many lookups run at once, each on a thread of its own: a resolver that hangs
// holds its places, and never makes more threads than this.
inline constexpr int kMaxConcurrentLookups = 4;

// The places the lookups of one process share. A lookup waits for a free place before its
// thread starts; the thread gives the place back when the resolver returns, even when its
// caller gave up waiting long before. Those threads keep what they share alive on their own,
// so the pool may go while they run.
class LookupPool
{
public:
    explicit LookupPool(int places = kMaxConcurrentLookups);
    ~LookupPool();
    LookupPool(const LookupPool&) = delete;
    LookupPool& operator=(const LookupPool&) = delete;

    // Runs `resolver` on a thread of its own and waits up to limitMs, for a place and then for
    // its answer, or until `cancel` is signalled (the wake-up is taken). getaddrinfo cannot be
    // interrupted: a lookup that outlives the wait finishes on its own and its answer is
    // dropped. A lookup that finds no free place within its limit is TimedOut.
    LookupStatus LookUp(const Resolver& resolver, const std::string& host, const std::string& port,
                        const addrinfo& hints, int limitMs, WakeEvent& cancel,
                        std::vector<ResolvedAddress>& addresses);

    // Lookup threads alive now, those whose caller stopped waiting included.
    int RunningThreads() const;
    // Lookups waiting for a place.
    int WaitingLookups() const;

    // The pool every source of the process uses.
    static LookupPool& Shared();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// A lookup in the shared pool.
LookupStatus LookUp(const Resolver& resolver, const std::string& host, const std::string& port,
                    const addrinfo& hints, int limitMs, WakeEvent& cancel,
                    std::vector<ResolvedAddress>& addresses);
