// A recorded log played through the device: the records it delivers, its pacing timeline,
// pause, seeking, the end, and the files it refuses.
#include "gps/GPSDevice.h"
#include "gps/NmeaFraming.h"
#include "playback/LogPlayer.h"
#include "tools/nmea/NmeaEpochs.h"

#include "support/Counter.h"
#include "support/Files.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace
{

const std::filesystem::path kCorpus = ORVANE_CORPUS_DIR;

std::string Sentence(const std::string& body)
{
    const std::uint8_t sum = ComputeChecksum(body);
    const char* hex = "0123456789ABCDEF";
    return body + '*' + hex[sum >> 4] + hex[sum & 15] + "\r\n";
}

std::string Gga(const std::string& time)
{
    return Sentence("$GPGGA," + time + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
}

std::string Gsa()
{
    return Sentence("$GPGSA,A,3,14,01,30,06,09,,,,,,,,2.8,1.7,2.2");
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A device playing one log, with the notifications counted.
struct Playing
{
    std::shared_ptr<LogPlayer> player = std::make_shared<LogPlayer>();
    CGPSDevice device;
    Counter notifications;
    boost::signals2::scoped_connection connection =
        device.ConnectNotification([this](int) { notifications.Raise(); });
    // The reader stops before the count it raises goes.
    ~Playing() { device.Close(); }

    bool Open(const std::filesystem::path& path, int speed, bool bPaused)
    {
        if (!player->Load(path.string(), bPaused))
            return false;
        player->SetSpeed(speed);
        return device.OpenLog(player);
    }

    // Waits for the player to reach the end, taking the lines as the views do.
    std::vector<ReceivedLine> DrainToEnd()
    {
        std::vector<ReceivedLine> lines;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!player->IsAtEnd() && std::chrono::steady_clock::now() < deadline)
        {
            device.PopLines(lines);
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_TRUE(player->IsAtEnd());
        device.PopLines(lines);
        return lines;
    }
};

std::vector<ReceivedLine> DecodedByOrvaneNmea(const std::string& bytes)
{
    std::vector<ReceivedLine> lines;
    EpochSplitter splitter([](const GpsData&) {},
                           [&](std::string_view line, const GpsData& after) { lines.push_back({std::string(line), after}); });
    for (const std::string& line : DataLines(bytes))
        splitter.Feed(line);
    return lines;
}

TEST(LogPlayer, EveryCaptureDeliversTheRecordsOrvaneNmeaDecodes)
{
    const std::vector<std::filesystem::path> captures = CaptureFiles();
    ASSERT_GE(captures.size(), 9u) << kCorpus;
    for (const std::filesystem::path& path : captures)
    {
        SCOPED_TRACE(path.filename().string());
        const std::vector<ReceivedLine> expected = DecodedByOrvaneNmea(ReadFile(path));
        ASSERT_FALSE(expected.empty());

        Playing playing;
        ASSERT_TRUE(playing.Open(path, LogPlayer::kMaxSpeed, false));
        EXPECT_FALSE(playing.device.AcceptsWrites());
        const std::vector<ReceivedLine> played = playing.DrainToEnd();
        ASSERT_EQ(played.size(), expected.size());
        for (std::size_t i = 0; i < played.size(); ++i)
        {
            ASSERT_EQ(played[i].text, expected[i].text) << "line " << i;
            ASSERT_TRUE(played[i].gps == expected[i].gps) << "record after line " << i << ": " << played[i].text;
        }
        // Paused at 100 %, the last state kept.
        EXPECT_TRUE(playing.player->IsPaused());
        EXPECT_DOUBLE_EQ(playing.player->Fraction(), 1.0);
        GpsData snapshot{};
        playing.device.CopySnapshot(snapshot);
        EXPECT_TRUE(snapshot == expected.back().gps);
    }
}

TEST(LogPlayer, BareLineFeedsGetTheirCarriageReturnsBack)
{
    TempFolder folder;
    std::string log = Gga("120000") + Gsa() + Gga("120001");
    log.erase(std::remove(log.begin(), log.end(), '\r'), log.end());
    WriteFile(folder.Path() / "lf.nmea", log);
    Playing playing;
    ASSERT_TRUE(playing.Open(folder.Path() / "lf.nmea", LogPlayer::kMaxSpeed, false));
    const std::vector<ReceivedLine> played = playing.DrainToEnd();
    ASSERT_EQ(played.size(), 3u);
    EXPECT_EQ(played[2].text, Gga("120001"));
}

// ---- Pacing timeline ---------------------------------------------------------------------

struct TimelineCase
{
    const char* name;
    std::vector<std::string> lines;
    std::int64_t durationMs;
};

class Timeline : public testing::TestWithParam<TimelineCase>
{
};

TEST_P(Timeline, PlaysTheLogsStepsWithoutStalling)
{
    TempFolder folder;
    std::string log;
    for (const std::string& line : GetParam().lines)
        log += line;
    WriteFile(folder.Path() / "log.nmea", log);
    LogPlayer player;
    ASSERT_TRUE(player.Load((folder.Path() / "log.nmea").string(), true));
    EXPECT_EQ(player.DurationMs(), GetParam().durationMs);
}

INSTANTIATE_TEST_SUITE_P(
    LogPlayer, Timeline,
    testing::Values(
        TimelineCase{"OneSecondEpochs", {Gga("120000"), Gsa(), Gga("120001"), Gsa(), Gga("120002")}, 2000},
        TimelineCase{"TenHertz", {Gga("120000.00"), Gga("120000.10"), Gga("120000.20")}, 200},
        TimelineCase{"MidnightRollsOver", {Gga("235959"), Gga("000000"), Gga("000001")}, 2000},
        TimelineCase{"LeapSecondPlaysAsASecond", {Gga("235959"), Gga("235960"), Gga("000000")}, 2000},
        TimelineCase{"BackOverMidnightPlaysAtOnce", {Gga("000001"), Gga("235959"), Gga("000000")}, 1000},
        TimelineCase{"JumpBackPlaysAtOnce", {Gga("120010"), Gga("120000"), Gga("120001")}, 1000},
        TimelineCase{"LongGapShortened", {Gga("120000"), Gga("130000"), Gga("130001")}, 2000},
        TimelineCase{"TimeInRmcZdaGll",
                     {Sentence("$GPRMC,120000.000,A,4854.2575,N,00219.9816,E,0.00,296.61,210706,,,A"),
                      Sentence("$GPZDA,120001.00,21,07,2006,00,00"),
                      Sentence("$GPGLL,4807.038,N,01131.000,E,120003,A,A")},
                     3000},
        TimelineCase{"TimelessLinesGoWithTheirEpoch", {Gsa(), Gga("120000"), Gsa(), Gsa()}, 0},
        TimelineCase{"BadChecksumTimeIgnored", {Gga("120000"), "$GPGGA,130000,,,,,0,,,,,,,,*00\r\n", Gga("120001")}, 1000}),
    [](const testing::TestParamInfo<TimelineCase>& info) { return std::string(info.param.name); });

// ---- Pause, seeking, speed ----------------------------------------------------------------

TEST(LogPlayer, NoLinesWhilePausedAndPlayGoesOnFromThere)
{
    TempFolder folder;
    WriteFile(folder.Path() / "log.nmea", Gga("120000") + Gsa() + Gga("120001") + Gsa() + Gga("120002"));
    Playing playing;
    ASSERT_TRUE(playing.Open(folder.Path() / "log.nmea", 1, true));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(playing.device.ValidLineCount(), 0u);

    // At 1x the first epoch comes at once and the second a second later: paused in between,
    // nothing more comes however long the pause.
    playing.player->Play();
    ASSERT_TRUE(playing.notifications.WaitFor(2));
    playing.player->Pause();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(playing.device.ValidLineCount(), 2u);
    EXPECT_EQ(playing.player->Position(), Gga("120000").size() + Gsa().size());

    playing.player->SetSpeed(LogPlayer::kMaxSpeed);
    playing.player->Play();
    EXPECT_EQ(playing.DrainToEnd().size(), 5u);
    EXPECT_EQ(playing.player->PositionMs(), 2000);
}

TEST(LogPlayer, PlayAtTheEndStartsAgain)
{
    TempFolder folder;
    WriteFile(folder.Path() / "log.nmea", Gga("120000") + Gga("120001"));
    Playing playing;
    ASSERT_TRUE(playing.Open(folder.Path() / "log.nmea", LogPlayer::kMaxSpeed, false));
    EXPECT_EQ(playing.DrainToEnd().size(), 2u);
    playing.player->Play();
    ASSERT_TRUE(playing.notifications.WaitFor(4));
    EXPECT_EQ(playing.DrainToEnd().size(), 2u);
}

class Seeking : public testing::TestWithParam<double>
{
};

TEST_P(Seeking, LandsOnALineStartAndPlaysOnFromIt)
{
    const std::filesystem::path path = kCorpus / "haicom-305N.nmea";
    const std::string bytes = ReadFile(path);
    Playing playing;
    ASSERT_TRUE(playing.Open(path, LogPlayer::kMaxSpeed, true));
    const std::size_t offset = playing.player->Seek(GetParam());
    ASSERT_EQ(playing.player->Size(), bytes.size()) << "the capture ends its lines in CR LF";
    EXPECT_GE(static_cast<double>(offset), GetParam() * static_cast<double>(bytes.size()));
    EXPECT_TRUE(offset == 0 || bytes[offset - 1] == '\n') << offset;
    EXPECT_DOUBLE_EQ(playing.player->Fraction(), static_cast<double>(offset) / static_cast<double>(bytes.size()));
    // At the end there is nothing to play on from: Play then starts the log again, as soon as
    // the reader has taken the seek, and when that is cannot be told from here.
    if (offset == bytes.size())
        return;

    playing.player->Play();
    const std::vector<ReceivedLine> played = playing.DrainToEnd();
    const std::vector<ReceivedLine> expected = DecodedByOrvaneNmea(bytes.substr(offset));
    ASSERT_EQ(played.size(), expected.size());
    // Nothing was played before the seek, so the records are those of the log cut there.
    for (std::size_t i = 0; i < played.size(); ++i)
    {
        ASSERT_EQ(played[i].text, expected[i].text);
        ASSERT_TRUE(played[i].gps == expected[i].gps) << played[i].text;
    }
}

INSTANTIATE_TEST_SUITE_P(LogPlayer, Seeking, testing::Values(0.0, 0.013, 0.25, 0.5, 0.9, 0.9999, 1.0));

TEST(LogPlayer, SeekingMidLineFinishesTheLineFirst)
{
    // Played at full speed with no one taking lines, the reader is held back by the queue in
    // the middle of the log; a seek then must not join the line under way to another.
    const std::filesystem::path path = kCorpus / "quectel-eg25-g.nmea";
    std::string log;
    for (int i = 0; i < 8; ++i)
        log += ReadFile(path);
    TempFolder folder;
    WriteFile(folder.Path() / "long.nmea", log);
    Playing playing;
    ASSERT_TRUE(playing.Open(folder.Path() / "long.nmea", LogPlayer::kMaxSpeed, false));
    ASSERT_TRUE(playing.notifications.WaitFor(static_cast<int>(CGPSDevice::kMaxQueuedLines)));
    playing.player->Seek(0.0);
    const std::vector<ReceivedLine> played = playing.DrainToEnd();
    const std::size_t perCopy = DecodedByOrvaneNmea(ReadFile(path)).size();
    EXPECT_GT(played.size(), 8 * perCopy) << "the start played again";
    for (const ReceivedLine& line : played)
    {
        ASSERT_TRUE(IsChecksumValid(line.text)) << line.text;
    }
}

// ---- Files it refuses ---------------------------------------------------------------------

struct BadFileCase
{
    const char* name;
    LogError error;
};

class BadFile : public testing::TestWithParam<BadFileCase>
{
};

TEST_P(BadFile, IsRefusedWithItsReason)
{
    TempFolder folder;
    const std::filesystem::path missing = folder.Path() / "missing.nmea";
    const std::filesystem::path folderAsFile = folder.Path() / "a-folder.nmea";
    std::filesystem::create_directory(folderAsFile);
    WriteFile(folder.Path() / "empty.nmea", "");
    WriteFile(folder.Path() / "text.nmea", "# a header only\r\nhello\r\n$GPGGA,120000,,,,,0,,,,,,,,*00\r\n");
    const std::filesystem::path paths[] = {missing, folderAsFile, folder.Path() / "empty.nmea", folder.Path() / "text.nmea"};
    const std::filesystem::path& path = paths[static_cast<int>(GetParam().error) - 1];

    auto player = std::make_shared<LogPlayer>();
    EXPECT_FALSE(player->Load(path.string()));
    EXPECT_EQ(player->LastError(), GetParam().error);
    EXPECT_FALSE(player->IsOpen());
    CGPSDevice device;
    EXPECT_FALSE(device.OpenLog(player));
    EXPECT_FALSE(device.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(LogPlayer, BadFile,
                         testing::Values(BadFileCase{"Missing", LogError::NotFound},
                                         BadFileCase{"Unreadable", LogError::Unreadable},
                                         BadFileCase{"Empty", LogError::Empty},
                                         BadFileCase{"WithoutNmea", LogError::NotNmea}),
                         [](const testing::TestParamInfo<BadFileCase>& info) { return std::string(info.param.name); });

} // namespace
