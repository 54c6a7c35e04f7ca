#include "tools/gpssim/PseudoTerminal.h"
#include "tools/gpssim/SimOptions.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(SimOptions, AcceptsTheDocumentedOptions)
{
    SimOptions options;
    std::string error;
    ASSERT_TRUE(ParseOptions({}, options, error)) << error;
    EXPECT_EQ(options.baud, 4800);
    EXPECT_FALSE(options.seed);
    EXPECT_FALSE(options.startLatitude);
    EXPECT_FALSE(options.bLoop);
    EXPECT_FALSE(options.bStay);

    ASSERT_TRUE(ParseOptions({"--baud", "115200", "--seed=42", "--start", "-27.21,153.05", "--link",
                              "/tmp/gps", "--stay"},
                             options, error))
        << error;
    EXPECT_EQ(options.baud, 115200);
    EXPECT_EQ(options.seed, 42u);
    EXPECT_DOUBLE_EQ(*options.startLatitude, -27.21);
    EXPECT_DOUBLE_EQ(*options.startLongitude, 153.05);
    EXPECT_EQ(options.linkPath, "/tmp/gps");
    EXPECT_TRUE(options.bStay);

    ASSERT_TRUE(ParseOptions({"--replay", "log.txt", "--loop", "--baud=1200"}, options, error))
        << error;
    EXPECT_EQ(options.replayPath, "log.txt");
    EXPECT_TRUE(options.bLoop);
    EXPECT_EQ(options.baud, 1200);

    // --gnss sends forty satellites a second: a faster line unless one is asked for.
    ASSERT_TRUE(ParseOptions({"--gnss"}, options, error)) << error;
    EXPECT_TRUE(options.bGnss);
    EXPECT_EQ(options.baud, 38400);
    ASSERT_TRUE(ParseOptions({"--baud", "9600", "--gnss"}, options, error)) << error;
    EXPECT_EQ(options.baud, 9600);

    ASSERT_TRUE(ParseOptions({"--rate", "10"}, options, error)) << error;
    EXPECT_EQ(options.rate, 10);
    EXPECT_FALSE(options.bFastRestarts);
    ASSERT_TRUE(ParseOptions({"--fast-restarts"}, options, error)) << error;
    EXPECT_TRUE(options.bFastRestarts);

    EXPECT_FALSE(options.family);
    ASSERT_TRUE(ParseOptions({"--family", "ublox"}, options, error)) << error;
    EXPECT_EQ(options.family, ReceiverFamily::UBlox);
    EXPECT_FALSE(options.bNoBanner);
    ASSERT_TRUE(ParseOptions({"--family=casic", "--no-banner"}, options, error)) << error;
    EXPECT_EQ(options.family, ReceiverFamily::CASIC);
    EXPECT_TRUE(options.bNoBanner);

    SimOptions ubx;
    ASSERT_TRUE(ParseOptions({"--family", "ublox", "--ubx"}, ubx, error)) << error;
    EXPECT_TRUE(ubx.bUbx);
    EXPECT_EQ(ubx.baud, kGnssDefaultBaud) << "UBX beside NMEA needs the faster line";

    ASSERT_TRUE(ParseOptions({"--help"}, options, error));
    EXPECT_TRUE(options.bHelp);
    EXPECT_NE(UsageText().find("--replay FILE"), std::string::npos);
    EXPECT_NE(UsageText().find("--fast-restarts"), std::string::npos);
}

