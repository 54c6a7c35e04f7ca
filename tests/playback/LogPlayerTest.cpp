// A recorded log played through the device: the records it delivers, its pacing timeline,
// pause, seeking, the end, and the files it refuses.
#include "device/GPSDevice.h"
#include "gps/NmeaFraming.h"
#include "playback/LogPlayer.h"
#include "recording/QueuedRecorder.h"
#include "tools/gpssim/SimTestSupport.h"
#include "tools/nmea/NmeaEpochs.h"

#include "support/Counter.h"
#include "support/Files.h"
#include "support/PseudoTerminal.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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

    // Waits for the player to reach the end, taking the lines as the views do. However slow
    // the machine, the end comes: the test program's own time-out is for a player that hangs.
    std::vector<ReceivedLine> DrainToEnd()
    {
        std::vector<ReceivedLine> lines;
        while (!player->IsAtEnd())
        {
            device.PopLines(lines);
            std::this_thread::sleep_for(1ms);
        }
        device.PopLines(lines);
        return lines;
    }
};

std::vector<ReceivedLine> DecodedByOrvaneNmea(const std::string& bytes)
{
    std::vector<ReceivedLine> lines;
    EpochSplitter splitter([](const GpsData&) {},
                           [&](std::string_view line, FrameKind, const GpsData& after, EpochMarks marks) {
                               lines.push_back({std::string(line), after, {}, marks});
                           });
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
            ASSERT_EQ(played[i].epoch.began, expected[i].epoch.began) << "line " << i;
            ASSERT_EQ(played[i].epoch.ends, expected[i].epoch.ends) << "line " << i;
        }
        // Paused at 100 %, the last state kept.
        EXPECT_TRUE(playing.player->IsPaused());
        EXPECT_DOUBLE_EQ(playing.player->Fraction(), 1.0);
        std::vector<ReceivedLine> more;
        EXPECT_EQ(playing.device.PopLines(more), 0u) << "nothing after the last line";
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

// The player read as the reader loop reads it, with no thread: `before` bytes in `chunk`s,
// which leaves it in the middle of a line, then a seek to `fraction`, then on to the end.
struct MidLineSeekCase
{
    std::size_t chunk;
    std::size_t before;
    double fraction;
};

class SeekingMidLine : public testing::TestWithParam<MidLineSeekCase>
{
};

TEST_P(SeekingMidLine, FinishesTheLineFirst)
{
    const MidLineSeekCase& row = GetParam();
    const std::filesystem::path path = kCorpus / "haicom-305N.nmea";
    const std::string bytes = ReadFile(path);
    LogPlayer player;
    ASSERT_TRUE(player.Load(path.string()));
    ASSERT_EQ(player.Size(), bytes.size()) << "the capture ends its lines in CR LF";
    player.SetSpeed(LogPlayer::kMaxSpeed);

    std::string played;
    std::vector<char> buffer(row.chunk);
    auto readOnce = [&] {
        const ByteDevice::Result read = player.Read(buffer.data(), buffer.size(), 0);
        if (read.status == ByteDevice::Status::Done)
            played.append(buffer.data(), read.count);
        return read.status;
    };
    while (played.size() < row.before)
        ASSERT_EQ(readOnce(), ByteDevice::Status::Done);
    ASSERT_NE(played.back(), '\n') << "the row must stop in the middle of a line";
    const std::size_t lineEnd = bytes.find('\n', played.size()) + 1;

    const std::size_t target = player.Seek(row.fraction);
    while (!player.IsAtEnd())
        readOnce();

    // The line under way whole, then the log from the line the seek found: never the front
    // of one line joined to the back of another.
    std::string expected = bytes.substr(0, lineEnd);
    expected += bytes.substr(target);
    ASSERT_EQ(played.size(), expected.size());
    EXPECT_TRUE(played == expected);
}

INSTANTIATE_TEST_SUITE_P(LogPlayer, SeekingMidLine,
                         testing::Values(MidLineSeekCase{64, 4000, 0.0}, MidLineSeekCase{64, 4000, 0.5},
                                         MidLineSeekCase{7, 3000, 0.14}, MidLineSeekCase{64, 640, 1.0},
                                         MidLineSeekCase{1, 2001, 0.9999}),
                         [](const testing::TestParamInfo<MidLineSeekCase>& info) {
                             return "Chunk" + std::to_string(info.param.chunk) + "At" + std::to_string(info.param.before) +
                                    "To" + std::to_string(static_cast<int>(info.param.fraction * 10000));
                         });

// ---- Files it refuses ---------------------------------------------------------------------

struct BadFileCase
{
    const char* name;
    LogError error;
    // Makes the file in the folder and gives its path.
    std::filesystem::path (*make)(const std::filesystem::path& folder);
};

class BadFile : public testing::TestWithParam<BadFileCase>
{
};

