// Name lookups against a resolver that hangs until the test lets it go: the pool's places bound
// the threads, a lookup without a place times out or is called off, and places come back.
#include "net/AddressLookup.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace
{

// Holds every caller until Release, counting those inside at once.
class Gate
{
public:
    ResolverAnswer Pass()
    {
        std::unique_lock lock(m_mutex);
        ++m_calls;
        ++m_inside;
        m_most = std::max(m_most, m_inside);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_bOpen; });
        --m_inside;
        m_changed.notify_all();
        ResolverAnswer answer;
        answer.status = 0;
        ResolvedAddress address;
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_port = htons(2947);
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::memcpy(&address.address, &in, sizeof in);
        address.family = AF_INET;
        address.length = sizeof in;
        answer.addresses.push_back(address);
        return answer;
    }

    void Release()
    {
        std::lock_guard lock(m_mutex);
        m_bOpen = true;
        m_changed.notify_all();
    }

    // The deadline only keeps a broken build from hanging the suite.
    bool WaitInside(int count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 60s, [&] { return m_inside == count; });
    }

    int Calls()
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    int Most()
    {
        std::lock_guard lock(m_mutex);
        return m_most;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bOpen = false;
    int m_inside = 0;
    int m_most = 0;
    int m_calls = 0;
};

Resolver Through(const std::shared_ptr<Gate>& gate)
{
    return [gate](const std::string&, const std::string&, const addrinfo&) { return gate->Pass(); };
}

int ProcessThreads()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

template <class Condition>
bool EventuallyTrue(Condition condition)
{
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (!condition() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    return condition();
}

struct Lookup
{
    LookupStatus status = LookupStatus::NotFound;
    std::vector<ResolvedAddress> addresses;
};

Lookup LookUpIn(LookupPool& pool, const Resolver& resolver, int limitMs, WakeEvent& cancel)
{
    Lookup lookup;
    lookup.status = pool.LookUp(resolver, "receiver.test", "2947", addrinfo{}, limitMs, cancel, lookup.addresses);
    return lookup;
}

class AddressLookup : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_cancel.Open()); }

    // Nothing hangs past the test: the threads end and the pool's places are all free again.
    void TearDown() override
    {
        m_gate->Release();
        EXPECT_TRUE(EventuallyTrue([&] { return m_pool && m_pool->RunningThreads() == 0; }));
    }

    std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
    std::unique_ptr<LookupPool> m_pool = std::make_unique<LookupPool>(kMaxConcurrentLookups);
    WakeEvent m_cancel;
};

} // namespace

TEST_F(AddressLookup, AHungResolverHoldsNoMoreThreadsThanThePlaces)
{
    // Each caller gives up at once, as a source whose limit passed; its thread stays in the
    // resolver and keeps its place.
    for (int i = 0; i < kMaxConcurrentLookups; ++i)
        EXPECT_EQ(LookUpIn(*m_pool, Through(m_gate), 1, m_cancel).status, LookupStatus::TimedOut);
    ASSERT_TRUE(m_gate->WaitInside(kMaxConcurrentLookups));
    EXPECT_EQ(m_pool->RunningThreads(), kMaxConcurrentLookups);
    const int threads = ProcessThreads();

    // Every lookup after them finds no place within its limit: timed out, and no thread more.
    for (int i = 0; i < 3 * kMaxConcurrentLookups; ++i)
        EXPECT_EQ(LookUpIn(*m_pool, Through(m_gate), 5, m_cancel).status, LookupStatus::TimedOut);
    EXPECT_EQ(m_gate->Calls(), kMaxConcurrentLookups);
    EXPECT_EQ(m_pool->RunningThreads(), kMaxConcurrentLookups);
    EXPECT_EQ(m_pool->WaitingLookups(), 0);
    EXPECT_EQ(ProcessThreads(), threads);

    // Once the resolver answers, the places come back.
    m_gate->Release();
    ASSERT_TRUE(EventuallyTrue([&] { return m_pool->RunningThreads() == 0; }));
    const Lookup next = LookUpIn(*m_pool, Through(m_gate), 60000, m_cancel);
    EXPECT_EQ(next.status, LookupStatus::Done);
    EXPECT_EQ(next.addresses.size(), 1u);
    EXPECT_EQ(m_gate->Most(), kMaxConcurrentLookups);
}

TEST_F(AddressLookup, ManyCallersAtOnceNeverRunMoreThanThePlaces)
{
    constexpr int kCallers = 3 * kMaxConcurrentLookups;
    std::vector<Lookup> results(kCallers);
    std::vector<std::unique_ptr<WakeEvent>> cancels;
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i)
    {
        cancels.push_back(std::make_unique<WakeEvent>());
        ASSERT_TRUE(cancels.back()->Open());
    }
    const auto call = [&](int i) {
        callers.emplace_back([&, i] { results[i] = LookUpIn(*m_pool, Through(m_gate), 120000, *cancels[i]); });
    };
    // The first ones hold the places, the rest wait in line for them.
    for (int i = 0; i < kMaxConcurrentLookups; ++i)
        call(i);
    ASSERT_TRUE(m_gate->WaitInside(kMaxConcurrentLookups));
    for (int i = kMaxConcurrentLookups; i < kCallers; ++i)
        call(i);
    ASSERT_TRUE(EventuallyTrue([&] { return m_pool->WaitingLookups() == kCallers - kMaxConcurrentLookups; }));
    EXPECT_EQ(m_pool->RunningThreads(), kMaxConcurrentLookups);

    // One in line is called off; its place in line goes, and it never reaches the resolver.
    cancels[kCallers - 1]->Signal();
    ASSERT_TRUE(EventuallyTrue([&] { return m_pool->WaitingLookups() == kCallers - kMaxConcurrentLookups - 1; }));

    m_gate->Release();
    for (std::thread& caller : callers)
        caller.join();
    int done = 0;
    int cancelled = 0;
    for (const Lookup& lookup : results)
    {
        done += lookup.status == LookupStatus::Done;
        cancelled += lookup.status == LookupStatus::Cancelled;
    }
    EXPECT_EQ(done, kCallers - 1);
    EXPECT_EQ(cancelled, 1);
    EXPECT_EQ(m_gate->Calls(), kCallers - 1);
    EXPECT_LE(m_gate->Most(), kMaxConcurrentLookups);
}

TEST_F(AddressLookup, ThreadsOutliveThePoolSafely)
{
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(LookUpIn(*m_pool, Through(m_gate), 1, m_cancel).status, LookupStatus::TimedOut);
    ASSERT_TRUE(m_gate->WaitInside(2));
    // The pool goes while its threads wait in the resolver; they end afterwards on their own.
    m_pool.reset();
    m_gate->Release();
    ASSERT_TRUE(m_gate->WaitInside(0));
    m_pool = std::make_unique<LookupPool>(kMaxConcurrentLookups);
}
