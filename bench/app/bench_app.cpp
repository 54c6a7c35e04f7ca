// bench_app: the whole program (real window, real device, real web map) measured offscreen while
// the bench itself plays the receiver on a pseudo-terminal, at a pace it controls. It prints
// figures and asserts nothing.
//
// Build:  cmake --build build/<dir> --target bench_app -j2   (a Release or RelWithDebInfo build,
//         no sanitizers; needs ORVANE_GUI)
// Run:    export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
//         export QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
//         build/<dir>/bench/app/bench_app cpu [BAUD=115200] [WINDOW_S=20] [WARMUP_S=5] [setup|terminal]
//             CPU use of this process (the web engine's in-process threads included) and of the
//             web engine's helper processes, first idle while connected, then with sentences
//             streamed continuously at BAUD/10 bytes per second, with the setup tab (a first
//             run's) or the terminal tab shown under the panel.
//         build/<dir>/bench/app/bench_app latency [EPOCHS=100] [PERIOD_MS=1000] [BAUD=115200]
//                                              [paced|trickle|burst]
//             Time from a fix epoch's last sentence (its LF written to the pseudo-terminal) to
//             the end of the first paint of the status panel after the terminal holds that
//             sentence, and the panel's paints per epoch. The capture is sent as a receiver
//             sends it: whole epochs (runs of one UTC time, grouped by the program's epoch
//             detector), one every PERIOD_MS (100 for 10 Hz), each sentence written whole when a
//             BAUD line would have delivered its LF (paced), or its bytes written as that line
//             delivers them (trickle: the reader then meets the partial reads it gathers after),
//             or an epoch's sentences back to back (burst). The program opens the port at BAUD,
//             which sets how long its reader gathers bytes after a short read.
//         build/<dir>/bench/app/bench_app latency-udp [EPOCHS=100] [PERIOD_MS=1000] [BAUD=115200] [paced|burst]
//             The same from datagrams sent to a udp:// source on 127.0.0.1 (one sentence a
//             datagram, as a boat's multiplexer forwards them from its receiver's BAUD line).
//         build/<dir>/bench/app/bench_app memory [LINES=36000]
//             Resident memory after start-up, after the map's page loaded, and after LINES
//             sentences (an hour at 10 a second, compressed: sent as fast as the window keeps up),
//             with a check that the terminal received every one.
//         build/<dir>/bench/app/bench_app hotplug [COUNT=20]
//             Time from a receiver's link appearing in the published-ports folder to its entry
//             in the setup form's port list, and from its removal to the entry's going.
//         build/<dir>/bench/app/bench_app play [SECONDS=3600]
//             A log of SECONDS epochs (the capture repeated, one GGA an epoch) played with File >
//             Open Log at Max, as fast as the window follows: time from the open to the terminal
//             showing the log's end, and CPU use meanwhile.
//         Each run takes under two minutes (the latency modes at 1 Hz about that). Sentences
//         are those of a real capture (ORVANE_CORPUS_DIR/haicom-305N.nmea, or the file in
//         ORVANE_BENCH_NMEA), repeated.
//         Settings, window state and the web engine's storage go to a throw-away folder, so
//         every run is a first run.
#include "app/OrvaneApp.h"
#include "framework/core/MessageBox.h"
#include "gps/EpochDetector.h"
#include "gps/NmeaDecoders.h"
#include "recording/OrvaneDoc.h"
#include "serial/CustomBaudRate.h"
#include "serial/SerialPort.h"
#include "ui/LogCtrl.h"
#include "ui/MainFrame.h"
#include "ui/MapView.h"
#include "ui/OrvaneView.h"
#include "ui/PanelGeometry.h"
#include "ui/SetupView.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QPaintEvent>
#include <QTabWidget>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{
// ---- sentences ------------------------------------------------------------------------------

bool ChecksumValid(const std::string& line)
{
    // "$...*HH\r\n"
    if (line.size() < 6 || line[0] != '$')
        return false;
    const auto star = line.rfind('*');
    if (star == std::string::npos || star + 5 != line.size())
        return false;
    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i)
        sum ^= static_cast<unsigned char>(line[i]);
    return std::strtoul(line.substr(star + 1, 2).c_str(), nullptr, 16) == sum;
}

// The capture's sentences with a valid checksum, CR LF ended; comment lines skipped.
std::vector<std::string> LoadSentences()
{
    const char* chosen = std::getenv("ORVANE_BENCH_NMEA");
    const fs::path path = chosen ? fs::path(chosen) : fs::path(ORVANE_CORPUS_DIR) / "haicom-305N.nmea";
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> sentences;
    std::string line;
    while (std::getline(in, line))
    {
        if (line.empty() || line[0] == '#')
            continue;
        if (line.back() != '\r')
            line += '\r';
        line += '\n';
        if (ChecksumValid(line))
            sentences.push_back(line);
    }
    return sentences;
}

// The sentences of one fix epoch each, in the capture's order.
using Epochs = std::vector<std::vector<std::string>>;

