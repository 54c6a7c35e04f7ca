// orvane-nmea: the JSON of one state, the epochs of a log, and the program itself run on real
// captures, its output held against gpsd's reports for the same captures.
#include "tools/nmea/NmeaEpochs.h"

#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"
#include "gps/NmeaTestSupport.h"
#include "support/Peers.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace
{

using nmea_test::CorpusPath;
using nmea_test::CutLines;
using nmea_test::JsonMember;
using nmea_test::JsonNumber;
using nmea_test::ReadChkLines;
using nmea_test::ReadFile;
using nmea_test::WithChecksum;

// ---------------------------------------------------------------------------------------------
// One state as JSON

struct JsonRow
{
    const char* name;
    std::vector<std::string> lines;
    const char* expected;
};

void PrintTo(const JsonRow& row, std::ostream* os)
{
    *os << row.name;
}

class EpochJsonTest : public testing::TestWithParam<JsonRow>
{
};

TEST_P(EpochJsonTest, GpsdNamesOnlyKnownValues)
{
    GpsData gps;
    for (const std::string& line : GetParam().lines)
        DecodeSentence(line, gps);
    EXPECT_EQ(EpochJson(gps), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EpochJsonTest,
    testing::Values(
        JsonRow{"NothingYet", {}, "{}"},
        JsonRow{"TimeWithoutDateLeftOut",
                {WithChecksum("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,")},
                "{\"lat\":48.117302,\"lon\":11.516667,\"alt\":545.4}"},
        JsonRow{"RmcGivesTimeSpeedTrack",
                {WithChecksum("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W")},
                "{\"time\":\"2094-03-23T12:35:19.000Z\",\"lat\":48.117302,\"lon\":11.516667,"
                "\"speed\":11.524,\"track\":84.4}"},
        JsonRow{"NoFixLeavesOutPositionAndMotion",
                {WithChecksum("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"),
                 WithChecksum("$GPGSA,A,1,,,,,,,,,,,,,9.9,9.8,9.7")},
                "{\"time\":\"2094-03-23T12:35:19.000Z\",\"mode\":1,\"hdop\":9.8,\"pdop\":9.9}"},
        JsonRow{"TwoDimensionalFixHasNoAltitude",
                {WithChecksum("$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,"),
                 WithChecksum("$GPGSA,A,2,,,,,,,,,,,,,2.5,1.3,2.1")},
                "{\"mode\":2,\"lat\":-48.117302,\"lon\":-11.516667,\"hdop\":1.3,\"pdop\":2.5}"},
        JsonRow{"SatellitesWithTalkerAndUsed",
                {WithChecksum("$GPGSV,1,1,01,07,45,090,38"), WithChecksum("$GLGSV,1,1,01,65,10,300,"),
                 WithChecksum("$GNGSA,A,3,07,,,,,,,,,,,,2.5,1.3,2.1,1")},
                "{\"mode\":3,\"hdop\":1.3,\"pdop\":2.5,\"satellites\":["
                "{\"gnss\":\"GP\",\"prn\":7,\"el\":45,\"az\":90,\"ss\":38,\"used\":true},"
                "{\"gnss\":\"GL\",\"prn\":65,\"el\":10,\"az\":300,\"ss\":0,\"used\":false}]}"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Epochs

std::vector<GpsData> Epochs(const std::vector<std::string>& lines)
{
    std::vector<GpsData> epochs;
    EpochSplitter splitter([&epochs](const GpsData& gps) { epochs.push_back(gps); });
    for (const std::string& line : lines)
        splitter.Feed(line);
    splitter.Finish();
    return epochs;
}

// SiRFstarV: GPGGA, GLGGA, two GNGSA and GNRMC per second; each second is one epoch, ending
// with its GNRMC, however many sentences it has.
TEST(EpochSplitter, EachSecondOneEpochEndingWithItsLastSentence)
{
    const auto lines = CutLines(ReadFile(CorpusPath("sirfstarv-nmea.nmea")));
    const auto epochs = Epochs(lines);
    std::map<int, int> seconds;
    int rmcs = 0;
    for (const std::string& line : lines)
    {
        if (line.rfind("$GNRMC", 0) == 0 && IsChecksumValid(line))
            ++rmcs;
    }
    ASSERT_GT(rmcs, 10);
    EXPECT_EQ(static_cast<int>(epochs.size()), rmcs);
    for (const GpsData& gps : epochs)
        ++seconds[gps.hour * 3600 + gps.minute * 60 + gps.second];
    EXPECT_EQ(seconds.size(), epochs.size()) << "a second split over two epochs";
    // The first epoch ends after 02:09:35's GNRMC, before 02:09:36's GPGGA.
    EXPECT_EQ(epochs.front().second, 35);
    EXPECT_FLOAT_EQ(epochs.front().speed, 0.04f);
}

TEST(EpochSplitter, BareLineFeedsGetTheirCarriageReturnBack)
{
    std::vector<std::string> lines;
    for (std::string line : CutLines(ReadFile(CorpusPath("sirfstarv-nmea.nmea"))))
    {
        if (line.size() >= 2 && line[line.size() - 2] == '\r')
            line.erase(line.size() - 2, 1);
        lines.push_back(line);
    }
    const auto bare = Epochs(lines);
    const auto crlf = Epochs(CutLines(ReadFile(CorpusPath("sirfstarv-nmea.nmea"))));
    ASSERT_EQ(bare.size(), crlf.size());
    ASSERT_FALSE(bare.empty());
    EXPECT_EQ(EpochJson(bare.back()), EpochJson(crlf.back()));
}

// ---------------------------------------------------------------------------------------------
// The program

struct Result
{
    int status = -1;
    std::string out;
    std::string err;
};

// Runs orvane-nmea through the shell, so that standard input can come from a file.
Result RunTool(const TempFolder& folder, const std::string& args, const std::string& stdinFile = "/dev/null")
{
    const auto out = folder.Path() / "stdout";
    const auto err = folder.Path() / "stderr";
    const std::string command = std::string("'") + ORVANE_NMEA_EXE + "' " + args + " < '" + stdinFile + "' > '" +
                                out.string() + "' 2> '" + err.string() + "'";
    const int raw = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

std::vector<std::string> OutputLines(const std::string& out)
{
    std::vector<std::string> lines;
    for (std::string line : CutLines(out))
    {
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

class ProgramOnCapture : public testing::TestWithParam<const char*>
{
};

// Every epoch with a time agrees with gpsd's last position report for that second. Seconds
// are matched by time of day: gpsd keeps fractions the record drops, and dates neo-m8n by
// its own week-rollover guess.
TEST_P(ProgramOnCapture, EpochsAgreeWithGpsd)
{
    TempFolder folder;
    const std::string capture = GetParam();
    const Result run = RunTool(folder, "'" + CorpusPath(capture + ".nmea") + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    std::map<std::string, std::string> tpvByTime;
    for (const std::string& line : ReadChkLines(capture))
    {
        if (JsonMember(line, "class") == std::string("TPV") && JsonMember(line, "time") && JsonMember(line, "lat"))
            tpvByTime[JsonMember(line, "time")->substr(11, 8)] = line;
    }

    int compared = 0;
    for (const std::string& epoch : OutputLines(run.out))
    {
        ASSERT_EQ(epoch.front(), '{');
        ASSERT_EQ(epoch.back(), '}');
        const auto time = JsonMember(epoch, "time");
        if (!time || !JsonMember(epoch, "lat"))
            continue;
        const auto tpv = tpvByTime.find(time->substr(11, 8));
        if (tpv == tpvByTime.end())
            continue;
        SCOPED_TRACE(epoch);
        ++compared;
        // Floats near 153 degrees lie 1.5e-5 apart; the shortest text of one is off by up to twice that.
        EXPECT_NEAR(*JsonNumber(epoch, "lat"), *JsonNumber(tpv->second, "lat"), 3e-5);
        EXPECT_NEAR(*JsonNumber(epoch, "lon"), *JsonNumber(tpv->second, "lon"), 3e-5);
        if (const auto speed = JsonNumber(tpv->second, "speed"); speed && JsonMember(epoch, "speed"))
        {
            EXPECT_NEAR(*JsonNumber(epoch, "speed"), *speed, 1e-3);
        }
    }
    EXPECT_GT(compared, 5);
}

INSTANTIATE_TEST_SUITE_P(Captures, ProgramOnCapture,
                         testing::Values("neo-m8n", "sirfstarv-nmea", "quectelLC79D", "ublox-f9p-hpnmea",
                                         "haicom-305N"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

TEST(Program, StandardInputLikeAFile)
{
    TempFolder folder;
    const std::string capture = CorpusPath("neo-m8n.nmea");
    const Result named = RunTool(folder, "'" + capture + "'");
    const Result piped = RunTool(folder, "", capture);
    const Result dash = RunTool(folder, "-", capture);
    ASSERT_EQ(named.status, 0);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(dash.status, 0);
    EXPECT_FALSE(named.out.empty());
    EXPECT_EQ(piped.out, named.out);
    EXPECT_EQ(dash.out, named.out);
}

// Garbage, a truncated sentence, a wrong checksum and binary bytes between the sentences
// change nothing: each damaged line is skipped.
TEST(Program, DamagedLinesAreSkipped)
{
    TempFolder folder;
    std::string damaged;
    int n = 0;
    for (const std::string& line : CutLines(ReadFile(CorpusPath("neo-m8n.nmea"))))
    {
        damaged += line;
        switch (++n % 40)
        {
        case 5: damaged += "garbage without any sense\r\n"; break;
        case 10: damaged += "$GNRMC,171930.00,A,4404.1\r\n"; break;
        case 15: damaged += "$GNGGA,171926.00,4404.14063,N,12118.85478,W,1,12,0.91,1147.2,M,-21.3,M,,*45\r\n"; break;
        case 20: damaged += std::string("\x00\xff\xfe$\x01\r\n", 7); break;
        default: break;
        }
    }
    const auto path = folder.Path() / "damaged.nmea";
    std::ofstream(path, std::ios::binary) << damaged;
    const Result clean = RunTool(folder, "'" + CorpusPath("neo-m8n.nmea") + "'");
    const Result run = RunTool(folder, "'" + path.string() + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, clean.out);
}

struct BadInputRow
{
    const char* name;
    std::string args;
    const char* message;
};

void PrintTo(const BadInputRow& row, std::ostream* os)
{
    *os << row.name;
}

class BadInput : public testing::TestWithParam<BadInputRow>
{
};

TEST_P(BadInput, ClearMessageAndStatusOne)
{
    TempFolder folder;
    std::ofstream(folder.Path() / "binary.bin", std::ios::binary) << std::string("\x7f" "ELF\x02\x01\x01\0\0\n\0\x03", 13);
    std::string args = GetParam().args;
    for (std::size_t at; (at = args.find("@")) != std::string::npos;)
        args.replace(at, 1, folder.Path().string());
    std::string message = GetParam().message;
    for (std::size_t at; (at = message.find("@")) != std::string::npos;)
        message.replace(at, 1, folder.Path().string());
    const Result run = RunTool(folder, args);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BadInput,
    testing::Values(BadInputRow{"MissingFile", "@/none.nmea", "orvane-nmea: cannot read @"},
                    BadInputRow{"Folder", "@", "Is a directory"},
                    BadInputRow{"BinaryFile", "@/binary.bin", "no NMEA sentences in @/binary.bin"},
                    BadInputRow{"EmptyInput", "", "no NMEA sentences in standard input"},
                    BadInputRow{"UnknownOption", "--gpz x", "unknown option --gpz"},
                    BadInputRow{"KmlWithoutFile", "--kml", "--kml needs a file name"},
                    BadInputRow{"GpxWithoutFile", "--gpx", "--gpx needs a file name"},
                    BadInputRow{"TwoLogs", "a b", "only one log at a time"},
                    BadInputRow{"KmlInMissingFolder", "--kml @/no/such/track.kml '" + CorpusPath("neo-m8n.nmea") + "'",
                                "cannot create @/no/such/track.kml"}),
    [](const auto& info) { return std::string(info.param.name); });

// The KML and GPX tracks: one point per epoch with a 2D or 3D fix, in the order of the log,
// written by the recording's writers.
TEST(Program, TracksHaveOnePointPerFixEpoch)
{
    TempFolder folder;
    const auto kml = folder.Path() / "track.kml";
    const auto gpx = folder.Path() / "track.gpx";
    const Result run = RunTool(folder, "--kml '" + kml.string() + "' --gpx '" + gpx.string() + "' '" +
                                           CorpusPath("haicom-305N.nmea") + "'");
    ASSERT_EQ(run.status, 0) << run.err;

    std::vector<std::string> expected;
    for (const std::string& epoch : OutputLines(run.out))
    {
        const auto mode = JsonNumber(epoch, "mode");
        if (!mode || *mode < 2 || !JsonMember(epoch, "lat"))
            continue;
        expected.push_back(*JsonMember(epoch, "lon") + "," + *JsonMember(epoch, "lat"));
    }
    ASSERT_GT(expected.size(), 10u);

    const std::string text = ReadFile(kml);
    const std::size_t begin = text.find("<coordinates>");
    const std::size_t end = text.find("</coordinates>");
    ASSERT_NE(begin, std::string::npos) << text;
    std::vector<std::string> points;
    std::string block = text.substr(begin + 13, end - begin - 13);
    for (std::size_t at = 0; at < block.size();)
    {
        const std::size_t next = block.find('\n', at);
        std::string point = block.substr(at, next - at);
        point.erase(0, point.find_first_not_of(' '));
        if (!point.empty())
            points.push_back(point);
        at = next == std::string::npos ? block.size() : next + 1;
    }
    ASSERT_EQ(points.size(), expected.size());
    const std::string gpxText = ReadFile(gpx);
    std::size_t trkpts = 0;
    for (std::size_t at = gpxText.find("<trkpt "); at != std::string::npos; at = gpxText.find("<trkpt ", at + 1))
        ++trkpts;
    EXPECT_EQ(trkpts, expected.size());
    if (HaveTool("xmllint"))
    {
        const ToolResult valid = ValidateGpx(gpx);
        EXPECT_EQ(valid.status, 0) << valid.output;
    }
    for (std::size_t i = 0; i < points.size(); ++i)
    {
        // The writer adds the altitude; longitude and latitude agree to the float.
        const std::string lonLat = points[i].substr(0, points[i].rfind(','));
        const double lon = std::stod(lonLat.substr(0, lonLat.find(',')));
        const double lat = std::stod(lonLat.substr(lonLat.find(',') + 1));
        EXPECT_NEAR(lon, std::stod(expected[i].substr(0, expected[i].find(','))), 1e-5) << i;
        EXPECT_NEAR(lat, std::stod(expected[i].substr(expected[i].find(',') + 1)), 1e-5) << i;
    }
}

} // namespace
