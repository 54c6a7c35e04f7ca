// orvane-nmea: the JSON of one state, the epochs of a log, and the program itself run on real
// captures, its output held against gpsd's reports for the same captures.
#include "tools/nmea/NmeaEpochs.h"

#include "gps/Accuracy.h"
#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"
#include "gps/Framer.h"
#include "gps/UbxDecoders.h"
#include "gps/NmeaTestSupport.h"
#include "support/Peers.h"
#include "support/Files.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
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
                "{\"mode\":3,\"lat\":48.1173,\"lon\":11.516666667,\"alt\":545.4}"},
        JsonRow{"RmcGivesTimeSpeedTrack",
                {WithChecksum("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W")},
                "{\"time\":\"2094-03-23T12:35:19.000Z\",\"mode\":2,\"lat\":48.1173,\"lon\":11.516666667,"
                "\"speed\":11.524,\"track\":84.4}"},
        // u-blox ZED-F9P, 7 decimals of a minute: all of them are in the nine decimals of a degree.
        JsonRow{"HighPrecisionPositionKeepsEveryDigit",
                {"$GNGGA,014500.00,4404.1306024,N,12118.8446777,W,4,12,0.58,1094.3,M,-21.4,M,1.0,0000*65\r\n"},
                "{\"mode\":3,\"lat\":44.068843373,\"lon\":-121.314077962,\"alt\":1094.3}"},
        JsonRow{"NoFixLeavesOutPositionAndMotion",
                {WithChecksum("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"),
                 WithChecksum("$GPGSA,A,1,,,,,,,,,,,,,9.9,9.8,9.7")},
                "{\"time\":\"2094-03-23T12:35:19.000Z\",\"mode\":1,\"hdop\":9.8,\"pdop\":9.9}"},
        JsonRow{"TwoDimensionalFixHasNoAltitude",
                {WithChecksum("$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,"),
                 WithChecksum("$GPGSA,A,2,,,,,,,,,,,,,2.5,1.3,2.1")},
                "{\"mode\":2,\"lat\":-48.1173,\"lon\":-11.516666667,\"hdop\":1.3,\"pdop\":2.5}"},
        JsonRow{"SatellitesWithTalkerAndUsed",
                {WithChecksum("$GPGSV,1,1,01,07,45,090,38"), WithChecksum("$GLGSV,1,1,01,65,10,300,"),
                 WithChecksum("$GNGSA,A,3,07,,,,,,,,,,,,2.5,1.3,2.1,1")},
                "{\"mode\":3,\"hdop\":1.3,\"pdop\":2.5,\"satellites\":["
                "{\"gnss\":\"GP\",\"prn\":7,\"gnssid\":0,\"svid\":7,\"el\":45,\"az\":90,\"ss\":38,\"used\":true},"
                "{\"gnss\":\"GL\",\"prn\":65,\"gnssid\":6,\"svid\":1,\"el\":10,\"az\":300,\"ss\":0,\"used\":false}]}"},
        JsonRow{"SatelliteWithoutPositionHasNoElevation",
                {WithChecksum("$GPGSV,1,1,02,07,45,090,38,193,,,27"), WithChecksum("$GPGSA,A,3,07,193,,,,,,,,,,,2.5,1.3,2.1")},
                "{\"mode\":3,\"hdop\":1.3,\"pdop\":2.5,\"satellites\":["
                "{\"gnss\":\"GP\",\"prn\":7,\"gnssid\":0,\"svid\":7,\"el\":45,\"az\":90,\"ss\":38,\"used\":true},"
                "{\"gnss\":\"GP\",\"prn\":193,\"gnssid\":5,\"svid\":1,\"ss\":27,\"used\":true}]}"},
        JsonRow{"AccuracyEstimatesAsEphEpv",
                {WithChecksum("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
                 WithChecksum("$GPGST,123519,0.006,0.023,0.020,273.6,0.3,0.4,1.5")},
                "{\"mode\":3,\"lat\":48.1173,\"lon\":11.516666667,\"alt\":545.4,\"eph\":0.5,\"epv\":1.5}"},
        JsonRow{"NoFixNoAccuracy",
                {WithChecksum("$GPGGA,123519,,,,,0,00,,,M,,M,,"), WithChecksum("$GPGST,123519,0.006,0.023,0.020,273.6,0.3,0.4,1.5")},
                "{\"mode\":1}"}),
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
    Result result;
    result.status = RunShell(command).status;
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