// The capture's sentences in fix epochs, as the program's epoch detector finds them: runs that
// share one UTC time of day, a sentence without a time joining the epoch under way. Those
// before the capture's first time join its last epoch, which they follow when it repeats.
Epochs GroupEpochs(const std::vector<std::string>& sentences)
{
    Epochs epochs;
    EpochDetector detector;
    GpsData gps{};
    GpsData ended{};
    bool untimedStart = false;
    for (const std::string& line : sentences)
    {
        DecodeSentence(line, gps);
        if (detector.Feed(gps, ended) || epochs.empty())
            epochs.emplace_back();
        epochs.back().push_back(line);
        if (epochs.size() == 1)
            untimedStart = (gps.decode.known & kKnownTime) == 0;
    }
    if (untimedStart && epochs.size() > 1)
    {
        epochs.back().insert(epochs.back().end(), epochs.front().begin(), epochs.front().end());
        epochs.erase(epochs.begin());
    }
    return epochs;
}

// ---- process figures ------------------------------------------------------------------------

double ProcessCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ThreadCpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A "Key:   1234 kB" field of a /proc status-like file, in kB; -1 when absent.
long KbField(const std::string& text, const std::string& key)
{
    const auto at = text.find(key + ":");
    if (at == std::string::npos)
        return -1;
    return std::strtol(text.c_str() + at + key.size() + 1, nullptr, 10);
}

struct ProcInfo
{
    int pid = 0;
    int ppid = 0;
    double cpuSeconds = 0; // user + system
    std::string kind;      // the web engine's --type=, or the command name
};

bool ReadProc(int pid, ProcInfo& info)
{
    const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    std::vector<std::string> values;
    while (fields >> field)
        values.push_back(field);
    // After the name: state(3) ppid(4) ... utime(14) stime(15).
    if (values.size() < 13)
        return false;
    static const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    info.pid = pid;
    info.ppid = std::atoi(values[1].c_str());
    info.cpuSeconds = (std::atof(values[11].c_str()) + std::atof(values[12].c_str())) / ticks;
    std::string cmdline = ReadText("/proc/" + std::to_string(pid) + "/cmdline");
    std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
    const auto type = cmdline.find("--type=");
    if (type != std::string::npos)
        info.kind = cmdline.substr(type + 7, cmdline.find(' ', type) - type - 7);
    else
        info.kind = stat.substr(stat.find('(') + 1, close - stat.find('(') - 1);
    return true;
}

// Every process below this one (the web engine's zygote, renderer, utility processes...).
std::map<int, ProcInfo> Descendants()
{
    std::map<int, ProcInfo> all;
    for (const auto& entry : fs::directory_iterator("/proc"))
    {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit))
            continue;
        ProcInfo info;
        if (ReadProc(std::atoi(name.c_str()), info))
            all[info.pid] = info;
    }
    std::map<int, ProcInfo> below;
    std::vector<int> parents{::getpid()};
    while (!parents.empty())
    {
        const int parent = parents.back();
        parents.pop_back();
        for (const auto& [pid, info] : all)
            if (info.ppid == parent && !below.count(pid))
            {
                below[pid] = info;
                parents.push_back(pid);
            }
    }
    // Chromium's zygote forks the renderers, which keep the zygote's command line.
    for (auto& [pid, info] : below)
        if (auto parent = below.find(info.ppid); parent != below.end() && parent->second.kind == "zygote" &&
                                                 info.kind == "zygote")
            info.kind = "renderer";
    return below;
}

double ChildrenCpuSeconds(const std::map<int, ProcInfo>& children)
{
    double total = 0;
    for (const auto& [pid, info] : children)
        total += info.cpuSeconds;
    return total;
}

void PrintMemory(const char* when)
{
    const std::string self = ReadText("/proc/self/status");
    const long selfPss = KbField(ReadText("/proc/self/smaps_rollup"), "Pss");
    std::printf("%-34s orvane: VmRSS %6.1f MiB (PSS %6.1f, VmHWM %6.1f)\n", when, KbField(self, "VmRSS") / 1024.0,
                selfPss / 1024.0, KbField(self, "VmHWM") / 1024.0);
    long rss = 0, pss = 0;
    for (const auto& [pid, info] : Descendants())
    {
        const std::string dir = "/proc/" + std::to_string(pid);
        const long r = KbField(ReadText(dir + "/status"), "VmRSS");
        const long p = KbField(ReadText(dir + "/smaps_rollup"), "Pss");
        std::printf("%-34s   pid %-7d (parent %-7d) %-16s VmRSS %6.1f MiB (PSS %6.1f)\n", "", pid, info.ppid, info.kind.c_str(), r / 1024.0,
                    p / 1024.0);
        rss += std::max(0L, r);
        pss += std::max(0L, p);
    }
    std::printf("%-34s   helper processes together: VmRSS %6.1f MiB (PSS %6.1f; RSS counts shared pages "
                "in each)\n",
                "", rss / 1024.0, pss / 1024.0);
    std::fflush(stdout);
}

double LoadAverage()
{
    double one = 0;
    std::istringstream(ReadText("/proc/loadavg")) >> one;
    return one;
}