TEST_P(BadFile, IsRefusedWithItsReasonAndNothingWaits)
{
    TempFolder folder;
    const std::filesystem::path path = GetParam().make(folder.Path());
    if (GetParam().error == LogError::Unreadable && ::access(path.c_str(), R_OK) == 0)
        GTEST_SKIP() << "this user reads a file whatever its mode (root): nothing here is unreadable";

    auto player = std::make_shared<LogPlayer>();
    EXPECT_FALSE(player->Load(path.string()));
    EXPECT_EQ(player->LastError(), GetParam().error);
    EXPECT_FALSE(player->IsOpen());
    CGPSDevice device;
    EXPECT_FALSE(device.OpenLog(player));
    EXPECT_FALSE(device.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    LogPlayer, BadFile,
    testing::Values(
        BadFileCase{"Missing", LogError::NotFound, [](const std::filesystem::path& f) { return f / "missing.nmea"; }},
        BadFileCase{"Folder", LogError::NotAFile,
                    [](const std::filesystem::path& f)
                    {
                        std::filesystem::create_directory(f / "a-folder.nmea");
                        return f / "a-folder.nmea";
                    }},
        BadFileCase{"DevZero", LogError::NotAFile, [](const std::filesystem::path&) { return std::filesystem::path("/dev/zero"); }},
        // Opening it for reading would wait for a writer for ever.
        BadFileCase{"NamedPipe", LogError::NotAFile,
                    [](const std::filesystem::path& f)
                    {
                        EXPECT_EQ(::mkfifo((f / "pipe.nmea").c_str(), 0600), 0);
                        return f / "pipe.nmea";
                    }},
        BadFileCase{"Unreadable", LogError::Unreadable,
                    [](const std::filesystem::path& f)
                    {
                        WriteFile(f / "locked.nmea", Gga("120000"));
                        std::filesystem::permissions(f / "locked.nmea", std::filesystem::perms::none);
                        return f / "locked.nmea";
                    }},
        BadFileCase{"Empty", LogError::Empty,
                    [](const std::filesystem::path& f)
                    {
                        WriteFile(f / "empty.nmea", "");
                        return f / "empty.nmea";
                    }},
        BadFileCase{"WithoutNmea", LogError::NotNmea,
                    [](const std::filesystem::path& f)
                    {
                        WriteFile(f / "text.nmea", "# a header only\r\nhello\r\n$GPGGA,120000,,,,,0,,,,,,,,*00\r\n");
                        return f / "text.nmea";
                    }},
        // Bytes of every value, line ends among them, and a run far longer than a line.
        BadFileCase{"Binary", LogError::NotNmea,
                    [](const std::filesystem::path& f)
                    {
                        std::string bytes;
                        for (unsigned i = 0; i < 300000; ++i)
                            bytes += static_cast<char>((i * 7919u + i / 13) & 0xffu);
                        bytes += std::string(200000, '\0');
                        WriteFile(f / "image.nmea", bytes);
                        return f / "image.nmea";
                    }}),
    [](const testing::TestParamInfo<BadFileCase>& info) { return std::string(info.param.name); });

TEST(LogPlayer, BinaryJunkInsideALogIsSkippedAsOnAPort)
{
    TempFolder folder;
    std::string junk(5000, '\x7f');
    junk[2500] = '\0';
    const std::string log = Gga("120000") + junk + "\n" + Gga("120001") + std::string("\x01\xfe\0$GP\r\n", 8) +
                            Gsa() + std::string(3000, '\0') + Gga("120002");
    WriteFile(folder.Path() / "junk.nmea", log);
    Playing playing;
    ASSERT_TRUE(playing.Open(folder.Path() / "junk.nmea", LogPlayer::kMaxSpeed, false));
    EXPECT_EQ(playing.player->DurationMs(), 1000) << "the last GGA went with the run before it";
    std::vector<std::string> texts;
    for (const ReceivedLine& line : playing.DrainToEnd())
        texts.push_back(line.text);
    EXPECT_EQ(texts, (std::vector<std::string>{Gga("120000"), Gga("120001"), Gsa()}));
    // And the seek lands past the run, on the line after it.
    const std::size_t offset = playing.player->Seek(static_cast<double>(Gga("120000").size() + 100) / log.size());
    EXPECT_EQ(offset, Gga("120000").size() + junk.size() + 1);
}

TEST(LogPlayer, IndexingShowsHowFarItGotAndCanBeCancelled)
{
    TempFolder folder;
    std::string log;
    for (int i = 0; i < 2000; ++i)
        log += Gga("12" + std::to_string(1000 + i / 60).substr(2) + std::to_string(100 + i % 60).substr(1)) + Gsa();
    WriteFile(folder.Path() / "log.nmea", log);

    LogPlayer player;
    LogIndexing progress;
    ASSERT_TRUE(player.Open((folder.Path() / "log.nmea").string()));
    EXPECT_FALSE(player.IsOpen()) << "not playable before it is indexed";
    ASSERT_TRUE(player.Index(&progress, true));
    EXPECT_EQ(progress.total.load(), log.size());
    EXPECT_EQ(progress.done.load(), log.size());
    EXPECT_EQ(player.DurationMs(), 1999000);
    // Seeks land on line starts from the checkpoints as from the start.
    const std::size_t middle = player.Seek(0.5);
    EXPECT_EQ(log[middle - 1], '\n');
    EXPECT_GE(middle, log.size() / 2);
    EXPECT_LT(middle, log.size() / 2 + Gga("120000").size() + Gsa().size());

    LogPlayer cancelled;
    LogIndexing cancel;
    cancel.cancel = true;
    ASSERT_TRUE(cancelled.Open((folder.Path() / "log.nmea").string()));
    EXPECT_FALSE(cancelled.Index(&cancel));
    EXPECT_EQ(cancelled.LastError(), LogError::Cancelled);
    EXPECT_FALSE(cancelled.IsOpen());
}

} // namespace

