#include "net/AddressLookup.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <exception>
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

// A lookup in line for a place; the thread that gives a place back hands it over.
struct PlaceWaiter
{
    WakeEvent granted;
    bool bGranted = false; // under the pool's lock
};

// What a lookup thread runs with, dropped before the thread gives its place back.
struct LookupJob
{
    std::shared_ptr<PendingLookup> pending;
    Resolver resolver;
    std::string host;
    std::string port;
    addrinfo hints;
};

enum class WaitEnd
{
    Ready,
    Cancelled,
    TimedOut
};

// Waits for `event` beside `cancel` (taken when it ends the wait) until `deadline`.
WaitEnd WaitForEvent(const WakeEvent& event, WakeEvent& cancel, std::chrono::steady_clock::time_point deadline)
{
    for (;;)
    {
        pollfd fds[2] = {{event.Fd(), POLLIN, 0}, {cancel.Fd(), POLLIN, 0}};
        const int ready = ::poll(fds, cancel.Fd() >= 0 ? 2 : 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0 && cancel.Fd() >= 0 && fds[1].revents != 0)
        {
            cancel.Take();
            return WaitEnd::Cancelled;
        }
        return ready > 0 && fds[0].revents != 0 ? WaitEnd::Ready : WaitEnd::TimedOut;
    }
}

} // namespace

struct LookupPool::State
{
    explicit State(int places) : freePlaces(places) {}

    // A free place at once (true), or a place in line, first come first served.
    bool TakeOrQueue(const std::shared_ptr<PlaceWaiter>& waiter)
    {
        std::lock_guard guard(lock);
        if (freePlaces > 0 && line.empty())
        {
            --freePlaces;
            return true;
        }
        line.push_back(waiter);
        return false;
    }

    // The waiter gave up: true when a place reached it meanwhile, which it now holds.
    bool Withdraw(const std::shared_ptr<PlaceWaiter>& waiter)
    {
        std::lock_guard guard(lock);
        if (waiter->bGranted)
            return true;
        std::erase(line, waiter);
        return false;
    }

    void GiveBack()
    {
        std::lock_guard guard(lock);
        GiveBackLocked();
    }

    void GiveBackLocked()
    {
        if (line.empty())
        {
            ++freePlaces;
            return;
        }
        const std::shared_ptr<PlaceWaiter> next = line.front();
        line.pop_front();
        next->bGranted = true;
        next->granted.Signal();
    }

    void ThreadStarts()
    {
        std::lock_guard guard(lock);
        ++running;
    }

    // The last thing a lookup thread does with the pool.
    void ThreadEnds()
    {
        std::lock_guard guard(lock);
        --running;
        GiveBackLocked();
    }

    mutable std::mutex lock;
    int freePlaces;
    int running = 0;
    std::deque<std::shared_ptr<PlaceWaiter>> line;
};

LookupPool::LookupPool(int places) : m_state(std::make_shared<State>(places > 0 ? places : 1)) {}

LookupPool::~LookupPool() = default;

LookupPool& LookupPool::Shared()
{
    static LookupPool pool;
    return pool;
}

int LookupPool::RunningThreads() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->running;
}

int LookupPool::WaitingLookups() const
{
    std::lock_guard guard(m_state->lock);
    return static_cast<int>(m_state->line.size());
}

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

LookupStatus LookupPool::LookUp(const Resolver& resolver, const std::string& host, const std::string& port,
                                const addrinfo& hints, int limitMs, WakeEvent& cancel,
                                std::vector<ResolvedAddress>& addresses)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    auto pending = std::make_shared<PendingLookup>();
    auto waiter = std::make_shared<PlaceWaiter>();
    if (!pending->done.Open() || !waiter->granted.Open())
        return LookupStatus::NotFound;

    if (!m_state->TakeOrQueue(waiter))
    {
        const WaitEnd end = WaitForEvent(waiter->granted, cancel, deadline);
        if (end != WaitEnd::Ready)
        {
            // A place handed over just as the wait ended goes to the next in line.
            if (m_state->Withdraw(waiter))
                m_state->GiveBack();
            return end == WaitEnd::Cancelled ? LookupStatus::Cancelled : LookupStatus::TimedOut;
        }
    }

    // The place is this lookup's from here; its thread gives it back.
    m_state->ThreadStarts();
    try
    {
        auto job = std::make_unique<LookupJob>(LookupJob{pending, resolver, host, port, hints});
        // Detached on purpose: joining a lookup that hangs would bring back the wait this is
        // here to bound. The thread holds the pool's state and the pending answer itself.
        std::thread(
            [state = m_state, job = std::move(job)]() mutable
            {
                ResolverAnswer answer;
                try
                {
                    answer = job->resolver(job->host, job->port, job->hints);
                }
                catch (...)
                {
                    answer.status = EAI_FAIL;
                }
                {
                    std::lock_guard guard(job->pending->lock);
                    job->pending->answer = std::move(answer);
                    job->pending->bAnswered = true;
                    job->pending->done.Signal();
                }
                job.reset();
                state->ThreadEnds();
            })
            .detach();
    }
    catch (const std::exception&)
    {
        m_state->ThreadEnds();
        return LookupStatus::NotFound;
    }

    switch (WaitForEvent(pending->done, cancel, deadline))
    {
    case WaitEnd::Cancelled:
        return LookupStatus::Cancelled;
    case WaitEnd::Ready:
    case WaitEnd::TimedOut:
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

LookupStatus LookUp(const Resolver& resolver, const std::string& host, const std::string& port,
                    const addrinfo& hints, int limitMs, WakeEvent& cancel,
                    std::vector<ResolvedAddress>& addresses)
{
    return LookupPool::Shared().LookUp(resolver, host, port, hints, limitMs, cancel, addresses);
}