// ---- the receiver's side ------------------------------------------------------------------

class Pty
{
public:
    bool Open()
    {
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
            return false;
        // Raw until the program configures it: no echo filling the master's input unread.
        termios tio{};
        ::tcgetattr(m_slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
        char name[128] = {};
        if (::ttyname_r(m_slave, name, sizeof name) != 0)
            return false;
        m_path = name;
        return true;
    }
    // Whole sentence, blocking: the pseudo-terminal's buffer holds back a writer that is ahead.
    bool Write(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size())
        {
            const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n < 0)
            {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    const std::string& Path() const { return m_path; }
    // The rate the program set on its side: both sides share one set of terminal settings.
    int Baud() const { return GetActualBaudRate(m_slave); }
    ~Pty()
    {
        // The slave stays open until here so the program's port never sees a hang-up.
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

// A multiplexer on 127.0.0.1 that sends each sentence as one datagram to the port it picked.
class UdpLink
{
public:
    UdpLink() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        // A port nothing is bound to: the kernel's choice for a socket bound a moment ago.
        sockaddr_in address = Address(0);
        socklen_t length = sizeof address;
        const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
        ::close(probe);
    }
    ~UdpLink() { ::close(m_fd); }
    std::wstring Source() const { return L"udp://127.0.0.1:" + std::to_wstring(m_port); }
    bool Write(const std::string& datagram)
    {
        const sockaddr_in address = Address(m_port);
        return ::sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                        sizeof address) == static_cast<ssize_t>(datagram.size());
    }

private:
    static sockaddr_in Address(std::uint16_t port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    int m_fd;
    std::uint16_t m_port = 0;
};

// ---- the program's side -------------------------------------------------------------------

class BenchApp : public COrvaneApp
{
public:
    explicit BenchApp(fs::path config) : m_config(std::move(config)) {}

protected:
    std::wstring MakeConfigPath() const override { return m_config.wstring(); }

private:
    fs::path m_config;
};

// Runs the real event loop (no busy polling, which would show as CPU use) for `ms`.
void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds (checked every `pollMs`) or `ms` have passed.
bool RunUntil(const std::function<bool()>& done, int ms, int pollMs = 10)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    poll.start(pollMs);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

// Passes every event of the watched object to `filter` first; true means it was handled there.
class EventHook : public QObject
{
public:
    std::function<bool(QObject*, QEvent*)> filter;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override { return filter && filter(watched, event); }
};

struct Session
{
    CMainFrame* frame = nullptr;
    COrvaneView* view = nullptr;
    COrvaneDoc* doc = nullptr;
};

std::size_t TerminalLines(const Session& s)
{
    return s.view->GetLogCtrl().GetLines().size();
}

bool Connect(const Session& s, const std::wstring& portName, int baud)
{
    s.frame->SetPortName(portName);
    s.frame->SetBaudRate(baud);
    s.view->GetConnectButton().click();
    RunFor(200);
    return s.doc->m_bConnected != 0;
}

// Paces sentences for a given byte rate: each one's LF goes out when a wire at that rate would
// have delivered it.
void Stream(Pty& pty, const std::vector<std::string>& sentences, int bytesPerSecond, Clock::time_point until,
            std::atomic<double>& writerCpu)
{
    const Clock::time_point start = Clock::now();
    double bytes = 0;
    for (std::size_t i = 0; Clock::now() < until; ++i)
    {
        const std::string& s = sentences[i % sentences.size()];
        bytes += static_cast<double>(s.size());
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(bytes / bytesPerSecond)));
        if (!pty.Write(s))
            break;
        writerCpu = ThreadCpuSeconds();
    }
}

// ---- the figures ---------------------------------------------------------------------------

struct CpuSample
{
    Clock::time_point wall;
    double self = 0;
    double writer = 0;
    std::map<int, ProcInfo> children;
};

CpuSample SampleCpu(const std::atomic<double>& writerCpu)
{
    return {Clock::now(), ProcessCpuSeconds(), writerCpu.load(), Descendants()};
}

void PrintCpu(const char* what, const CpuSample& a, const CpuSample& b)
{
    const double wall = std::chrono::duration<double>(b.wall - a.wall).count();
    const double self = b.self - a.self;
    const double writer = b.writer - a.writer;
    // Helpers that came or went during the window count with what they used inside it.
    double children = ChildrenCpuSeconds(b.children);
    for (const auto& [pid, info] : b.children)
        if (auto before = a.children.find(pid); before != a.children.end())
            children -= before->second.cpuSeconds;
    std::printf("%-26s over %5.1f s wall: orvane %5.1f %% of a core (bench writer thread %4.2f %% of that "
                "excluded; %5.1f %% with it), web engine helper processes %5.1f %%\n",
                what, wall, 100 * (self - writer) / wall, 100 * writer / wall, 100 * self / wall,
                100 * children / wall);
    for (const auto& [pid, info] : b.children)
    {
        const auto before = a.children.find(pid);
        const double used = info.cpuSeconds - (before != a.children.end() ? before->second.cpuSeconds : 0);
        std::printf("%-26s   pid %-7d (parent %-7d) %-16s %5.1f %%\n", "", pid, info.ppid, info.kind.c_str(),
                    100 * used / wall);
    }
    std::fflush(stdout);
}

int RunCpu(const Session& s, Pty& pty, const std::vector<std::string>& sentences, int baud, int windowS, int warmupS,
           bool terminalTab)
{
    // A first run shows the setup tab; the terminal tab also paints every line.
    if (terminalTab)
        s.view->GetTabs()->setCurrentIndex(1);
    std::printf("tab shown under the panel: %s\n", terminalTab ? "Terminal" : "Setup");
    int mapLoads = 0;
    QObject::connect(s.view->GetMapView(), &QWebEngineView::loadStarted, [&] { ++mapLoads; });
    if (!Connect(s, QString::fromStdString(pty.Path()).toStdWString(), baud))
        return 1;
    std::atomic<double> writerCpu{0};
    RunFor(2000);
    CpuSample idle0 = SampleCpu(writerCpu);
    RunFor(windowS * 500);
    PrintCpu("connected, no data", idle0, SampleCpu(writerCpu));

    const auto end = Clock::now() + std::chrono::seconds(warmupS + windowS) + std::chrono::milliseconds(300);
    std::thread writer([&] { Stream(pty, sentences, baud / 10, end, writerCpu); });
    RunFor(warmupS * 1000);
    const std::size_t lines0 = TerminalLines(s);
    const CpuSample a = SampleCpu(writerCpu);
    const int loads0 = mapLoads;
    RunFor(windowS * 1000);
    const int loads = mapLoads - loads0;
    const CpuSample b = SampleCpu(writerCpu);
    const std::size_t lines1 = TerminalLines(s);
    writer.join();
    char what[64];
    std::snprintf(what, sizeof what, "streaming at %d baud", baud);
    PrintCpu(what, a, b);
    std::printf("%-26s   %.1f sentences/s reached the terminal (%zu lines shown at the end)\n", "",
                (lines1 - std::min(lines1, lines0)) / std::chrono::duration<double>(b.wall - a.wall).count(), lines1);
    std::printf("%-26s   the map reloaded its page %d times in the window (%d since connecting)\n", "", loads,
                mapLoads);
    return 0;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(values.size() - 1, static_cast<std::size_t>(p * (values.size() - 1) + 0.5));
    return values[at];
}

// How the receiver's side sends its epochs.
struct EpochPacing
{
    enum class Spacing
    {
        Paced,   // each sentence whole when a line at the baud would have delivered its LF
        Trickle, // each sentence's bytes as that line delivers them, in pieces of about 1 ms
        Burst,   // an epoch's sentences back to back, as fast as they are taken
    };
    int periodMs = 1000; // one epoch begins every period
    int baud = 115200;   // the line's rate
    Spacing spacing = Spacing::Paced;
};

const char* SpacingName(EpochPacing::Spacing spacing)
{
    switch (spacing)
    {
    case EpochPacing::Spacing::Trickle:
        return "trickle";
    case EpochPacing::Spacing::Burst:
        return "burst";
    default:
        return "paced";
    }
}

// Writes epochs first .. first + n - 1 of the capture (repeated), one every period, spaced as
// `pacing` says; an epoch the line has not finished when the next is due delays that one, as on
// a real line. `begun` and `last` get when each epoch's first byte and its last sentence's LF
// were written. Returns the epochs written whole.
template <class Link>
std::size_t SendEpochs(Link& link, const Epochs& epochs, std::size_t first, std::size_t n, const EpochPacing& pacing,
                       std::vector<Clock::time_point>& begun, std::vector<Clock::time_point>& last)
{
    using Spacing = EpochPacing::Spacing;
    const auto atBaud = [&](std::size_t bytes) {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(bytes) * 10.0 / pacing.baud));
    };
    // About a millisecond of the line a write, at least a byte.
    const std::size_t piece =
        pacing.spacing == Spacing::Trickle ? std::max(1, pacing.baud / 10 / 1000) : std::string::npos;
    const auto start = Clock::now();
    auto wire = start; // when the line has delivered all written so far
    for (std::size_t i = 0; i < n; ++i)
    {
        wire = std::max(wire, start + std::chrono::milliseconds(static_cast<long long>(i) * pacing.periodMs));
        const std::vector<std::string>& epoch = epochs[(first + i) % epochs.size()];
        for (std::size_t k = 0; k < epoch.size(); ++k)
            for (std::size_t at = 0; at < epoch[k].size(); at += piece)
            {
                const std::string bytes = epoch[k].substr(at, piece);
                if (pacing.spacing != Spacing::Burst)
                    wire += atBaud(bytes.size());
                std::this_thread::sleep_until(wire);
                const auto now = Clock::now();
                if (k == 0 && at == 0)
                    begun[i] = now;
                last[i] = now;
                if (!link.Write(bytes))
                    return i;
            }
    }
    return n;
}

