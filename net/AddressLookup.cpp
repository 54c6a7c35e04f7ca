#include "net/AddressLookup.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <poll.h>
#include <system_error>
#include <thread>

namespace
{

// What the lookup thread and the waiting thread share; whichever lets go last frees it, so a
// waiter that gave up leaves nothing dangling.
struct PendingLookup
{
    WakeEvent done;
    std::mutex lock;
    bool bAnswered = false;
    ResolverAnswer answer;
};

} // namespace

ResolverAnswer SystemResolve(const std::string& host, const std::string& port,
                             const addrinfo& hints)
{
    ResolverAnswer answer;
    addrinfo* list = nullptr;
    answer.status =
        ::getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &list);
    if (answer.status != 0)
        return answer;
    for (const addrinfo* a = list; a; a = a->ai_next)
    {
        if (a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        ResolvedAddress address;
        address.family = a->ai_family;
        address.socketType = a->ai_socktype;
        address.protocol = a->ai_protocol;
        std::memcpy(&address.address, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        answer.addresses.push_back(address);
    }
    ::freeaddrinfo(list);
    return answer;
}

LookupStatus LookUp(const Resolver& resolver, const std::string& host, const std::string& port,
                    const addrinfo& hints, int limitMs, WakeEvent& cancel,
                    std::vector<ResolvedAddress>& addresses)
{
    auto pending = std::make_shared<PendingLookup>();
    if (!pending->done.Open())
        return LookupStatus::NotFound;
    try
    {
        // Detached on purpose: joining a lookup that hangs would bring back the wait this is
        // here to bound.
        std::thread(
            [pending, resolver, host, port, hints]
            {
                ResolverAnswer answer;
                try
                {
                    answer = resolver(host, port, hints);
                }
                catch (...)
                {
                    answer.status = EAI_FAIL;
                }
                std::lock_guard guard(pending->lock);
                pending->answer = std::move(answer);
                pending->bAnswered = true;
                pending->done.Signal();
            })
            .detach();
    }
    catch (const std::system_error&)
    {
        return LookupStatus::NotFound;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;)
    {
        pollfd fds[2] = {{pending->done.Fd(), POLLIN, 0}, {cancel.Fd(), POLLIN, 0}};
        const int ready = ::poll(fds, cancel.Fd() >= 0 ? 2 : 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0 && fds[1].revents != 0)
        {
            cancel.Take();
            return LookupStatus::Cancelled;
        }
        break;
    }
    std::lock_guard guard(pending->lock);
    if (!pending->bAnswered)
        return LookupStatus::TimedOut;
    if (pending->answer.status != 0 || pending->answer.addresses.empty())
        return LookupStatus::NotFound;
    addresses = std::move(pending->answer.addresses);
    return LookupStatus::Done;
}
