// The NTRIP client against a real caster: RTKLIB's str2str serving the corpus's RTCM3 stream,
// fed by a small TCP server that also reads what str2str relays back from its clients.
#include "net/NtripClient.h"

#include "NtripTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

const std::string kFix = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

NtripTimings NoRetry()
{
    NtripTimings timings;
    timings.firstRetryMs = 600000;
    timings.ggaEveryMs = 200;
    return timings;
}

class Str2strTest : public ::testing::TestWithParam<NtripVersion>
{
protected:
    void SetUp() override
    {
        if (!OnPath(kStr2str))
            GTEST_SKIP() << "str2str (Debian rtklib) is not installed";
    }
    static std::string Concatenated(const std::vector<std::string>& frames)
    {
        std::string all;
        for (const std::string& frame : frames)
            all += frame;
        return all;
    }
};

TEST_P(Str2strTest, FramesArriveWholeAndTheCasterSeesTheGga)
{
    // The corpus's frames alone, so that the loop joins frame to frame.
    const std::vector<std::string> frames = Rtcm3FramesOf(CorpusRtcm3Bytes());
    Str2strCaster caster(Concatenated(frames));
    ASSERT_TRUE(caster.WaitUntilListening());
    ClientLog log;
    NtripClient client(CasterAt(caster.Port(), "pass", "MNT"), GetParam(), log.Frames(), log.Statuses(), NoRetry());
    client.SetGga(kFix);
    ASSERT_TRUE(log.WaitForFrames(frames.size() + 5));

    // Byte for byte the corpus's frames, in order, from wherever the client came in.
    const std::vector<std::string> got = log.FramesSoFar();
    const auto first = std::find(frames.begin(), frames.end(), got.front());
    ASSERT_NE(first, frames.end());
    std::size_t index = static_cast<std::size_t>(first - frames.begin());
    for (std::size_t i = 0; i < got.size(); ++i, index = (index + 1) % frames.size())
        ASSERT_EQ(got[i], frames[index]) << "frame " << i;

    EXPECT_TRUE(caster.WaitForReturn(kFix));
}

TEST_P(Str2strTest, WrongPassword)
{
    Str2strCaster caster(CorpusRtcm3Bytes());
    ASSERT_TRUE(caster.WaitUntilListening());
    ClientLog log;
    NtripClient client(CasterAt(caster.Port(), "wrong", "MNT"), GetParam(), log.Frames(), log.Statuses(), NoRetry());
    EXPECT_EQ(log.FirstRetryReason(), "caster refused: 401 Unauthorized");
}

TEST_P(Str2strTest, UnknownMountpoint)
{
    Str2strCaster caster(CorpusRtcm3Bytes());
    ASSERT_TRUE(caster.WaitUntilListening());
    ClientLog log;
    NtripClient client(CasterAt(caster.Port(), "pass", "BNDM"), GetParam(), log.Frames(), log.Statuses(), NoRetry());
    EXPECT_EQ(log.FirstRetryReason(), "no mountpoint BNDM on this caster");
}

TEST_P(Str2strTest, Sourcetable)
{
    Str2strCaster caster(CorpusRtcm3Bytes());
    ASSERT_TRUE(caster.WaitUntilListening());
    SocketDevice socket;
    const SourcetableAnswer answer = FetchSourcetable(socket, CasterAt(caster.Port(), "pass", ""), GetParam());
    ASSERT_TRUE(answer.ok) << answer.reason;
    ASSERT_EQ(answer.streams.size(), 1u);
    EXPECT_EQ(answer.streams[0].mountpoint, "MNT");
}

INSTANTIATE_TEST_SUITE_P(Versions, Str2strTest, ::testing::Values(NtripVersion::V1, NtripVersion::V2),
                         [](const auto& info) { return info.param == NtripVersion::V1 ? "Ntrip1" : "Ntrip2"; });

} // namespace