// Sentences the terminal holds, counted on from the lines looked at before: it also shows lines
// of its own (the time to the first fix, "Connecting…"). Only while its ring has not wrapped.
class HeldSentences
{
public:
    std::size_t Count(const CLogCtrl& terminal)
    {
        for (const std::size_t lines = terminal.GetLineCount(); m_examined < lines; ++m_examined)
        {
            const std::wstring& text = terminal.GetLine(m_examined).text;
            m_count += !text.empty() && text[0] == L'$';
        }
        return m_count;
    }

private:
    std::size_t m_examined = 0;
    std::size_t m_count = 0;
};

// The program's side of the link, as it reads it: the baud it set and so its reader's pause.
std::string ReaderNote(const Pty& pty, int baud)
{
    const int actual = pty.Baud();
    const GatherPause pause(actual);
    char note[256];
    std::snprintf(note, sizeof note,
                  "the program set its port to %d baud%s; after a read of under %zu bytes its reader lets more "
                  "arrive for %.1f ms (%.1f ms while lines flood)",
                  actual, actual == baud ? "" : " (NOT the rate asked for!)", GatherPause::kGatherBytes,
                  pause.BaseUs() / 1000.0, pause.FloodUs() / 1000.0);
    return note;
}

std::string ReaderNote(const UdpLink& udp, int)
{
    return "the program listens on " + QString::fromStdWString(udp.Source()).toStdString() +
           ": each datagram read as it comes, nothing gathered";
}