// What one side says of a capture: per UTC second (time of day, as gpsd dates neo-m8n by its
// own week-rollover guess) the mode and position, and every satellite ever in view.
struct SecondSaid
{
    int mode = 1; // gpsd's 0 (no word yet) counts as no fix
    std::string instant; // the time of day of the report that had the last word, to the ms
    std::optional<double> lat;
    std::optional<double> lon;
};

struct CaptureSaid
{
    std::map<std::string, SecondSaid> seconds;
    std::set<std::pair<int, int>> sky; // gnssid, svid
};

void ReadSky(const std::string& report, CaptureSaid& said)
{
    for (std::size_t at = report.find("{\"", report.find("\"satellites\":[")); at != std::string::npos;
         at = report.find("{\"", at + 1))
    {
        const std::string sat = report.substr(at, report.find('}', at) - at + 1);
        const auto gnssid = JsonNumber(sat, "gnssid");
        const auto svid = JsonNumber(sat, "svid");
        if (gnssid && svid)
            said.sky.insert({static_cast<int>(*gnssid), static_cast<int>(*svid)});
    }
}

// One TPV (gpsd) or epoch (ours): the last word on its second.
void ReadPosition(const std::string& report, CaptureSaid& said)
{
    const auto time = JsonMember(report, "time");
    if (!time || time->size() < 19)
        return;
    SecondSaid& second = said.seconds[time->substr(11, 8)];
    second.instant = time->substr(11);
    second.mode = std::max(1, static_cast<int>(JsonNumber(report, "mode").value_or(1)));
    second.lat = second.mode >= 2 ? JsonNumber(report, "lat") : std::nullopt;
    second.lon = second.mode >= 2 ? JsonNumber(report, "lon") : std::nullopt;
}

CaptureSaid GpsdSaid(const std::string& capture)
{
    CaptureSaid said;
    for (const std::string& line : ReadChkLines(capture))
    {
        if (JsonMember(line, "class") == std::string("TPV"))
            ReadPosition(line, said);
        else if (JsonMember(line, "class") == std::string("SKY"))
            ReadSky(line, said);
    }
    return said;
}

std::set<std::string> SecondsWithPosition(const CaptureSaid& said)
{
    std::set<std::string> seconds;
    for (const auto& [time, second] : said.seconds)
    {
        if (second.lat)
            seconds.insert(time);
    }
    return seconds;
}

// Captures where gpsd's report is not the receiver's word, and the checks left out for them.
enum CorpusCheck : unsigned
{
    kModes = 1u << 0,
    kPositions = 1u << 1,
    kPositionSeconds = 1u << 2,
    kSatellites = 1u << 3,
    kUsed = 1u << 4, // the most satellites used at once, in the summary
    kAllChecks = 0x1F,
};

struct CorpusException
{
    const char* capture;
    unsigned skipped;
    const char* why;
};

constexpr CorpusException kCorpusExceptions[] = {
    {"haicom-305N", kModes, "gpsd calls a fix 3D when GGA has an altitude; the receiver's GSA says 2D"},
    {"mtk-3301", kModes, "gpsd calls a fix 3D when GGA has an altitude; the receiver's GSA says 2D"},
    {"telit-pls83-w", kModes | kUsed,
     "gpsd calls a fix 3D when GGA has an altitude; the receiver's GSA says 2D. Its GSA names BeiDou 8, 11 and 13 "
     "used as 208, 211 and 213, which our decoder does not match to the BDGSV's 08, 11 and 13"},
    {"beidou-bd", kUsed, "its last GSAs (4 GPS used) follow its last GSV, and gpsd lists who is used only at a GSV"},
    {"hemi", kModes | kPositionSeconds,
     "for its first seconds GGA says quality 1 with 00 satellites in use, which gpsd counts as no fix"},
    {"holux-gm-210", kModes, "no date and no fix in the whole capture: no dated second to compare"},
    {"gp-320fw-2019-04-07-coldboot", kModes | kPositionSeconds | kSatellites | kUsed,
     "after the receiver restarts, gpsd keeps stamping its reports 00:03:45 and drops the damaged GSV"},
};