TEST(SimOptions, RejectsWhatItCannotHonour)
{
    const struct
    {
        const char* name;
        std::vector<std::string> args;
        const char* mentions;
    } rows[] = {
        {"baud below the range", {"--baud", "600"}, "--baud"},
        {"baud above the range", {"--baud", "230400"}, "--baud"},
        {"baud not a number", {"--baud", "fast"}, "fast"},
        {"baud with trailing text", {"--baud", "4800x"}, "4800x"},
        {"baud without value", {"--baud"}, "needs a value"},
        {"negative seed", {"--seed", "-1"}, "--seed"},
        {"start without comma", {"--start", "48.1"}, "--start"},
        {"start beyond the poles' band", {"--start", "89.5,10"}, "--start"},
        {"start longitude out of range", {"--start", "10,181"}, "--start"},
        {"loop without replay", {"--loop"}, "--replay"},
        {"seed with replay", {"--replay", "x.nmea", "--seed", "1"}, "--replay"},
        {"value given to a flag", {"--loop=yes"}, "takes no value"},
        {"gnss with replay", {"--replay", "x.nmea", "--gnss"}, "--gnss"},
        {"rate of zero", {"--rate", "0"}, "--rate"},
        {"rate above ten", {"--rate", "20"}, "--rate"},
        {"rate not dividing the second", {"--rate", "3"}, "--rate"},
        {"rate with replay", {"--replay", "x.nmea", "--rate", "5"}, "--rate"},
        {"fast restarts with replay", {"--replay", "x.nmea", "--fast-restarts"}, "--fast-restarts"},
        {"value given to fast restarts", {"--fast-restarts=2"}, "takes no value"},
        {"unknown family", {"--family", "garmin"}, "garmin"},
        {"family without value", {"--family"}, "needs a value"},
        {"family with replay", {"--replay", "x.nmea", "--family", "st"}, "--family"},
        {"no banner without family", {"--no-banner"}, "--family"},
        {"ubx without family", {"--ubx"}, "--family ublox"},
        {"ubx from another family", {"--family", "mediatek", "--ubx"}, "--family ublox"},
        {"unknown option", {"--bogus"}, "--bogus"},
        {"a bare word", {"4800"}, "4800"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        SimOptions options;
        std::string error;
        EXPECT_FALSE(ParseOptions(row.args, options, error));
        EXPECT_NE(error.find(row.mentions), std::string::npos) << error;
    }
}

TEST(PortNameFor, GivesTheNameOrvaneCompletesWithDev)
{
    EXPECT_EQ(PortNameFor("/dev/pts/5"), "pts/5");
    EXPECT_EQ(PortNameFor("/dev/ttyUSB0"), "ttyUSB0");
    EXPECT_EQ(PortNameFor("/tmp/gps"), "/tmp/gps");
}

class DeviceLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = m_temp.Path();
        ASSERT_FALSE(m_folder.empty());
    }
    TempFolder m_temp;
    fs::path m_folder;
};

TEST_F(DeviceLinkTest, PointsAtTheDeviceAndGoesAwayWithTheObject)
{
    const fs::path path = m_folder / "gps";
    {
        DeviceLink link;
        std::string error;
        ASSERT_TRUE(link.Create(path.string(), "/dev/pts/77", error)) << error;
        EXPECT_TRUE(fs::is_symlink(path));
        EXPECT_EQ(fs::read_symlink(path), "/dev/pts/77");
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
}

TEST_F(DeviceLinkTest, ReplacesALinkLeftBehindButNeverAnythingElse)
{
    const fs::path stale = m_folder / "stale";
    fs::create_symlink("/dev/pts/1", stale);
    DeviceLink link;
    std::string error;
    ASSERT_TRUE(link.Create(stale.string(), "/dev/pts/2", error)) << error;
    EXPECT_EQ(fs::read_symlink(stale), "/dev/pts/2");
    link.Remove();
    EXPECT_FALSE(fs::exists(fs::symlink_status(stale)));

    const fs::path file = m_folder / "file";
    std::ofstream(file) << "precious";
    EXPECT_FALSE(link.Create(file.string(), "/dev/pts/2", error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    link.Remove();
    std::ifstream in(file);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "precious");

    const fs::path folder = m_folder / "folder";
    fs::create_directory(folder);
    EXPECT_FALSE(link.Create(folder.string(), "/dev/pts/2", error));
    EXPECT_TRUE(fs::is_directory(folder));

    EXPECT_FALSE(link.Create((m_folder / "no" / "such" / "gps").string(), "/dev/pts/2", error));
    EXPECT_FALSE(error.empty());
}

TEST_F(DeviceLinkTest, LeavesALinkThatSomeoneElseRepointed)
{
    const fs::path path = m_folder / "gps";
    DeviceLink link;
    std::string error;
    ASSERT_TRUE(link.Create(path.string(), "/dev/pts/3", error)) << error;
    fs::remove(path);
    fs::create_symlink("/dev/ttyUSB0", path);
    link.Remove();
    EXPECT_EQ(fs::read_symlink(path), "/dev/ttyUSB0");
}