// `link` is the receiver's side: a Pty or a UdpLink, the program already connected to it.
template <class Link>
int RunLatency(const Session& s, Link& link, const Epochs& epochs, int count, const EpochPacing& pacing)
{
    const CLogCtrl& terminal = s.view->GetLogCtrl();
    HeldSentences held;
    std::size_t smallest = epochs.front().size(), largest = 0, bytes = 0, lines = 0;
    for (const auto& epoch : epochs)
    {
        smallest = std::min(smallest, epoch.size());
        largest = std::max(largest, epoch.size());
        lines += epoch.size();
        for (const std::string& sentence : epoch)
            bytes += sentence.size();
    }
    std::printf("the capture's %zu sentences make %zu epochs of %zu to %zu sentences (%.0f bytes on average)\n",
                lines, epochs.size(), smallest, largest, static_cast<double>(bytes) / epochs.size());

    // Warm-up: a few seconds' epochs (the default capture's first fix and the map's first
    // centring among them).
    const std::size_t warmup = std::max<std::size_t>(8, 3000 / pacing.periodMs);
    std::size_t warmupLines = 0;
    for (std::size_t i = 0; i < warmup; ++i)
        warmupLines += epochs[i % epochs.size()].size();
    {
        std::vector<Clock::time_point> begun(warmup), last(warmup);
        std::thread writer([&] { SendEpochs(link, epochs, 0, warmup, pacing, begun, last); });
        const bool warmed = RunUntil([&] { return held.Count(terminal) >= warmupLines; },
                                     static_cast<int>(warmup) * pacing.periodMs + 15000);
        writer.join();
        if (!warmed)
        {
            std::fprintf(stderr, "bench_app: the warm-up epochs did not reach the terminal\n");
            return 1;
        }
    }
    RunFor(1000);
    const std::size_t base = held.Count(terminal);
    const std::string reader = ReaderNote(link, pacing.baud);

    // As many epochs as the terminal holds without dropping a line: past that, lines held no
    // longer tell which sentence came.
    std::vector<std::size_t> lastLine; // sentences held, counted from base, once epoch i is
    for (std::size_t i = 0, total = 0; i < static_cast<std::size_t>(count); ++i)
    {
        total += epochs[(warmup + i) % epochs.size()].size();
        if (terminal.GetLineCount() + total + 100 > CLogCtrl::kMaxLines)
            break;
        lastLine.push_back(total);
    }
    const std::size_t n = lastLine.size();
    std::size_t measuredBytes = 0;
    for (std::size_t i = 0; i < n; ++i)
        for (const std::string& sentence : epochs[(warmup + i) % epochs.size()])
            measuredBytes += sentence.size();

    std::vector<Clock::time_point> begun(n), written(n), paintStart(n), paintEnd(n);
    std::vector<bool> shown(n, false);
    std::size_t nextUnshown = 0;
    std::vector<Clock::time_point> panelPaints;
    std::vector<double> paintMs;
    EventHook hook;
    // The view also fills the margins around the map, which repaints often; only paints that
    // reach the panel's box draw the panel.
    const QRect panelBox(0, 0, panel::kWidth, panel::kRepaintHeight);
    hook.filter = [&](QObject* watched, QEvent* event) {
        if (event->type() != QEvent::Paint || !static_cast<QPaintEvent*>(event)->region().intersects(panelBox))
            return false;
        const Clock::time_point start = Clock::now();
        const std::size_t sentences = held.Count(terminal) - base;
        // Deliver it here, so that the paint's end can be timed too.
        watched->event(event);
        const Clock::time_point end = Clock::now();
        panelPaints.push_back(start);
        paintMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        while (nextUnshown < n && lastLine[nextUnshown] <= sentences)
        {
            paintStart[nextUnshown] = start;
            paintEnd[nextUnshown] = end;
            shown[nextUnshown++] = true;
        }
        return true;
    };
    s.view->installEventFilter(&hook);

    std::size_t sent = 0;
    std::thread writer([&] { sent = SendEpochs(link, epochs, warmup, n, pacing, begun, written); });
    const int wireMs = static_cast<int>(measuredBytes * 10000.0 / pacing.baud);
    const bool all = RunUntil([&] { return nextUnshown >= n; },
                              static_cast<int>(n) * pacing.periodMs + wireMs + 15000);
    writer.join();
    s.view->removeEventFilter(&hook);

    std::vector<double> toEnd, toStart;
    for (std::size_t i = 0; i < std::min(n, sent); ++i)
        if (shown[i])
        {
            toEnd.push_back(std::chrono::duration<double, std::milli>(paintEnd[i] - written[i]).count());
            toStart.push_back(std::chrono::duration<double, std::milli>(paintStart[i] - written[i]).count());
        }
    // The panel's paints that began within each period: from one epoch's first sentence to the
    // next one's (the last epoch's period is cut short by the end of the run, so left out).
    std::vector<double> perEpoch(sent > 1 ? sent - 1 : 0, 0.0);
    for (const Clock::time_point& paint : panelPaints)
    {
        const auto after = std::upper_bound(begun.begin(), begun.begin() + static_cast<long>(sent), paint);
        const auto period = after - begun.begin() - 1;
        if (period >= 0 && static_cast<std::size_t>(period) < perEpoch.size())
            ++perEpoch[static_cast<std::size_t>(period)];
    }
    double paintsInPeriods = 0;
    for (double paints : perEpoch)
        paintsInPeriods += paints;

    std::printf("latency, a fix epoch's last sentence (its LF written) -> panel painted, %zu of %zu epochs%s:\n",
                toEnd.size(), n, all ? "" : " (some never shown!)");
    if (pacing.spacing == EpochPacing::Spacing::Burst)
        std::printf("  one epoch every %d ms, its sentences written back to back (burst)\n", pacing.periodMs);
    else if (pacing.spacing == EpochPacing::Spacing::Trickle)
        std::printf("  one epoch every %d ms, its bytes written as a %d baud line delivers them, 10 bits a byte, in "
                    "pieces of about 1 ms (trickle)\n",
                    pacing.periodMs, pacing.baud);
    else
        std::printf("  one epoch every %d ms, each sentence written whole when a %d baud line would have delivered "
                    "its LF, 10 bits a byte (paced)\n",
                    pacing.periodMs, pacing.baud);
    std::printf("  %s\n", reader.c_str());
    std::printf("  to the end of the paint:   median %6.2f ms, 99th percentile %6.2f ms, max %6.2f ms (goal: 99th "
                "percentile <= 16.7 ms)\n",
                Percentile(toEnd, 0.5), Percentile(toEnd, 0.99), Percentile(toEnd, 1.0));
    std::printf("  to the start of the paint: median %6.2f ms, 99th percentile %6.2f ms\n", Percentile(toStart, 0.5),
                Percentile(toStart, 0.99));
    std::printf("  the panel's paints per epoch: %.2f on average, %.0f to %.0f (over the %zu periods between "
                "epochs' first sentences)\n",
                perEpoch.empty() ? 0.0 : paintsInPeriods / perEpoch.size(), Percentile(perEpoch, 0.0),
                Percentile(perEpoch, 1.0), perEpoch.size());
    std::printf("  the paint itself (%zu paints): median %6.2f ms, 99th percentile %6.2f ms\n", paintMs.size(),
                Percentile(paintMs, 0.5), Percentile(paintMs, 0.99));
    std::fflush(stdout);
    return all && sent == n ? 0 : 1;
}

