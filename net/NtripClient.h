#pragma once

#include "io/WakeEvent.h"
#include "net/NtripProtocol.h"
#include "net/SocketDevice.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// How long the client waits, and how often it speaks. Tests shorten them; the defaults are
// what network casters expect.
struct NtripTimings
{
    int firstRetryMs = 5000; // after a failure; doubled at each further one
    int longestRetryMs = 120000;
    int ggaEveryMs = 10000;
    int answerMs = 10000;  // from the request to the answer's head
    int silenceMs = 30000; // a stream with no byte for this long has stopped
    OpenLimits open;
};

// What the client says about its connection.
struct NtripStatus
{
    enum class State
    {
        Connecting,
        Streaming,
        Retrying // `reason` says why, and the client tries again after `retryInMs`
    };
    State state = State::Connecting;
    std::string reason;
    int retryInMs = 0;
};

// The texts the client gives as its reason.
inline constexpr const char* kCasterNotAnswering = "caster not answering";
std::string CasterRefusedText(const std::string& status);
std::string NoMountpointText(const std::string& mountpoint);

// Receives a caster's RTCM3 stream on a thread of its own, from construction until
// destruction (which joins it): connects, asks for the mountpoint, hands every frame that
// passes its CRC-24Q to `onFrame` whole, sends the GGA given to it every ggaEveryMs, and
// reconnects after a failure, waiting firstRetryMs and then twice as long each time, up to
// longestRetryMs. The callbacks run on that thread; they must not destroy the client.
class NtripClient
{
public:
    using FrameHandler = std::function<void(std::string_view frame)>;
    using StatusHandler = std::function<void(const NtripStatus& status)>;

    NtripClient(NtripCaster caster, NtripVersion version, FrameHandler onFrame, StatusHandler onStatus,
                NtripTimings timings = {});
    ~NtripClient();
    NtripClient(const NtripClient&) = delete;
    NtripClient& operator=(const NtripClient&) = delete;

    // The receiver's latest GGA, CR LF included; one without a fix (or an empty text) stops
    // the sending until a fix comes back.
    void SetGga(std::string_view sentence);

    std::uint64_t BytesReceived() const { return m_nBytes.load(); }
    std::uint64_t FramesDelivered() const { return m_nFrames.load(); }
    std::uint64_t GgasSent() const { return m_nGgas.load(); }
    // How soon the client looks again for a GGA while it has none with a fix.
    static constexpr int kNoFixRecheckMs = 1000;

private:
    void Run();
    // One connection from its open to its end; true once it delivered a frame.
    bool Session(std::string& reason);
    bool SendGgaIfDue(std::chrono::steady_clock::time_point& nextGga);
    void Report(NtripStatus::State state, std::string reason = {}, int retryInMs = 0);

    const NtripCaster m_caster;
    const NtripVersion m_version;
    const FrameHandler m_onFrame;
    const StatusHandler m_onStatus;
    const NtripTimings m_timings;

    SocketDevice m_socket;
    WakeEvent m_stop;
    std::atomic<bool> m_bStopping{false};
    mutable std::mutex m_lock;
    std::string m_gga; // guarded by m_lock
    std::atomic<std::uint64_t> m_nBytes{0};
    std::atomic<std::uint64_t> m_nFrames{0};
    std::atomic<std::uint64_t> m_nGgas{0};
    std::thread m_thread; // last: starts once everything it uses is made
};

// The caster's streams, asked for once through `socket` (a blocking call: not for the
// user-interface thread; socket.Wake() from another thread ends it). On failure `reason` holds
// one of the client's texts, or is empty when it was called off.
struct SourcetableAnswer
{
    bool ok = false;
    std::string reason;
    std::vector<NtripStream> streams;
};
SourcetableAnswer FetchSourcetable(SocketDevice& socket, const NtripCaster& caster, NtripVersion version,
                                   const NtripTimings& timings = {});
