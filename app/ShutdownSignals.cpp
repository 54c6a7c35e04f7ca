#include "app/ShutdownSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

namespace
{
constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};
// Long enough to be a person asking again rather than one more copy of the same event.
constexpr long long kRepeatAfterNs = 5'000'000'000LL;

int g_sockets[2] = {-1, -1};
// Any thread may take a signal, several at once: only lock-free atomics are safe in the handler.
std::atomic<int> g_nReceived{0};
std::atomic<int> g_nFirstSignal{0};
std::atomic<long long> g_nFirstAtNs{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<long long>::is_always_lock_free);
struct sigaction g_previous[kSignals.size()];

long long MonotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

extern "C" void OnShutdownSignal(int signal)
{
    const int saved = errno;
    const long long now = MonotonicNs();
    const int count = g_nReceived.fetch_add(1) + 1;
    if (count == 1)
    {
        g_nFirstAtNs = now;
        g_nFirstSignal = signal;
        const unsigned char code = static_cast<unsigned char>(signal);
        // Nonblocking: a full socket already holds a wake-up.
        [[maybe_unused]] const ssize_t put = ::write(g_sockets[0], &code, 1);
    }
    else if (count >= 3 || (signal == g_nFirstSignal && now - g_nFirstAtNs >= kRepeatAfterNs))
    {
        // The user will not wait for the orderly end; what is recorded was synced as it came.
        ::_exit(128 + signal);
    }
    errno = saved;
}
} // namespace

CShutdownSignals::CShutdownSignals(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal))
{
    if (g_sockets[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_sockets) != 0)
        return;
    g_nReceived = 0;
    g_nFirstSignal = 0;
    g_nFirstAtNs = 0;
    m_pNotifier = std::make_unique<QSocketNotifier>(g_sockets[1], QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });

    struct sigaction action{};
    action.sa_handler = OnShutdownSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals)
        sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &action, &g_previous[i]);
    m_bInstalled = true;
}

CShutdownSignals::~CShutdownSignals()
{
    if (!m_bInstalled)
        return;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    m_pNotifier.reset();
    ::close(g_sockets[0]);
    ::close(g_sockets[1]);
    g_sockets[0] = g_sockets[1] = -1;
}

int CShutdownSignals::ReceivedCount()
{
    return g_nReceived;
}

void CShutdownSignals::OnReadable()
{
    unsigned char code = 0;
    int signal = 0;
    while (::read(g_sockets[1], &code, 1) == 1)
        signal = code;
    if (signal != 0 && m_onSignal)
        m_onSignal(signal);
}