int RunMemory(const Session& s, Pty& pty, const std::vector<std::string>& sentences, int total)
{
    int mapLoads = 0;
    QObject::connect(s.view->GetMapView(), &QWebEngineView::loadStarted, [&] { ++mapLoads; });
    if (!Connect(s, QString::fromStdString(pty.Path()).toStdWString(), 115200))
        return 1;
    // The writer stays a bounded distance ahead of the reader; the window drains what the reader
    // queued, as many lines an update as have come.
    std::atomic<long> queued{0};
    boost::signals2::scoped_connection counting = s.frame->GetDevice().ConnectNotification([&](int) { ++queued; });

    const long ahead = 500;
    const auto start = Clock::now();
    std::thread writer([&] {
        for (long i = 0; i < total; ++i)
        {
            while (i - queued.load() > ahead)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (!pty.Write(sentences[i % sentences.size()]))
                break;
        }
    });
    const std::string last = sentences[(total - 1) % sentences.size()];
    auto lastShown = [&] {
        const auto& lines = s.view->GetLogCtrl().GetLines();
        return queued.load() >= total && !s.frame->IsUpdatePending() && !lines.empty() &&
               lines.back().text == QString::fromStdString(last).toStdWString();
    };
    const bool done = RunUntil(lastShown, 110000, 20);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();

    // Every line accounted for: the reader queued all of them, and the terminal holds exactly the
    // newest ones in order.
    const auto& lines = s.view->GetLogCtrl().GetLines();
    bool exact = done && lines.size() == std::min<std::size_t>(CLogCtrl::kMaxLines, total);
    for (std::size_t k = 0; exact && k < lines.size(); ++k)
    {
        const std::size_t sent = total - lines.size() + k;
        exact = lines[k].text == QString::fromStdString(sentences[sent % sentences.size()]).toStdWString();
    }
    std::printf("%d sentences (an hour at 10 a second, compressed) sent in %.1f s (%.0f a second); reader queued "
                "%ld; terminal holds %zu lines, %s\n",
                total, seconds, total / seconds, queued.load(), lines.size(),
                exact ? "exactly the newest ones sent, in order: none lost" : "NOT the newest ones sent: LOSS");
    std::printf("the map reloaded its page %d times meanwhile (the capture replayed in a loop jumps back to its "
                "start)\n",
                mapLoads);
    RunFor(3000);
    PrintMemory("after the hour (terminal full):");
    return exact ? 0 : 1;
}

