#pragma once

#include "io/WakeEvent.h"

#include <netdb.h>
#include <sys/socket.h>

#include <functional>
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

// Runs `resolver` on a thread of its own and waits up to limitMs for its answer, or until
// `cancel` is signalled (the wake-up is taken). getaddrinfo cannot be interrupted: a lookup
// that outlives the wait finishes on its own and its answer is dropped.
LookupStatus LookUp(const Resolver& resolver, const std::string& host, const std::string& port,
                    const addrinfo& hints, int limitMs, WakeEvent& cancel,
                    std::vector<ResolvedAddress>& addresses);
