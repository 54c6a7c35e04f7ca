#include "app/ShutdownSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace
{
constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

int g_sockets[2] = {-1, -1};
volatile sig_atomic_t g_nReceived = 0;
struct sigaction g_previous[kSignals.size()];

extern "C" void OnShutdownSignal(int signal)
{
    // The first asks for the orderly end; a second means the user will not wait for it.
    if (g_nReceived != 0)
        ::_exit(128 + signal);
    g_nReceived = 1;
    const int saved = errno;
    const unsigned char code = static_cast<unsigned char>(signal);
    // Nonblocking: a full socket already holds a wake-up.
    [[maybe_unused]] const ssize_t put = ::write(g_sockets[0], &code, 1);
    errno = saved;
}
} // namespace

CShutdownSignals::CShutdownSignals(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal))
{
    if (g_sockets[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_sockets) != 0)
        return;
    g_nReceived = 0;
    m_pNotifier = std::make_unique<QSocketNotifier>(g_sockets[1], QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });

    struct sigaction action{};
    action.sa_handler = OnShutdownSignal;
    sigemptyset(&action.sa_mask);
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

void CShutdownSignals::OnReadable()
{
    unsigned char code = 0;
    int signal = 0;
    while (::read(g_sockets[1], &code, 1) == 1)
        signal = code;
    if (signal != 0 && m_onSignal)
        m_onSignal(signal);
}