// From a receiver's link appearing in the published-ports folder (as the simulator makes it) to
// its entry in the setup form's port list, and from its removal to the entry's going.
int RunHotplug(const Session& s, const fs::path& ports, int count)
{
    std::error_code ec;
    fs::create_directories(ports, ec);
    QComboBox* list = s.view->GetSetupView()->m_cbPort;
    std::vector<double> appear, vanish;
    for (int i = 0; i < count; ++i)
    {
        Pty device;
        if (!device.Open())
            return 1;
        const std::string name = "bench-receiver-" + std::to_string(i);
        const auto listed = [&] { return list->findText(QString::fromStdString(name), Qt::MatchContains) >= 0; };
        auto start = Clock::now();
        fs::create_symlink(device.Path(), ports / name, ec);
        if (ec || !RunUntil(listed, 10000, 1))
            return 1;
        appear.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        RunFor(200);
        start = Clock::now();
        fs::remove(ports / name, ec);
        if (!RunUntil([&] { return !listed(); }, 10000, 1))
            return 1;
        vanish.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        RunFor(200);
    }
    std::printf("hot-plug, %d links made and removed in %s:\n", count, ports.c_str());
    std::printf("  link made -> listed:     median %6.2f ms, max %6.2f ms\n", Percentile(appear, 0.5),
                Percentile(appear, 1.0));
    std::printf("  link removed -> unlisted: median %6.2f ms, max %6.2f ms\n", Percentile(vanish, 0.5),
                Percentile(vanish, 1.0));
    return 0;
}

// A log of `seconds` epochs played at Max through the whole window.
int RunPlay(const Session& s, const fs::path& folder, const std::vector<std::string>& sentences, int seconds)
{
    const fs::path log = folder / "hour.nmea";
    long lines = 0;
    {
        std::ofstream out(log, std::ios::binary);
        for (int epochs = 0; epochs < seconds; ++lines)
        {
            const std::string& line = sentences[static_cast<std::size_t>(lines) % sentences.size()];
            epochs += line.find("GGA,") != std::string::npos;
            out << line;
        }
    }
    const std::string last = sentences[static_cast<std::size_t>(lines - 1) % sentences.size()];
    const double cpuBefore = ProcessCpuSeconds();
    const auto start = Clock::now();
    if (!s.frame->OpenLog(log.wstring()))
        return 1;
    s.frame->GetPlayer()->SetSpeed(LogPlayer::kMaxSpeed);
    const auto ended = [&] {
        const auto& shown = s.view->GetLogCtrl().GetLines();
        return s.frame->GetPlayer()->IsAtEnd() && !s.frame->IsUpdatePending() &&
               s.frame->GetDevice().QueuedLineCount() == 0 && shown.size() >= 2 &&
               shown[shown.size() - 2].text == QString::fromStdString(last).toStdWString();
    };
    const bool done = RunUntil(ended, 110000, 5);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    std::printf("log of %d epochs, %ld sentences, %ju bytes played at Max: %s in %.2f s (%.0f sentences, %.0f "
                "epochs a second; %.0fx the log's pace), this process's CPU %.2f s\n",
                seconds, lines, static_cast<std::uintmax_t>(fs::file_size(log)),
                done ? "shown to its end" : "NOT ended", wall, lines / wall, seconds / wall, seconds / wall, cpu);
    return done ? 0 : 1;
}

