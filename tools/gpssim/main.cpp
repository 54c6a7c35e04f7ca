// orvane-gpssim: a simulated GPS receiver on a pseudo-terminal. See UsageText.
#include "tools/gpssim/CycleSource.h"
#include "tools/gpssim/PseudoTerminal.h"
#include "tools/gpssim/SimOptions.h"
#include "tools/gpssim/SimSession.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <random>
#include <unistd.h>

namespace
{

int g_stopPipe[2] = {-1, -1};
// For the fatal-signal handler, which may only call async-signal-safe functions.
char g_linkPath[4096] = {};
char g_linkTarget[4096] = {};

void OnStopSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(g_stopPipe[1], &byte, 1);
    errno = saved;
}

// A crash must not leave the link behind either.
void OnFatalSignal(int signal)
{
    if (g_linkPath[0] != '\0')
    {
        char buffer[sizeof g_linkTarget];
        const ssize_t length = ::readlink(g_linkPath, buffer, sizeof buffer - 1);
        if (length >= 0)
        {
            buffer[length] = '\0';
            if (std::strcmp(buffer, g_linkTarget) == 0)
                ::unlink(g_linkPath);
        }
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

bool InstallSignals()
{
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action
    {
    };
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        if (::sigaction(signal, &action, nullptr) != 0)
            return false;
    action.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &action, nullptr);
    action.sa_handler = OnFatalSignal;
    action.sa_flags = SA_RESETHAND;
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        ::sigaction(signal, &action, nullptr);
    return true;
}

const char* RestartName(RestartKind kind)
{
    switch (kind)
    {
    case RestartKind::Hot:
        return "hot";
    case RestartKind::Warm:
        return "warm";
    case RestartKind::Cold:
        return "cold";
    }
    return "?";
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    SimOptions options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error))
    {
        std::fprintf(stderr, "orvane-gpssim: %s\nTry 'orvane-gpssim --help'.\n", error.c_str());
        return 2;
    }
    if (options.bHelp)
    {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (!InstallSignals())
    {
        std::fprintf(stderr, "orvane-gpssim: cannot install signal handlers: %s\n",
                     std::strerror(errno));
        return 1;
    }

    ReplayLog log;
    if (!options.replayPath.empty() && !log.Load(options.replayPath, error))
    {
        std::fprintf(stderr, "orvane-gpssim: %s\n", error.c_str());
        return 1;
    }

    PseudoTerminal terminal;
    if (!terminal.Open(options.baud, error))
    {
        std::fprintf(stderr, "orvane-gpssim: %s\n", error.c_str());
        return 1;
    }
    DeviceLink link;
    if (!options.linkPath.empty())
    {
        if (options.linkPath.size() >= sizeof g_linkPath ||
            terminal.SlavePath().size() >= sizeof g_linkTarget)
        {
            std::fprintf(stderr, "orvane-gpssim: link path too long\n");
            return 1;
        }
        if (!link.Create(options.linkPath, terminal.SlavePath(), error))
        {
            std::fprintf(stderr, "orvane-gpssim: %s\n", error.c_str());
            return 1;
        }
        std::strcpy(g_linkTarget, terminal.SlavePath().c_str());
        std::strcpy(g_linkPath, options.linkPath.c_str());
    }

    std::unique_ptr<CycleSource> source;
    if (!options.replayPath.empty())
    {
        std::printf("orvane-gpssim: replaying %s (%zu sentences in %zu cycles%s) at %d baud\n",
                    options.replayPath.c_str(), log.LineCount(), log.Cycles().size(),
                    options.bLoop ? ", looping" : "", options.baud);
        source = std::make_unique<ReplaySource>(std::move(log), options.bLoop);
    }
    else
    {
        SimConfig config;
        config.seed = options.seed ? *options.seed : std::random_device{}();
        config.startLatitude = options.startLatitude.value_or(config.startLatitude);
        config.startLongitude = options.startLongitude.value_or(config.startLongitude);
        config.baud = options.baud;
        config.gnss = options.bGnss;
        config.cyclesPerSecond = options.rate;
        config.restartSpeedup = options.bFastRestarts ? kFastRestartSpeedup : 1;
        config.family = options.family;
        config.banner = !options.bNoBanner;
        config.ubx = options.bUbx;
        const std::string family = options.family ? std::string(FamilyName(*options.family)) + " " : "";
        std::printf("orvane-gpssim: simulated %s%sreceiver at %d baud, %d Hz, seed %u, start %.5f,%.5f%s\n",
                    config.gnss ? "multi-constellation " : "", family.c_str(), config.baud, config.cyclesPerSecond,
                    config.seed,
                    config.startLatitude, config.startLongitude,
                    options.bFastRestarts ? ", fast restarts" : "");
        source = std::make_unique<GeneratedSource>(config,
                                                   [] { return std::chrono::system_clock::now(); });
    }
    std::printf("Device: %s\n", terminal.SlavePath().c_str());
    if (!link.Path().empty())
        std::printf("Link:   %s -> %s\n", link.Path().c_str(), terminal.SlavePath().c_str());
    std::printf("In Orvane, type the port %s (or the name %s). Ctrl+C stops.\n",
                terminal.SlavePath().c_str(), PortNameFor(terminal.SlavePath()).c_str());

    SimSession session(terminal.MasterFd(), *source, options.baud);
    session.SetStayAfterHangup(options.bStay);
    session.SetConnectionObserver(
        [](bool bOpen) {
            std::printf(bOpen ? "Port opened by the other side.\n"
                              : "Port closed by the other side.\n");
        });
    session.SetRestartObserver([](RestartKind kind)
                               { std::printf("%s start command received.\n", RestartName(kind)); });
    // A receiver of a family logs all it receives, so that one sees which commands came.
    if (options.family)
        session.SetMessageObserver(
            [](const ReceivedMessage& message, std::string_view answer)
            {
                std::printf("Received: %s%s\n", message.Text().c_str(),
                            message.restart ? "" : answer.empty() ? " (ignored)" : " (answered)");
            });

    const SessionEnd end = session.Run(g_stopPipe[0]);
    link.Remove();
    g_linkPath[0] = '\0';
    switch (end)
    {
    case SessionEnd::Stopped:
        std::printf("Stopped.\n");
        break;
    case SessionEnd::PeerClosed:
        std::printf("The other side went away; stopping.\n");
        break;
    case SessionEnd::Finished:
        std::printf("Replay finished.\n");
        break;
    case SessionEnd::Failed:
        std::fprintf(stderr, "orvane-gpssim: the pseudo-terminal failed: %s\n",
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
