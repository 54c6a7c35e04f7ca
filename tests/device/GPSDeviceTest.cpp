#include "device/GPSDevice.h"
#include "gps/NmeaFraming.h"
#include "receiver/ReceiverCommands.h"

#include "device/DeviceTestSupport.h"
#include "support/PseudoTerminal.h"
#include "support/DeviceLines.h"

#include "support/Nmea.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace
{

const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const std::string kRmc =
    "$GPRMC,185244.000,A,4854.2575,N,00219.9816,E,0.00,296.61,210706,,,A*6C\r\n";
const std::string kGsa = "$GPGSA,A,3,14,01,30,06,09,,,,,,,,2.8,1.7,2.2*36\r\n";
const std::string kVtg = "$GPVTG,296.61,T,,M,0.00,N,0.0,K,A*07\r\n";

// A sentence with a valid checksum, padded to exactly `length` bytes with its CR LF.
std::string SentenceOfLength(std::size_t length)
{
    std::string body = "$GPTXT,01,01,02,";
    body += std::string(length - body.size() - 5, 'x');
    const std::uint8_t sum = ComputeChecksum(body);
    const char* hex = "0123456789ABCDEF";
    return body + '*' + hex[sum >> 4] + hex[sum & 15] + "\r\n";
}

class GPSDeviceTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.IsValid());
        connection = device.ConnectNotification(
            [this](int argument)
            {
                if (argument == CGPSDevice::kLineReceived || argument == CGPSDevice::kEpochCompleted)
                    notifications.Raise();
                if (argument == CGPSDevice::kEpochCompleted)
                    completions.Raise();
            });
        ASSERT_TRUE(device.OpenPort(pty.SlavePortName(), 4800));
    }

    Counter notifications;
    Counter completions;
    PseudoTerminal pty;
    ObservedDevice device;
    boost::signals2::scoped_connection connection;
};

TEST(DevicePath, KernelNamesGoUnderDevAndPathsStayAsTheyAre)
{
    const struct
    {
        const wchar_t* name;
        const wchar_t* path;
    } rows[] = {
        {L"ttyUSB0", L"/dev/ttyUSB0"},
        {L"ttyACM1", L"/dev/ttyACM1"},
        {L"rfcomm0", L"/dev/rfcomm0"},
        {L"pts/4", L"/dev/pts/4"},
        {L"/dev/pts/4", L"/dev/pts/4"},
        {L"/dev/serial/by-id/usb-Prolific-port0", L"/dev/serial/by-id/usb-Prolific-port0"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CGPSDevice::DevicePathOf(row.name), row.path);
}

TEST(GPSDeviceOpen, MissingPortFailsWithNotFound)
{
    CGPSDevice device;
    EXPECT_FALSE(device.OpenPort(L"ttyORVANE99", 4800));
    EXPECT_EQ(device.LastOpenError(), PortError::NotFound);
    EXPECT_FALSE(device.IsOpen());
}

TEST(GPSDeviceOpen, PortOpenElsewhereFailsWithBusy)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    CGPSDevice first;
    CGPSDevice second;
    ASSERT_TRUE(first.OpenPort(pty.SlavePortName(), 9600));
    EXPECT_FALSE(second.OpenPort(pty.SlavePortName(), 9600));
    EXPECT_EQ(second.LastOpenError(), PortError::Busy);
}

TEST(GPSDeviceOpen, FreshDeviceHasNoLines)
{
    CGPSDevice device;
    std::vector<ReceivedLine> lines(1);
    EXPECT_EQ(device.PopLines(lines), 0u);
    EXPECT_EQ(lines.size(), 1u) << "what the caller held is kept";
}

TEST_F(GPSDeviceTest, RestartCommandsReachTheReceiverAsExactlyTheirBytes)
{
    // The binary u-blox ones too: the port passes every byte as it is.
    for (const ReceiverFamily family : KnownFamilies())
        for (const RestartKind kind : {RestartKind::Hot, RestartKind::Warm, RestartKind::Cold})
        {
            const std::string command = RestartCommand(family, kind).value_or("");
            ASSERT_TRUE(device.Write(command.data(), command.size()));
            EXPECT_EQ(pty.Read(command.size()), command);
        }
    EXPECT_EQ(pty.ReadAvailable(), "");
}

TEST_F(GPSDeviceTest, LinesComeOutInOrderWithOneNotificationPerLine)
{
    const std::string badChecksum =
        "$GPGGA,123520,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*48\r\n";
    const std::string bareLf = "$GPVTG,296.61,T,,M,0.00,N,0.0,K,A*07\n";
    ASSERT_TRUE(pty.Write(kGga + badChecksum + kRmc + bareLf + kGsa));
    ASSERT_TRUE(notifications.WaitFor(5));
    EXPECT_EQ(PopTexts(device), (std::vector<std::string>{kGga, kRmc, kGsa}));
    EXPECT_TRUE(PopTexts(device).empty());
}