unsigned ChecksFor(const std::string& capture)
{
    for (const CorpusException& exception : kCorpusExceptions)
    {
        if (capture == exception.capture)
            return kAllChecks & ~exception.skipped;
    }
    return kAllChecks;
}

std::vector<std::string> CorpusCaptures()
{
    std::vector<std::string> captures;
    for (const std::filesystem::path& file : CaptureFiles())
        captures.push_back(file.stem().string());
    return captures;
}

// The binary captures, named with their extension as their .chk is: "ublox-neo-m8n.ubx".
std::vector<std::string> BinaryCaptures()
{
    std::vector<std::string> captures;
    for (const auto& entry : std::filesystem::directory_iterator(ORVANE_CORPUS_DIR))
    {
        if (entry.path().extension() == ".ubx")
            captures.push_back(entry.path().filename().string());
    }
    std::sort(captures.begin(), captures.end());
    return captures;
}

// The file of a capture: an NMEA capture is named without its extension.
std::string CaptureFile(const std::string& capture)
{
    return capture.find('.') == std::string::npos ? capture + ".nmea" : capture;
}

class ProgramOnCapture : public testing::TestWithParam<std::string>
{
};

// Every capture of the corpus against gpsd's reports for it: the mode of every second both
// speak of, the position (to the centimetre) of every second both give one, the seconds with
// a position, and the satellites in view, each counted once over the whole capture.
TEST_P(ProgramOnCapture, AgreesWithGpsd)
{
    TempFolder folder;
    const std::string capture = GetParam();
    const Result run = RunTool(folder, "'" + CorpusPath(CaptureFile(capture)) + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    CaptureSaid ours;
    for (const std::string& epoch : OutputLines(run.out))
    {
        ASSERT_EQ(epoch.front(), '{');
        ASSERT_EQ(epoch.back(), '}');
        ASSERT_NE(epoch, "{}");
        ReadPosition(epoch, ours);
        ReadSky(epoch, ours);
    }
    const CaptureSaid gpsd = GpsdSaid(capture);
    const unsigned checks = ChecksFor(capture);

    int modes = 0;
    int positions = 0;
    for (const auto& [time, theirs] : gpsd.seconds)
    {
        const auto mine = ours.seconds.find(time);
        if (mine == ours.seconds.end())
            continue;
        SCOPED_TRACE(time);
        ++modes;
        if (checks & kModes)
        {
            EXPECT_EQ(mine->second.mode, theirs.mode);
        }
        // Several epochs a second: the position of the same epoch, which gpsd's last report
        // of a capture (one it left unreported) may not be.
        if ((checks & kPositions) && mine->second.lat && theirs.lat && mine->second.instant == theirs.instant)
        {
            ++positions;
            EXPECT_NEAR(*mine->second.lat, *theirs.lat, 1e-7);
            EXPECT_NEAR(*mine->second.lon, *theirs.lon, 1e-7);
        }
    }
    if (checks & kModes)
    {
        EXPECT_GT(modes, 0) << "no second in common";
    }
    if ((checks & kPositions) && !SecondsWithPosition(gpsd).empty())
    {
        EXPECT_GT(positions, 0) << "no position of the same epoch";
    }
    if (checks & kPositionSeconds)
    {
        const auto mine = SecondsWithPosition(ours);
        const auto theirs = SecondsWithPosition(gpsd);
        std::string onlyMine;
        std::string onlyTheirs;
        // gpsd reports a second when the next one starts, so a capture's last goes unreported.
        for (const std::string& time : mine)
            onlyMine += theirs.count(time) || !gpsd.seconds.count(time) ? "" : " " + time;
        for (const std::string& time : theirs)
            onlyTheirs += mine.count(time) ? "" : " " + time;
        EXPECT_EQ(onlyMine + " |" + onlyTheirs, " |") << "seconds with a position: only ours | only gpsd's";
    }
    if (checks & kSatellites)
    {
        EXPECT_EQ(ours.sky, gpsd.sky);
    }
}

std::string CaptureTestName(const testing::TestParamInfo<std::string>& info)
{
    std::string name = info.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, ProgramOnCapture, testing::ValuesIn(CorpusCaptures()), CaptureTestName);
INSTANTIATE_TEST_SUITE_P(Binary, ProgramOnCapture, testing::ValuesIn(BinaryCaptures()), CaptureTestName);

// ---------------------------------------------------------------------------------------------
// The summary

// The text of a member that is an object (with no object inside), braces included.
std::string JsonObject(const std::string& json, const std::string& key)
{
    const std::size_t at = json.find("\"" + key + "\":{");
    if (at == std::string::npos)
        return "";
    const std::size_t begin = json.find('{', at);
    return json.substr(begin, json.find('}', begin) - begin + 1);
}

struct SummaryRow
{
    const char* name;
    std::vector<std::string> lines;
    std::string expected;
};

void PrintTo(const SummaryRow& row, std::ostream* os)
{
    *os << row.name;
}

class SummaryOfStream : public testing::TestWithParam<SummaryRow>
{
};

TEST_P(SummaryOfStream, OneObjectOfWorkedValues)
{
    TempFolder folder;
    const auto path = folder.Path() / "stream.nmea";
    {
        std::ofstream file(path, std::ios::binary);
        for (const std::string& line : GetParam().lines)
            file << line;
    }
    const Result run = RunTool(folder, "--summary '" + path.string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, GetParam().expected + "\n");
}

const std::string kGpsSky = WithChecksum("$GPGSV,1,1,03,07,45,090,38,09,30,180,35,12,10,270,");
const std::string kGlonassSky = WithChecksum("$GLGSV,1,1,02,65,20,045,30,66,15,300,");
const std::vector<std::string> kNoFixYet = {
    WithChecksum("$GPRMC,235958,V,,,,,,,311226,,"), WithChecksum("$GPGGA,235958,,,,,0,00,,,M,,M,,"), kGpsSky,
    WithChecksum("$GPGSA,A,1,,,,,,,,,,,,,99.0,99.0,99.0"), WithChecksum("$GPRMC,235959.500,V,,,,,,,311226,,")};

std::vector<std::string> Joined(std::vector<std::string> first, const std::vector<std::string>& then)
{
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

// The summary of kNoFixYet without its closing brace.
const std::string kNoFixSummary =
    "{\"epochs\":2,\"fixes\":{\"unknown\":0,\"none\":2,\"2d\":0,\"3d\":0},\"ttff\":null,\"cep50\":null,\"cep95\":null,"
    "\"hdop\":null,\"used_max\":{\"GPS\":0,\"all\":0},\"in_view_max\":{\"GPS\":3,\"all\":3}";

INSTANTIATE_TEST_SUITE_P(
    Rows, SummaryOfStream,
    testing::Values(
        SummaryRow{"NoFix", kNoFixYet,
                   "{\"epochs\":2,\"fixes\":{\"unknown\":0,\"none\":2,\"2d\":0,\"3d\":0},\"ttff\":null,"
                   "\"cep50\":null,\"cep95\":null,\"hdop\":null,\"used_max\":{\"GPS\":0,\"all\":0},"
                   "\"in_view_max\":{\"GPS\":3,\"all\":3}}"},
        // The first fix 3 s after the first epoch, over midnight and the new year. Fixes on the
        // equator 0, 1, 3 and 8 1e-5 degree (1.11195 m) east: mean 3, distances 3, 2, 0 and 5,
        // CEP50 (2 + 3) / 2, CEP95 the 4th of 4. HDOP 2, 1, 1.5, 1.5; the no-fix 99 does not count.
        // Most used at once: 3 GPS, 2 GLONASS, 4 in all (3 + 1, then 2 + 2).
        SummaryRow{"FixAfterMidnight",
                   Joined(kNoFixYet,
                          {WithChecksum("$GPRMC,000001,A,0000.0000,N,00000.0000,E,0.0,0.0,010127,,"),
                           WithChecksum("$GPGGA,000001,0000.0000,N,00000.0000,E,1,03,2.0,10.0,M,0.0,M,,"), kGpsSky,
                           WithChecksum("$GNGSA,A,2,07,09,12,,,,,,,,,,3.0,2.0,2.2"),
                           WithChecksum("$GPGGA,000002,0000.0000,N,00000.0006,E,1,04,1.0,10.0,M,0.0,M,,"), kGpsSky,
                           kGlonassSky, WithChecksum("$GNGSA,A,3,07,09,12,65,,,,,,,,,1.5,1.0,1.1"),
                           WithChecksum("$GPGGA,000003,0000.0000,N,00000.0018,E,1,04,1.5,10.0,M,0.0,M,,"), kGpsSky,
                           kGlonassSky, WithChecksum("$GNGSA,A,3,07,09,65,,,,,,,,,,2.0,1.5,1.3"),
                           WithChecksum("$GPGGA,000004,0000.0000,N,00000.0048,E,1,04,1.5,10.0,M,0.0,M,,"),
                           kGlonassSky, WithChecksum("$GNGSA,A,3,65,66,,,,,,,,,,,2.0,1.5,1.3")}),
                   "{\"epochs\":6,\"fixes\":{\"unknown\":0,\"none\":2,\"2d\":1,\"3d\":3},\"ttff\":3.000,"
                   "\"cep50\":2.780,\"cep95\":5.560,\"hdop\":{\"mean\":1.500,\"min\":1,\"max\":2},"
                   "\"used_max\":{\"GPS\":3,\"GLO\":2,\"all\":4},\"in_view_max\":{\"GPS\":3,\"GLO\":2,\"all\":5}}"},
        // Banners of families the corpus lacks, before the same two epochs.
        SummaryRow{"CasicBanner",
                   Joined({WithChecksum("$GPTXT,01,01,02,MA=CASIC"), WithChecksum("$GPTXT,01,01,02,IC=AT6558-5N-32-1C510800"),
                           WithChecksum("$GPTXT,01,01,02,SW=URANUS5,V5.3.0.0")},
                          kNoFixYet),
                   kNoFixSummary + R"(,"receiver":{"family":"CASIC","model":"AT6558","firmware":"URANUS5,V5.3.0.0"}})"},
        SummaryRow{"AirohaAnswer", Joined({WithChecksum("$PAIR021,AG3335MN_V2.1.0_20231103,S,N")}, kNoFixYet),
                   kNoFixSummary + R"(,"receiver":{"family":"Airoha","model":"AG3335","firmware":"V2.1.0"}})"},
        SummaryRow{"QuectelAnswer", Joined({WithChecksum("$PQTMVERNO,LG290P03AANR01A01S,2023/07/31,17:38:12")}, kNoFixYet),
                   kNoFixSummary +
                       R"(,"receiver":{"family":"Quectel","model":"Quectel LG290P","firmware":"LG290P03AANR01A01S"}})"},
        SummaryRow{"StVersion", Joined({WithChecksum("$PSTMVER,GNSSLIB_8.4.18.25_CP_ARM")}, kNoFixYet),
                   kNoFixSummary + R"(,"receiver":{"family":"ST","model":"Teseo","firmware":"GNSSLIB 8.4.18.25"}})"},
        // What a receiver says goes into a JSON string as it is, escaped.
        SummaryRow{"FirmwareWithQuotes", Joined({WithChecksum("$GPTXT,01,01,02,SW=\"V1\"\\2\t")}, kNoFixYet),
                   kNoFixSummary + R"(,"receiver":{"family":"CASIC","firmware":"\"V1\"\\2\u0009"}})"}),
    [](const auto& info) { return std::string(info.param.name); });

// What gpsd's reports on a capture add up to.
struct GpsdTotals
{
    std::map<int, int> fixSeconds; // per mode
    std::vector<double> hdops;
    std::map<int, int> usedMax; // per gnssid
    std::map<int, int> inViewMax;
    int uSatMax = 0; // the most satellites gpsd counted used at once, listed or not
};

GpsdTotals GpsdTotalsOf(const std::string& capture)
{
    GpsdTotals totals;
    for (const auto& [time, second] : GpsdSaid(capture).seconds)
        ++totals.fixSeconds[second.mode];
    std::string sentence;
    for (const std::string& line : ReadChkLines(capture))
    {
        if (line.empty() || line[0] != '{')
        {
            sentence = line.empty() ? sentence : line;
            continue;
        }
        if (JsonMember(line, "class") != std::string("SKY"))
            continue;
        totals.uSatMax = std::max(totals.uSatMax, static_cast<int>(JsonNumber(line, "uSat").value_or(0)));
        // The HDOP gpsd took from a GSA that says 2D or 3D: "$GNGSA,A,3,".
        const auto hdop = JsonNumber(line, "hdop");
        if (hdop && sentence.size() > 10 && sentence.compare(3, 4, "GSA,") == 0 &&
            (sentence.compare(8, 3, ",2,") == 0 || sentence.compare(8, 3, ",3,") == 0))
            totals.hdops.push_back(*hdop);
        // gpsd lists each signal of a satellite; a satellite counts once.
        std::map<int, std::set<int>> used;
        std::map<int, std::set<int>> inView;
        for (std::size_t at = line.find("{\"", line.find("\"satellites\":[")); at != std::string::npos;
             at = line.find("{\"", at + 1))
        {
            const std::string sat = line.substr(at, line.find('}', at) - at + 1);
            const auto gnssid = static_cast<int>(JsonNumber(sat, "gnssid").value_or(-1));
            const auto svid = static_cast<int>(JsonNumber(sat, "svid").value_or(-1));
            inView[gnssid].insert(svid);
            used[gnssid];
            if (JsonMember(sat, "used") == std::string("true"))
                used[gnssid].insert(svid);
        }
        for (const auto& [gnssid, svids] : inView)
        {
            totals.inViewMax[gnssid] = std::max(totals.inViewMax[gnssid], static_cast<int>(svids.size()));
            totals.usedMax[gnssid] = std::max(totals.usedMax[gnssid], static_cast<int>(used[gnssid].size()));
        }
    }
    return totals;
}

// Our per-constellation maxima, keyed by gpsd's gnssid through the constellation table.
std::map<int, int> MaximaByGnssid(const std::string& object)
{
    std::map<int, int> maxima;
    for (const GnssSystem system : kSystemsInOrder)
    {
        const Constellation& row = ConstellationOf(system);
        if (const auto count = JsonNumber(object, row.label); count && system != GnssSystem::Unknown)
            maxima[row.gpsdId] = static_cast<int>(*count);
    }
    return maxima;
}

class SummaryOnCapture : public testing::TestWithParam<std::string>
{
};

// Every capture's summary against what gpsd's reports add up to: the seconds of each fix mode
// (ours may be one more: gpsd never reports a capture's last second, nor the time of some),
// the CEP where gpsd placed every fix, the lowest and highest HDOP of a GSA with a fix, and
// the most satellites of each system listed and used at once.
TEST_P(SummaryOnCapture, AgreesWithGpsd)
{
    TempFolder folder;
    const std::string capture = GetParam();
    const Result run = RunTool(folder, "--summary '" + CorpusPath(capture + ".nmea") + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = OutputLines(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    const std::string& summary = lines.front();
    const GpsdTotals gpsd = GpsdTotalsOf(capture);
    const unsigned checks = ChecksFor(capture);
    const std::string fixes = JsonObject(summary, "fixes");

    if (checks & kModes)
    {
        for (const auto& [key, mode] : {std::pair{"2d", 2}, std::pair{"3d", 3}})
        {
            const int ours = static_cast<int>(JsonNumber(fixes, key).value_or(-1));
            const int theirs = gpsd.fixSeconds.count(mode) ? gpsd.fixSeconds.at(mode) : 0;
            EXPECT_GE(ours, theirs) << key;
            EXPECT_LE(ours, theirs + 1) << key;
        }
    }

    // Where gpsd gave a position for every fix epoch of ours (its last second included), the
    // CEP of its positions is ours.
    std::vector<GeoPoint> positions;
    for (const auto& [time, second] : GpsdSaid(capture).seconds)
    {
        if (second.lat && second.lon)
            positions.push_back({*second.lat, *second.lon});
    }
    if (!positions.empty() &&
        JsonNumber(fixes, "2d").value_or(0) + JsonNumber(fixes, "3d").value_or(0) == static_cast<double>(positions.size()))
    {
        const CepResult cep = ComputeCep(positions);
        EXPECT_NEAR(JsonNumber(summary, "cep50").value_or(-1), cep.cep50, 0.0005);
        EXPECT_NEAR(JsonNumber(summary, "cep95").value_or(-1), cep.cep95, 0.0005);
    }

    const std::string hdop = JsonObject(summary, "hdop");
    if (gpsd.hdops.empty())
    {
        EXPECT_NE(summary.find("\"hdop\":null"), std::string::npos) << summary;
    }
    else
    {
        // gpsd writes two decimals.
        EXPECT_NEAR(JsonNumber(hdop, "min").value_or(-1), *std::min_element(gpsd.hdops.begin(), gpsd.hdops.end()), 0.005);
        EXPECT_NEAR(JsonNumber(hdop, "max").value_or(-1), *std::max_element(gpsd.hdops.begin(), gpsd.hdops.end()), 0.005);
    }

    // A system that is used but that no GSV listed is shown with 0 in view; gpsd leaves it out.
    std::map<int, int> inView = MaximaByGnssid(JsonObject(summary, "in_view_max"));
    std::erase_if(inView, [](const auto& entry) { return entry.second == 0; });
    if (checks & kSatellites)
    {
        EXPECT_EQ(inView, gpsd.inViewMax);
    }
    if (checks & kUsed)
    {
        // gpsd counts the used satellites of the systems its sky lists; ours also counts those
        // a GSA names without a GSV (and the GGA's count without a GSA), which gpsd's uSat
        // shows where its sky is empty.
        std::map<int, int> used = MaximaByGnssid(JsonObject(summary, "used_max"));
        std::erase_if(used, [&](const auto& entry) { return !gpsd.inViewMax.contains(entry.first); });
        EXPECT_EQ(used, gpsd.usedMax);
        if (gpsd.inViewMax.empty())
        {
            EXPECT_EQ(JsonNumber(JsonObject(summary, "used_max"), "all").value_or(-1), gpsd.uSatMax);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, SummaryOnCapture, testing::ValuesIn(CorpusCaptures()), [](const auto& info) {
    std::string name = info.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
});

// The receiver: named in the summary and, once known, in every epoch's line.

struct ReceiverRow
{
    const char* capture;
    const char* summary; // the summary's receiver member, empty when absent
    const char* line;    // the last epoch line's receiver member
};

TEST(Program, CapturesWithABannerNameTheirReceiver)
{
    const ReceiverRow rows[] = {
        {"nl402u", R"j("receiver":{"family":"u-blox","model":"5","firmware":"EXT CORE 5.00"})j",
         R"j("receiver":"u-blox 5 (EXT CORE 5.00)")j"},
        {"ublox-lea-5h", R"j("receiver":{"family":"u-blox","model":"5","firmware":"EXT CORE 6.00"})j",
         R"j("receiver":"u-blox 5 (EXT CORE 6.00)")j"},
        {"ublox-f9p-hpnmea", R"j("receiver":{"family":"u-blox"})j", R"j("receiver":"u-blox")j"},
        {"mtk-3301", R"j("receiver":{"family":"MediaTek"})j", R"j("receiver":"MediaTek")j"},
        {"beidou-bd", R"j("receiver":{"family":"SiRF"})j", R"j("receiver":"SiRF")j"},
        {"quectelLC79D", "", ""},
        {"sirfstarv-nmea", "", ""},
        // Named by its MON-VER answer.
        {"ublox8-uniqid-monhw.ubx", R"j("receiver":{"family":"u-blox","model":"M8","firmware":"ROM CORE 3.01"})j",
         R"j("receiver":"u-blox M8 (ROM CORE 3.01)")j"},
    };
    for (const ReceiverRow& row : rows)
    {
        SCOPED_TRACE(row.capture);
        TempFolder folder;
        const std::string capture = row.capture;
        const std::string path = "'" + CorpusPath(capture.find('.') == std::string::npos ? capture + ".nmea" : capture) + "'";
        const Result summary = RunTool(folder, "--summary " + path);
        ASSERT_EQ(summary.status, 0) << summary.err;
        if (*row.summary)
        {
            EXPECT_TRUE(summary.out.ends_with("," + std::string(row.summary) + "}\n")) << summary.out;
        }
        else
        {
            EXPECT_EQ(summary.out.find("receiver"), std::string::npos) << summary.out;
        }

        const Result epochs = RunTool(folder, path);
        ASSERT_EQ(epochs.status, 0) << epochs.err;
        const std::vector<std::string> lines = OutputLines(epochs.out);
        ASSERT_FALSE(lines.empty());
        if (*row.line)
        {
            EXPECT_TRUE(lines.back().ends_with("," + std::string(row.line) + "}")) << lines.back();
        }
        // Once named, every line after names it.
        bool named = false;
        for (const std::string& line : lines)
        {
            const bool has = line.find("\"receiver\":") != std::string::npos;
            EXPECT_TRUE(has || !named) << line;
            named = has;
        }
        EXPECT_EQ(named, *row.line != '\0');
    }
}

// NMEA and UBX in one stream, with junk between frames and gpsd's comment lines in front: the
// UBX epochs are reported, and each NMEA line beside them leaves UBX's fields alone.
TEST(Program, MixedRawLogThroughTheFramer)
{
    TempFolder folder;
    const std::string ubx = ReadFile(CorpusPath("ublox-zed-f9p-rtk.ubx"));
    const std::string body = ubx.substr(CaptureHeaderLength(ubx));
    const std::string gga = WithChecksum("$GNGGA,110424.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
    std::string mixed = "# a raw log\n# second comment\n";
    Framer framer;
    framer.Feed(body);
    framer.Finish();
    for (Frame frame; framer.Next(frame);)
        mixed += frame.bytes + (frame.kind == FrameKind::Ubx && IsUbxEpochEnd(frame.bytes) ? "\x01\xFF" + gga : "");
    const auto log = folder.Path() / "mixed.ubx";
    std::ofstream(log, std::ios::binary) << mixed;

    const Result alone = RunTool(folder, "'" + CorpusPath("ublox-zed-f9p-rtk.ubx") + "'");
    const Result run = RunTool(folder, "'" + log.string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out == alone.out) << "the epochs differ";
    EXPECT_EQ(OutputLines(run.out).size(), 10u);
    EXPECT_NE(run.out.find("\"eph\":0.337,\"epv\":0.777"), std::string::npos);
}

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
                    BadInputRow{"SummaryOfNothing", "--summary @/binary.bin", "no NMEA sentences in @/binary.bin"},
                    BadInputRow{"UnknownOption", "--gpz x", "unknown option --gpz"},
                    BadInputRow{"KmlWithoutFile", "--kml", "--kml needs a file name"},
                    BadInputRow{"GpxWithoutFile", "--gpx", "--gpx needs a file name"},
                    BadInputRow{"TwoLogs", "a b", "only one log at a time"},
                    BadInputRow{"KmlInMissingFolder", "--kml @/no/such/track.kml '" + CorpusPath("neo-m8n.nmea") + "'",
                                "cannot create @/no/such/track.kml"}),
    [](const auto& info) { return std::string(info.param.name); });

// The KML and GPX tracks: one point per epoch with a 2D or 3D fix, in the order of the log,
// written by the recording's writers.
// From NMEA fixes and from UBX ones alike.
TEST(Program, TracksHaveOnePointPerFixEpoch)
{
    for (const char* capture : {"haicom-305N.nmea", "ublox-neo-m8n.ubx"})
    {
        SCOPED_TRACE(capture);
        TempFolder folder;
        const auto kml = folder.Path() / "track.kml";
        const auto gpx = folder.Path() / "track.gpx";
        const Result run = RunTool(folder, "--kml '" + kml.string() + "' --gpx '" + gpx.string() + "' '" +
                                               CorpusPath(capture) + "'");
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
        // With --summary the track is the same, and has a point for each fix the summary counts.
        const auto summaryGpx = folder.Path() / "summary.gpx";
        const Result summary = RunTool(folder, "--summary --gpx '" + summaryGpx.string() + "' '" +
                                                   CorpusPath(capture) + "'");
        ASSERT_EQ(summary.status, 0) << summary.err;
        EXPECT_EQ(ReadFile(summaryGpx), gpxText);
        const std::string fixes = JsonObject(summary.out, "fixes");
        EXPECT_EQ(JsonNumber(fixes, "2d").value_or(0) + JsonNumber(fixes, "3d").value_or(0),
                  static_cast<double>(trkpts));
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
}

} // namespace
