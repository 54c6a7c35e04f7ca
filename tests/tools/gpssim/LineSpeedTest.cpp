// What a reader at the wrong speed gets from the simulator, and what the baud probe makes of it.
#include "device/BaudProbe.h"
#include "gps/NmeaFraming.h"
#include "tools/gpssim/LineSpeed.h"
#include "tools/gpssim/PseudoTerminal.h"

#include "serial/BaudRates.h"
#include "serial/CustomBaudRate.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace
{
const std::string kCycle = "$GPGGA,235800.000,3541.5000,N,13946.0000,E,1,08,1.0,40.0,M,39.0,M,,*68\r\n"
                           "$GPRMC,235800.000,A,3541.5000,N,13946.0000,E,0.00,0.0,311224,,,A*5A\r\n"
                           "$GPGSA,A,3,01,02,03,04,05,06,07,08,,,,,1.8,1.0,1.5*36\r\n";

struct SpotRow
{
    const char* what;
    std::vector<std::string> pieces;
    bool seen;
};

TEST(NmeaSpotter, SeesAValidSentenceHoweverItArrives)
{
    const std::string valid = "$GPGSA,A,3,01,02,03,04,05,06,07,08,,,,,1.8,1.0,1.5*36\r\n";
    ASSERT_TRUE(IsChecksumValid(valid));
    for (std::size_t at = 0; at < kCycle.size();)
    {
        const std::size_t end = kCycle.find('\n', at) + 1;
        ASSERT_TRUE(IsChecksumValid(kCycle.substr(at, end - at))) << at;
        at = end;
    }
    const SpotRow rows[] = {
        {"whole", {valid}, true},
        {"split in three", {valid.substr(0, 5), valid.substr(5, 30), valid.substr(35)}, true},
        {"after garbage without a line end", {"\xd3\x81\xfe\x24\x92", valid}, true},
        {"after a garbled line", {"\xa4\xc7\xd0\n", valid}, true},
        {"wrong checksum", {"$GPGSA,A,3,01,02,03,04,05,06,07,08,,,,,1.8,1.0,1.5*37\r\n"}, false},
        {"no line end yet", {valid.substr(0, valid.size() - 1)}, false},
        {"a bare LF", {"$GPGSA,A,3,01,02,03,04,05,06,07,08,,,,,1.8,1.0,1.5*36\n"}, false},
        {"the garbled cycle", {GarbleForWrongSpeed(kCycle)}, false},
        {"nothing", {}, false},
    };
    for (const SpotRow& row : rows)
    {
        SCOPED_TRACE(row.what);
        CNmeaSpotter spotter;
        bool seen = false;
        for (const std::string& piece : row.pieces)
            seen = spotter.Feed(piece.data(), piece.size());
        EXPECT_EQ(seen, row.seen);
    }
}

TEST(LineSpeed, GarbageKeepsLengthAndLineEndsAndNothingElse)
{
    const std::string garbled = GarbleForWrongSpeed(kCycle);
    ASSERT_EQ(garbled.size(), kCycle.size());
    for (std::size_t i = 0; i < kCycle.size(); ++i)
    {
        if (kCycle[i] == '\n')
            EXPECT_EQ(garbled[i], '\n') << i;
        else
            EXPECT_GE(static_cast<unsigned char>(garbled[i]), 0x80u) << i;
    }
    EXPECT_EQ(GarbleForWrongSpeed(""), "");
}

// The speed the other side sets on the slave is the one the session reads through the master,
// 14400 (no B-constant) included.
TEST(LineSpeed, PeerSpeedIsWhatTheOtherSideSet)
{
    PseudoTerminal terminal;
    std::string error;
    ASSERT_TRUE(terminal.Open(38400, error)) << error;
    EXPECT_EQ(PeerSpeed(terminal.MasterFd()), 38400) << "the simulator's own until someone sets one";
    const int slave = ::open(terminal.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    for (const int rate : {1200, 4800, 9600, 14400, 57600, 115200})
    {
        ASSERT_TRUE(SetCustomBaudRate(slave, rate));
        EXPECT_EQ(PeerSpeed(terminal.MasterFd()), rate);
    }
    ::close(slave);
}

struct OrderRow
{
    int current;
    std::vector<int> offered;
    std::vector<int> order;
};

TEST(BaudProbeOrder, UsualRatesFirstThenTheRestOfTheList)
{
    const std::vector<int> all(kBaudRates.begin(), kBaudRates.end());
    const OrderRow rows[] = {
        {9600, all, {4800, 38400, 115200, 57600, 19200, 1200, 2400, 14400}},
        {4800, all, {9600, 38400, 115200, 57600, 19200, 1200, 2400, 14400}},
        {115200, all, {4800, 9600, 38400, 57600, 19200, 1200, 2400, 14400}},
        {1200, {1200, 2400, 9600}, {9600, 2400}},
        {9600, {9600}, {}},
    };
    for (const OrderRow& row : rows)
        EXPECT_EQ(CBaudProbe::OrderToTry(row.offered, row.current), row.order) << row.current;
}
} // namespace