// Each queued line says where it stands in the epochs: the stream's first line and the first of
// a new time begin one, and
// once an epoch has ended with a VTG, the next VTG is taken as its epoch's end and notified so.
TEST_F(GPSDeviceTest, LinesCarryTheirEpochMarksAndTheLearntEndIsNotified)
{
    const auto epoch = [](const char* time) {
        return WithChecksum(std::string("$GPGGA,") + time + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
               kGsa + kVtg;
    };
    ASSERT_TRUE(pty.Write(epoch("123519") + epoch("123520") + epoch("123521")));
    ASSERT_TRUE(notifications.WaitFor(9));
    std::vector<ReceivedLine> lines;
    ASSERT_EQ(device.PopLines(lines), 9u);
    std::vector<std::pair<bool, bool>> marks;
    for (const ReceivedLine& line : lines)
        marks.emplace_back(line.epoch.began, line.epoch.ends);
    const std::vector<std::pair<bool, bool>> expected{{true, false},  {false, false}, {false, false},
                                                      {true, false},  {false, false}, {false, true},
                                                      {true, false},  {false, false}, {false, true}};
    EXPECT_EQ(marks, expected);
    EXPECT_TRUE(completions.WaitFor(2));
    EXPECT_EQ(completions.Value(), 2);
}

TEST_F(GPSDeviceTest, SentenceSplitOverTwoWritesIsHandledOnceWhole)
{
    const std::size_t half = 30;
    ASSERT_TRUE(pty.Write(kGga.substr(0, half)));
    ASSERT_TRUE(device.bytesSeen.WaitFor(static_cast<int>(half)));
    EXPECT_EQ(notifications.Value(), 0);
    EXPECT_TRUE(PopTexts(device).empty());

    ASSERT_TRUE(pty.Write(kGga.substr(half)));
    ASSERT_TRUE(notifications.WaitFor(1));
    ASSERT_TRUE(device.bytesSeen.WaitFor(static_cast<int>(kGga.size())));
    EXPECT_EQ(notifications.Value(), 1);
    EXPECT_EQ(PopTexts(device), std::vector<std::string>{kGga});
}

TEST_F(GPSDeviceTest, SnapshotHoldsTheDecodedSentences)
{
    ASSERT_TRUE(pty.Write(kGga + kGsa));
    ASSERT_TRUE(notifications.WaitFor(2));
    GpsData gps{};
    EXPECT_EQ(PopTexts(device, &gps).size(), 2u);
    EXPECT_EQ(gps.hour, 12);
    EXPECT_EQ(gps.minute, 35);
    EXPECT_EQ(gps.second, 19);
    EXPECT_FLOAT_EQ(gps.latitude, 48.117302f);
    EXPECT_FLOAT_EQ(gps.longitude, 11.516667f);
    EXPECT_FLOAT_EQ(gps.altitude, 545.4f);
    EXPECT_EQ(gps.fixMode, 3);
    EXPECT_FLOAT_EQ(gps.pdop, 2.8f);
    EXPECT_FLOAT_EQ(gps.hdop, 1.7f);
}

TEST_F(GPSDeviceTest, WrongChecksumChangesNothingButStillNotifies)
{
    ASSERT_TRUE(pty.Write(kGga));
    ASSERT_TRUE(notifications.WaitFor(1));
    GpsData before{};
    EXPECT_EQ(PopTexts(device, &before), std::vector<std::string>{kGga});

    // The record a later line carries shows what the damaged one left.
    ASSERT_TRUE(pty.Write("$GPGGA,235959,5000.000,S,02000.000,W,1,08,0.9,11.0,M,46.9,M,,*00\r\n" + kGsa));
    ASSERT_TRUE(notifications.WaitFor(3));
    GpsData after{};
    EXPECT_EQ(PopTexts(device, &after), std::vector<std::string>{kGsa});
    EXPECT_EQ(after.hour, before.hour);
    EXPECT_EQ(after.latitude, before.latitude);
    EXPECT_EQ(after.altitude, before.altitude);
    EXPECT_EQ(notifications.Value(), 3);
}

TEST_F(GPSDeviceTest, LineOf1023BytesIsHandledAndLongerOnesAreDropped)
{
    const std::string longest = SentenceOfLength(1023);
    const std::string tooLong = SentenceOfLength(1024);
    ASSERT_TRUE(IsChecksumValid(longest));
    ASSERT_TRUE(IsChecksumValid(tooLong));
    ASSERT_TRUE(pty.Write(longest + tooLong + kVtg));
    ASSERT_TRUE(notifications.WaitFor(2));
    ASSERT_TRUE(device.bytesSeen.WaitFor(static_cast<int>(1023 + 1024 + kVtg.size())));
    EXPECT_EQ(PopTexts(device), (std::vector<std::string>{longest, kVtg}));
    EXPECT_EQ(notifications.Value(), 2);
}

TEST_F(GPSDeviceTest, GarbageWithoutLineEndsDoesNotBlockLaterSentences)
{
    // More than the receive ring holds, with no LF: formerly every later line was lost.
    std::string garbage;
    for (int i = 0; garbage.size() < 40000; ++i)
        garbage += "$GPGSV,3,1,11,30,79,308,20*75\r"[i % 30];
    ASSERT_TRUE(pty.Write(garbage + "\n" + kRmc + kGsa));
    ASSERT_TRUE(notifications.WaitFor(2));
    ASSERT_TRUE(
        device.bytesSeen.WaitFor(static_cast<int>(garbage.size() + 1 + kRmc.size() + kGsa.size())));
    EXPECT_EQ(PopTexts(device), (std::vector<std::string>{kRmc, kGsa}));
    EXPECT_EQ(notifications.Value(), 2);
}

TEST_F(GPSDeviceTest, ClosingTheReceiverSideStopsTheDeviceAndSaysSo)
{
    Counter stopped;
    boost::signals2::scoped_connection stopConnection =
        device.ConnectStoppedNotification([&] { stopped.Raise(); });
    ASSERT_TRUE(pty.Write(kGga + kRmc.substr(0, 20)));
    ASSERT_TRUE(notifications.WaitFor(1));
    EXPECT_FALSE(device.HasStoppedOnItsOwn());

    pty.CloseMaster();
    ASSERT_TRUE(stopped.WaitFor(1));
    EXPECT_TRUE(device.HasStoppedOnItsOwn());
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(stopped.Value(), 1);
    EXPECT_EQ(notifications.Value(), 1);
    EXPECT_EQ(PopTexts(device), std::vector<std::string>{kGga});
}

TEST_F(GPSDeviceTest, CloseDoesNotFireTheStoppedSignal)
{
    Counter stopped;
    boost::signals2::scoped_connection stopConnection =
        device.ConnectStoppedNotification([&] { stopped.Raise(); });
    ASSERT_TRUE(pty.Write(kGga));
    ASSERT_TRUE(notifications.WaitFor(1));
    device.Close();
    EXPECT_FALSE(device.HasStoppedOnItsOwn());
    EXPECT_EQ(stopped.Value(), 0);
}

TEST_F(GPSDeviceTest, SnapshotAndQueuedLinesOutliveACloseAndReopen)
{
    ASSERT_TRUE(pty.Write(kGga + kRmc));
    ASSERT_TRUE(notifications.WaitFor(2));
    device.Close();
    ASSERT_TRUE(device.OpenPort(pty.SlavePortName(), 9600));
    GpsData gps{};
    EXPECT_EQ(PopTexts(device, &gps), (std::vector<std::string>{kGga, kRmc}));
    EXPECT_EQ(gps.day, 21);
    EXPECT_EQ(gps.month, 7);
    EXPECT_EQ(gps.year, 2006);

    ASSERT_TRUE(pty.Write(kGsa));
    ASSERT_TRUE(notifications.WaitFor(3));
    EXPECT_EQ(PopTexts(device), std::vector<std::string>{kGsa});
}

// The main frame drops its subscription on the user-interface thread while the reader
// thread may be firing.
TEST_F(GPSDeviceTest, SlotDisconnectedFromAnotherThreadWhileFiringIsSafe)
{
    std::atomic<int> first{0};
    Counter second;
    std::vector<int> slotState(64, 1);
    boost::signals2::connection dropped = device.ConnectNotification(
        [&](int)
        {
            const int calls = ++first;
            slotState[static_cast<std::size_t>(calls) % slotState.size()] += 1;
        });
    boost::signals2::scoped_connection kept =
        device.ConnectNotification([&](int) { second.Raise(); });

    int secondWhenDropped = -1;
    std::thread userInterface(
        [&]
        {
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (first < 20 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            dropped.disconnect();
            secondWhenDropped = second.Value();
        });

    const int lines = 300;
    std::thread receiver(
        [&]
        {
            for (int i = 0; i < lines; ++i)
                pty.Write(i % 2 ? kGga : kRmc);
        });
    receiver.join();
    userInterface.join();
    ASSERT_TRUE(second.WaitFor(lines));
    device.Close();
    EXPECT_FALSE(dropped.connected());
    EXPECT_GE(first.load(), 20);
    // At most the call under way when the disconnect returned, and the one for the next line
    // already begun, can follow it.
    EXPECT_LE(first.load(), secondWhenDropped + 2);
    EXPECT_EQ(second.Value(), lines);
    EXPECT_EQ(PopTexts(device).size(), static_cast<std::size_t>(lines));
}

TEST(GPSDeviceLifetime, CloseAndDestructionWhileDataFlowsNeverHang)
{
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    std::atomic<bool> pumping{true};
    std::thread receiver(
        [&]
        {
            while (pumping)
                pty.Write(kGga + kRmc + kGsa, 50ms);
        });
    for (int round = 0; round < 10; ++round)
    {
        Counter seen;
        auto device = std::make_unique<CGPSDevice>();
        boost::signals2::scoped_connection connection =
            device->ConnectNotification([&](int) { seen.Raise(); });
        ASSERT_TRUE(device->OpenPort(pty.SlavePortName(), 115200));
        ASSERT_TRUE(seen.WaitFor(3));
        if (round % 2)
        {
            device->Close();
            EXPECT_FALSE(device->HasStoppedOnItsOwn());
        }
        device.reset(); // the destructor closes a port still open
    }
    pumping = false;
    receiver.join();
}

} // namespace
