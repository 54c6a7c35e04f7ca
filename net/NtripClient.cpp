#include "net/NtripClient.h"

#include "gps/Framer.h"

#include <algorithm>
#include <chrono>
#include <poll.h>

namespace
{

using Clock = std::chrono::steady_clock;
using Status = ByteDevice::Status;

enum class Outcome
{
    Answered, // the head has come: the response says what it is
    Failed,   // `reason` says why
    Cancelled
};

// Writes every byte within the deadline.
Outcome SendAll(SocketDevice& socket, std::string_view bytes, Clock::time_point deadline)
{
    while (!bytes.empty())
    {
        const ByteDevice::Result put = socket.Write(bytes.data(), bytes.size(), RemainingMs(deadline));
        if (put.status == Status::Woken)
            return Outcome::Cancelled;
        if (put.status != Status::Done)
            return Outcome::Failed;
        bytes.remove_prefix(put.count);
    }
    return Outcome::Answered;
}

// Connects, asks, and reads until the answer's head is complete; the body's first bytes are
// left in `body`.
Outcome Ask(SocketDevice& socket, const NtripCaster& caster, NtripVersion version, const NtripTimings& timings,
            NtripResponse& response, std::string& body, std::string& reason)
{
    reason = kCasterNotAnswering;
    SourceAddress address;
    address.kind = SourceAddress::Kind::Tcp;
    address.host = caster.host;
    address.port = caster.port;
    if (!socket.Open(address, timings.open))
        return socket.LastError() == PortError::Cancelled ? Outcome::Cancelled : Outcome::Failed;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timings.answerMs);
    if (const Outcome sent = SendAll(socket, NtripRequest(caster, version), deadline); sent != Outcome::Answered)
        return sent;
    char buffer[4096];
    while (response.GetKind() == NtripResponse::Kind::Pending)
    {
        const ByteDevice::Result got = socket.Read(buffer, sizeof buffer, RemainingMs(deadline));
        if (got.status == Status::Woken)
            return Outcome::Cancelled;
        if (got.status != Status::Done)
            return Outcome::Failed;
        response.Feed(std::string_view(buffer, got.count), body);
    }
    switch (response.GetKind())
    {
    case NtripResponse::Kind::Stream:
    case NtripResponse::Kind::Sourcetable:
        reason.clear();
        return Outcome::Answered;
    case NtripResponse::Kind::Unauthorized:
    case NtripResponse::Kind::NotFound:
    case NtripResponse::Kind::Refused:
        reason = response.GetKind() == NtripResponse::Kind::NotFound && !caster.mountpoint.empty()
                     ? NoMountpointText(caster.mountpoint)
                     : CasterRefusedText(response.Status());
        return Outcome::Answered;
    case NtripResponse::Kind::Pending:
    case NtripResponse::Kind::Malformed:
        break;
    }
    return Outcome::Failed;
}

} // namespace

std::string CasterRefusedText(const std::string& status)
{
    return "caster refused: " + status;
}

std::string NoMountpointText(const std::string& mountpoint)
{
    return "no mountpoint " + mountpoint + " on this caster";
}

NtripClient::NtripClient(NtripCaster caster, NtripVersion version, FrameHandler onFrame, StatusHandler onStatus,
                         NtripTimings timings)
    : m_caster(std::move(caster)), m_version(version), m_onFrame(std::move(onFrame)), m_onStatus(std::move(onStatus)),
      m_timings(timings)
{
    m_stop.Open();
    m_thread = std::thread([this] { Run(); });
}

NtripClient::~NtripClient()
{
    m_bStopping = true;
    m_stop.Signal();
    m_socket.Wake();
    m_thread.join();
}

void NtripClient::SetGga(std::string_view sentence)
{
    std::lock_guard guard(m_lock);
    if (IsGgaWithFix(sentence))
        m_gga.assign(sentence);
    else
        m_gga.clear();
}

void NtripClient::Report(NtripStatus::State state, std::string reason, int retryInMs)
{
    if (m_onStatus)
        m_onStatus(NtripStatus{state, std::move(reason), retryInMs});
}

void NtripClient::Run()
{
    int retryMs = m_timings.firstRetryMs;
    while (!m_bStopping)
    {
        Report(NtripStatus::State::Connecting);
        std::string reason;
        const bool bDelivered = Session(reason);
        m_socket.Close();
        if (m_bStopping)
            break;
        // A connection that brought corrections was good: the next failure starts the waits over.
        if (bDelivered)
            retryMs = m_timings.firstRetryMs;
        Report(NtripStatus::State::Retrying, reason, retryMs);
        const auto until = Clock::now() + std::chrono::milliseconds(retryMs);
        pollfd stop{m_stop.Fd(), POLLIN, 0};
        while (!m_bStopping && RemainingMs(until) > 0)
            ::poll(&stop, 1, RemainingMs(until));
        retryMs = std::min(retryMs * 2, m_timings.longestRetryMs);
    }
}