// ---- Raw logs: binary frames recorded and played back ----------------------------------------

namespace
{
// Five seconds of the simulated u-blox receiver with UBX on: NMEA and UBX frames mixed.
std::string MixedSimulatorStream()
{
    ReceiverSimulator simulator(simtest::UBloxWithUbx(7));
    const auto start = std::chrono::sys_days{std::chrono::year{2024} / 5 / 17} + std::chrono::hours(23) +
                       std::chrono::minutes(59) + std::chrono::seconds(57);
    std::string bytes;
    for (const SimCycle& cycle : simtest::Run(simulator, start, 5))
        bytes += simtest::Joined(cycle.sentences);
    return bytes;
}
} // namespace

TEST(RawLog, AMixedStreamRecordedAndPlayedBackGivesTheSameRecords)
{
    const std::string stream = MixedSimulatorStream();
    TempFolder folder;

    // Live: the receiver's bytes through a pseudo-terminal, each frame given to both recorders
    // the window would give it to.
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    CGPSDevice live;
    Counter notifications;
    boost::signals2::scoped_connection connection = live.ConnectNotification([&](int) { notifications.Raise(); });
    ASSERT_TRUE(live.OpenPort(pty.SlavePortName(), 38400));
    ASSERT_TRUE(pty.Write(stream));
    std::vector<ReceivedLine> received;
    const int frames = [&] {
        Framer framer;
        framer.Feed(stream);
        Frame frame;
        int count = 0;
        while (framer.Next(frame))
            ++count;
        return count;
    }();
    ASSERT_TRUE(notifications.WaitFor(frames));
    live.Close();
    live.PopLines(received);
    ASSERT_EQ(static_cast<int>(received.size()), frames) << "every simulated frame is valid";
    const auto ubx = std::count_if(received.begin(), received.end(), [](const ReceivedLine& l) { return l.kind == FrameKind::Ubx; });
    ASSERT_EQ(ubx, 5 * 4) << "NAV-PVT, NAV-SAT, NAV-DOP and NAV-EOE each second";

    const std::filesystem::path raw = folder.Path() / "mixed.ubx";
    const std::filesystem::path nmea = folder.Path() / "mixed.txt";
    std::string expectedNmea;
    for (const auto& [kind, path] : {std::pair{RecordRaw, raw}, std::pair{RecordNmea, nmea}})
    {
        QueuedRecorder recorder(MakeRecorder(kind));
        ASSERT_TRUE(recorder.Start(path.wstring(), true, GpsData{}));
        for (const ReceivedLine& line : received)
        {
            if (recorder.Takes(line.kind))
            {
                ASSERT_TRUE(recorder.Add(line.text, line.gps, line.epoch));
            }
        }
        ASSERT_TRUE(recorder.Finish());
    }
    for (const ReceivedLine& line : received)
        if (line.kind == FrameKind::Nmea)
            expectedNmea += line.text;
    EXPECT_TRUE(ReadFile(raw) == stream) << "the raw log is the receiver's bytes as they came";
    EXPECT_TRUE(ReadFile(nmea) == expectedNmea) << "the NMEA log keeps the text only";

    Playing playing;
    ASSERT_TRUE(playing.Open(raw, LogPlayer::kMaxSpeed, false));
    const std::vector<ReceivedLine> played = playing.DrainToEnd();
    ASSERT_EQ(played.size(), received.size());
    for (std::size_t i = 0; i < played.size(); ++i)
    {
        ASSERT_EQ(played[i].kind, received[i].kind) << i;
        ASSERT_EQ(played[i].text, received[i].text) << i;
        ASSERT_TRUE(played[i].gps == received[i].gps) << "record after frame " << i;
        ASSERT_EQ(played[i].epoch.began, received[i].epoch.began) << i;
        ASSERT_EQ(played[i].epoch.ends, received[i].epoch.ends) << i;
    }
    EXPECT_TRUE(HasFixedPosition(played.back().gps));
    EXPECT_TRUE(played.back().gps.horizontalAccuracyKnown);
    // The log's timeline comes from NAV-PVT's and the sentences' UTC alike, across midnight.
    EXPECT_EQ(playing.player->DurationMs(), 4000);
}