void Usage()
{
    std::fprintf(stderr, "usage: bench_app cpu [BAUD [WINDOW_S [WARMUP_S [setup|terminal]]]] | "
                         "latency [EPOCHS [PERIOD_MS [BAUD [paced|trickle|burst]]]] | latency-udp [EPOCHS [PERIOD_MS [BAUD "
                         "[paced|burst]]]] | memory [LINES] | hotplug [COUNT] | "
                         "play [SECONDS]\n");
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        Usage();
        return 2;
    }
    const std::string mode = argv[1];
    auto arg = [&](int i, int fallback) { return argc > i ? std::atoi(argv[i]) : fallback; };
    if (mode != "cpu" && mode != "latency" && mode != "latency-udp" && mode != "memory" && mode != "hotplug" &&
        mode != "play")
    {
        Usage();
        return 2;
    }
    const std::vector<std::string> sentences = LoadSentences();
    if (sentences.empty())
    {
        std::fprintf(stderr, "bench_app: no sentences in the capture\n");
        return 1;
    }
    const bool latency = mode == "latency" || mode == "latency-udp";
    EpochPacing pacing{arg(3, 1000), arg(4, 115200)};
    const std::string spacing = argc > 5 ? argv[5] : SpacingName(pacing.spacing);
    for (auto named : {EpochPacing::Spacing::Paced, EpochPacing::Spacing::Trickle, EpochPacing::Spacing::Burst})
        if (spacing == SpacingName(named))
            pacing.spacing = named;
    // Datagrams carry whole sentences.
    if (latency && (arg(2, 100) <= 0 || pacing.periodMs <= 0 || pacing.baud <= 0 ||
                    spacing != SpacingName(pacing.spacing) ||
                    (mode == "latency-udp" && pacing.spacing == EpochPacing::Spacing::Trickle)))
    {
        Usage();
        return 2;
    }
    const Epochs epochs = latency ? GroupEpochs(sentences) : Epochs{};

    char pattern[] = "/tmp/orvane-bench-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made)
        return 1;
    const fs::path folder = made;
    // A newcomer's first run: no settings file, no stored window state, no web cache.
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
        ::setenv(var, folder.c_str(), 1);

    Pty pty;
    if (!pty.Open())
    {
        std::fprintf(stderr, "bench_app: no pseudo-terminal\n");
        return 1;
    }
    std::printf("bench_app %s: load average %.2f at start, %ld cores online, %zu distinct sentences from the "
                "capture\n",
                mode.c_str(), LoadAverage(), ::sysconf(_SC_NPROCESSORS_ONLN), sentences.size());

    const auto processStart = Clock::now();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication qtApp(argc, argv);
    const auto previousBox = SetMessageBoxHandler([](const std::wstring& text, const std::wstring&, MbIcon) {
        std::fprintf(stderr, "message box: %s\n", QString::fromStdWString(text).toUtf8().constData());
    });
    int status = 1;
    {
        BenchApp app(folder / "Orvane.xml");
        if (app.InitInstance())
        {
            Session s;
            s.frame = dynamic_cast<CMainFrame*>(app.m_pMainWnd);
            s.view = s.frame ? dynamic_cast<COrvaneView*>(s.frame->centralWidget()) : nullptr;
            s.doc = dynamic_cast<COrvaneDoc*>(app.GetDocument());
            if (s.frame && s.view && s.doc)
            {
                bool mapLoaded = false;
                QObject::connect(s.view->GetMapView(), &QWebEngineView::loadFinished, [&](bool) {
                    mapLoaded = s.view->GetMapView()->url() != QUrl(QStringLiteral("about:blank"));
                });
                // Start-up is over once the first events have been handled.
                RunFor(1);
                std::printf("window up %.2f s after QApplication\n",
                            std::chrono::duration<double>(Clock::now() - processStart).count());
                PrintMemory("after start-up:");

                const bool loaded = RunUntil([&] { return mapLoaded; }, 30000, 20);
                std::printf("map page %s %.2f s after QApplication (title \"%s\")\n", loaded ? "loaded" : "NOT loaded",
                            std::chrono::duration<double>(Clock::now() - processStart).count(),
                            s.view->GetMapView()->title().toUtf8().constData());
                RunFor(1000);
                PrintMemory("after the map's page loaded:");

                if (mode == "cpu")
                    status = RunCpu(s, pty, sentences, arg(2, 115200), arg(3, 20), arg(4, 5),
                                    argc > 5 && std::string(argv[5]) == "terminal");
                else if (mode == "latency")
                    status = Connect(s, QString::fromStdString(pty.Path()).toStdWString(), pacing.baud)
                                 ? RunLatency(s, pty, epochs, arg(2, 100), pacing)
                                 : 1;
                else if (mode == "latency-udp")
                {
                    // A datagram source has no baud; the multiplexer forwards what its receiver's
                    // line brings, at that line's pace.
                    UdpLink udp;
                    status = Connect(s, udp.Source(), pacing.baud) ? RunLatency(s, udp, epochs, arg(2, 100), pacing) : 1;
                }
                else if (mode == "play")
                    status = RunPlay(s, folder, sentences, arg(2, 3600));
                else if (mode == "hotplug")
                    status = RunHotplug(s, folder / "orvane" / "ports", arg(2, 20));
                else
                    status = RunMemory(s, pty, sentences, arg(2, 36000));
                s.view->GetConnectButton().click();
            }
            app.m_pMainWnd->close();
        }
        app.DestroyMainWindow();
    }
    SetMessageBoxHandler(previousBox);
    std::printf("load average %.2f at the end\n", LoadAverage());
    std::error_code ec;
    fs::remove_all(folder, ec);
    return status;
}