bool NtripClient::SendGgaIfDue(Clock::time_point& nextGga)
{
    if (Clock::now() < nextGga)
        return true;
    std::string gga;
    {
        std::lock_guard guard(m_lock);
        gga = m_gga;
    }
    if (gga.empty())
    {
        // No fix yet: looked at again soon, so that a caster that waits for the position (a
        // virtual base) has it with the first fix, not up to ggaEveryMs later.
        nextGga = Clock::now() + std::chrono::milliseconds(std::min(m_timings.ggaEveryMs, kNoFixRecheckMs));
        return true;
    }
    nextGga = Clock::now() + std::chrono::milliseconds(m_timings.ggaEveryMs);
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_timings.answerMs);
    if (SendAll(m_socket, gga, deadline) != Outcome::Answered)
        return false;
    ++m_nGgas;
    return true;
}

bool NtripClient::Session(std::string& reason)
{
    NtripResponse response;
    std::string body;
    if (Ask(m_socket, m_caster, m_version, m_timings, response, body, reason) != Outcome::Answered)
        return false;
    if (response.GetKind() == NtripResponse::Kind::Sourcetable)
    {
        // An NTRIP 1 caster answers a mountpoint it does not have with its sourcetable.
        reason = NoMountpointText(m_caster.mountpoint);
        return false;
    }
    if (!reason.empty())
        return false;

    Report(NtripStatus::State::Streaming);
    Framer framer;
    Frame frame;
    bool bDelivered = false;
    auto nextGga = Clock::now();
    auto silentUntil = Clock::now() + std::chrono::milliseconds(m_timings.silenceMs);
    char buffer[4096];
    for (;;)
    {
        if (!body.empty())
        {
            m_nBytes += body.size();
            framer.Feed(body);
            body.clear();
            while (framer.Next(frame))
            {
                if (frame.kind != FrameKind::Rtcm3)
                    continue;
                ++m_nFrames;
                bDelivered = true;
                if (m_onFrame)
                    m_onFrame(frame.bytes);
            }
        }
        if (response.Broken() || response.BodyEnded())
        {
            reason = kCasterNotAnswering;
            return bDelivered;
        }
        if (!SendGgaIfDue(nextGga))
        {
            reason = kCasterNotAnswering;
            return bDelivered;
        }
        const int waitMs = std::min(RemainingMs(nextGga), RemainingMs(silentUntil));
        const ByteDevice::Result got = m_socket.Read(buffer, sizeof buffer, std::max(waitMs, 1));
        if (got.status == Status::Woken)
            return bDelivered;
        if (got.status == Status::TimedOut)
        {
            if (RemainingMs(silentUntil) == 0)
            {
                reason = kCasterNotAnswering;
                return bDelivered;
            }
            continue;
        }
        if (got.status != Status::Done)
        {
            reason = kCasterNotAnswering;
            return bDelivered;
        }
        silentUntil = Clock::now() + std::chrono::milliseconds(m_timings.silenceMs);
        response.Feed(std::string_view(buffer, got.count), body);
    }
}

SourcetableAnswer FetchSourcetable(SocketDevice& socket, const NtripCaster& caster, NtripVersion version,
                                   const NtripTimings& timings)
{
    SourcetableAnswer answer;
    NtripCaster tableOnly = caster;
    tableOnly.mountpoint.clear();
    NtripResponse response;
    std::string body;
    const Outcome asked = Ask(socket, tableOnly, version, timings, response, body, answer.reason);
    if (asked == Outcome::Cancelled)
        answer.reason.clear();
    if (asked != Outcome::Answered || !answer.reason.empty())
    {
        socket.Close();
        return answer;
    }
    // The table ends with its last line, its length, its last chunk, or the caster hanging up.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timings.answerMs);
    char buffer[4096];
    while (!response.BodyEnded() && body.find("ENDSOURCETABLE") == std::string::npos)
    {
        const ByteDevice::Result got = socket.Read(buffer, sizeof buffer, RemainingMs(deadline));
        if (got.status == Status::Gone)
            break;
        if (got.status != Status::Done)
        {
            answer.reason = got.status == Status::Woken ? "" : kCasterNotAnswering;
            socket.Close();
            return answer;
        }
        response.Feed(std::string_view(buffer, got.count), body);
    }
    socket.Close();
    answer.ok = true;
    answer.streams = ParseSourcetable(body);
    return answer;
}
