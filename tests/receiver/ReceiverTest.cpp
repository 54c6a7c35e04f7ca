#include "device/GPSDevice.h"
#include "gps/Framer.h"
#include "receiver/ReceiverCommands.h"
#include "receiver/ReceiverIdentity.h"
#include "receiver/VersionProbe.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

using namespace std::chrono;

namespace
{

// The test's own sums, not the program's: an NMEA command's XOR, and a UBX message's Fletcher
// checksum over class, id, length and payload.
std::string Hex(std::uint8_t value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
    return text;
}

std::string XorOf(std::string_view sentence)
{
    std::uint8_t sum = 0;
    for (const char c : sentence.substr(1, sentence.find('*') - 1))
        sum ^= static_cast<std::uint8_t>(c);
    return Hex(sum);
}

std::pair<std::uint8_t, std::uint8_t> FletcherOf(std::string_view message)
{
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    for (const char c : message.substr(2, message.size() - 4))
    {
        a = static_cast<std::uint8_t>(a + static_cast<std::uint8_t>(c));
        b = static_cast<std::uint8_t>(b + a);
    }
    return {a, b};
}

// Checks each NMEA sentence and UBX message in `bytes` against the test's own sums; the
// number of messages found.
int ExpectWellFormed(std::string_view bytes)
{
    int messages = 0;
    while (!bytes.empty())
    {
        ++messages;
        if (bytes.starts_with("\xB5\x62"))
        {
            EXPECT_GE(bytes.size(), 8u);
            const std::size_t length = static_cast<std::uint8_t>(bytes[4]) | static_cast<std::uint8_t>(bytes[5]) << 8;
            const std::string_view message = bytes.substr(0, 8 + length);
            const auto [a, b] = FletcherOf(message);
            EXPECT_EQ(static_cast<std::uint8_t>(message[message.size() - 2]), a);
            EXPECT_EQ(static_cast<std::uint8_t>(message.back()), b);
            bytes.remove_prefix(message.size());
            continue;
        }
        EXPECT_EQ(bytes.front(), '$');
        const auto end = bytes.find("\r\n");
        EXPECT_NE(end, std::string_view::npos) << "every command ends in CR LF";
        const std::string_view sentence = bytes.substr(0, end);
        EXPECT_EQ(sentence.substr(sentence.size() - 3), "*" + XorOf(sentence)) << sentence;
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 2);
    }
    return messages;
}

const std::string kUbx = "\xB5\x62";

struct CommandRow
{
    ReceiverFamily family;
    std::string hot;
    std::string warm;
    std::string cold;
};

std::vector<CommandRow> CommandRows()
{
    return {
        {ReceiverFamily::SiRF, "$PSRF101,0,0,0,96000,497260,921,12,1*2E\r\n",
         "$PSRF101,0,0,0,96000,497260,921,12,2*2D\r\n", "$PSRF101,0,0,0,96000,497260,921,12,4*2B\r\n"},
        {ReceiverFamily::UBlox, kUbx + std::string("\x06\x04\x04\x00\x00\x00\x02\x00\x10\x68", 10),
         kUbx + std::string("\x06\x04\x04\x00\x01\x00\x02\x00\x11\x6C", 10),
         kUbx + std::string("\x06\x04\x04\x00\xFF\xFF\x02\x00\x0E\x61", 10)},
        {ReceiverFamily::MediaTek, "$PMTK101*32\r\n", "$PMTK102*31\r\n", "$PMTK103*30\r\n"},
        {ReceiverFamily::Airoha, "$PAIR004*3E\r\n", "$PAIR005*3F\r\n", "$PAIR006*3C\r\n"},
        {ReceiverFamily::Quectel, "$PQTMHOT*4B\r\n", "$PQTMWARM*11\r\n", "$PQTMCOLD*1C\r\n"},
        {ReceiverFamily::ST, "$PSTMHOT*49\r\n", "$PSTMWARM*13\r\n", "$PSTMCOLD*1E\r\n"},
        {ReceiverFamily::CASIC, "$PCAS10,0*1C\r\n", "$PCAS10,1*1D\r\n", "$PCAS10,2*1E\r\n"},
    };
}

} // namespace

TEST(RestartCommands, EachFamilyHasItsThreeCommandsWithTheirChecksums)
{
    const std::vector<CommandRow> rows = CommandRows();
    ASSERT_EQ(rows.size(), KnownFamilies().size());
    for (const CommandRow& row : rows)
    {
        SCOPED_TRACE(std::string(FamilyName(row.family)));
        const std::pair<RestartKind, const std::string&> kinds[] = {
            {RestartKind::Hot, row.hot}, {RestartKind::Warm, row.warm}, {RestartKind::Cold, row.cold}};
        for (const auto& [kind, expected] : kinds)
        {
            EXPECT_EQ(ExpectWellFormed(expected), 1);
            EXPECT_EQ(RestartCommand(row.family, kind), expected);
        }
    }
}

TEST(RestartCommands, SirfsAreFortyOneBytesAsEverAndAnUnknownReceiverGetsThem)
{
    const std::pair<RestartKind, char> resetConfigs[] = {
        {RestartKind::Hot, '1'}, {RestartKind::Warm, '2'}, {RestartKind::Cold, '4'}};
    for (const auto& [kind, resetConfig] : resetConfigs)
    {
        const std::string command = RestartCommand(ReceiverFamily::SiRF, kind).value_or("");
        EXPECT_EQ(command.size(), 41u);
        EXPECT_TRUE(command.starts_with("$PSRF101,0,0,0,96000,497260,921,12,")) << command;
        EXPECT_EQ(command[35], resetConfig);
        EXPECT_TRUE(command.ends_with("\r\n"));
        EXPECT_EQ(RestartCommand(ReceiverFamily::Unknown, kind), command);
    }
}

TEST(RestartCommands, TheVersionQueriesAreTheFourPoliteOnes)
{
    const std::string expected = kUbx + std::string("\x0A\x04\x00\x00\x0E\x34", 6) + "$PMTK605*31\r\n" +
                                 "$PQTMVERNO*58\r\n" + "$PCAS06,0*1B\r\n";
    EXPECT_EQ(ExpectWellFormed(expected), 4);
    EXPECT_EQ(VersionQueries(), expected);
}

struct AnswerRow
{
    const char* name;
    ReceiverFamily family;
    RestartKind kind;
    std::string line;
    bool answers;
};

TEST(RestartCommands, AnswersAreTheFamilysOwn)
{
    const AnswerRow rows[] = {
        {"MediaTek restarted", ReceiverFamily::MediaTek, RestartKind::Cold, "$PMTK010,001*2E\r\n", true},
        {"without CR LF", ReceiverFamily::MediaTek, RestartKind::Hot, "$PMTK010,001*2E", true},
        {"MediaTek woke up", ReceiverFamily::MediaTek, RestartKind::Cold, "$PMTK010,002*2D\r\n", false},
        {"wrong checksum", ReceiverFamily::MediaTek, RestartKind::Cold, "$PMTK010,001*2F\r\n", false},
        {"MediaTek's answer to another family", ReceiverFamily::Airoha, RestartKind::Cold, "$PMTK010,001*2E\r\n", false},
        {"Airoha acknowledges a cold start", ReceiverFamily::Airoha, RestartKind::Cold, NmeaCommand("PAIR001,006,0"), true},
        {"Airoha refuses a warm start", ReceiverFamily::Airoha, RestartKind::Warm, NmeaCommand("PAIR001,005,4"), true},
        {"Airoha acknowledges another command", ReceiverFamily::Airoha, RestartKind::Cold, NmeaCommand("PAIR001,004,0"), false},
        {"Airoha without result", ReceiverFamily::Airoha, RestartKind::Cold, NmeaCommand("PAIR001,006,"), false},
        {"u-blox answers nothing", ReceiverFamily::UBlox, RestartKind::Cold, NmeaCommand("PAIR001,006,0"), false},
        {"SiRF answers nothing", ReceiverFamily::SiRF, RestartKind::Cold, "$PMTK010,001*2E\r\n", false},
    };
    for (const AnswerRow& row : rows)
        EXPECT_EQ(AnswersRestart(row.family, row.kind, row.line), row.answers) << row.name;
}

TEST(FamilyTokens, EachFamilyReadsBackFromItsToken)
{
    std::map<std::string, ReceiverFamily> seen;
    for (const ReceiverFamily family : KnownFamilies())
    {
        const std::string token(FamilyToken(family));
        EXPECT_FALSE(FamilyName(family).empty());
        EXPECT_TRUE(seen.emplace(token, family).second) << token << " twice";
        EXPECT_EQ(ParseFamilyToken(token), family);
    }
    EXPECT_EQ(seen.size(), 7u);
    EXPECT_EQ(ParseFamilyToken("UBlox"), ReceiverFamily::UBlox);
    EXPECT_EQ(FamilyToken(ReceiverFamily::UBlox), "ublox");
    EXPECT_EQ(FamilyName(ReceiverFamily::UBlox), "u-blox");
    for (const char* other : {"", "u-blox", "sirf ", "unknown", "mtk"})
        EXPECT_EQ(ParseFamilyToken(other), std::nullopt) << other;
    EXPECT_EQ(FamilyToken(ReceiverFamily::Unknown), "");
}

// Recognition

struct IdentityRow
{
    const char* name;
    std::vector<std::string> lines;
    ReceiverFamily family;
    std::string display;
};

void PrintTo(const IdentityRow& row, std::ostream* os)
{
    *os << row.name;
}

class RecognisedFromLines : public testing::TestWithParam<IdentityRow>
{
};

TEST_P(RecognisedFromLines, FamilyModelAndFirmware)
{
    ReceiverRecogniser recogniser;
    for (const std::string& line : GetParam().lines)
        recogniser.FeedLine(line);
    EXPECT_EQ(recogniser.Identity().family, GetParam().family);
    EXPECT_EQ(recogniser.FamilyKnown(), GetParam().family != ReceiverFamily::Unknown);
    EXPECT_EQ(recogniser.Identity().DisplayName(), GetParam().display);
}

// Every capture of the corpus: those with a banner or proprietary sentences are recognised,
// the others stay unknown.
const std::map<std::string, std::pair<ReceiverFamily, std::string>> kCaptures = {
    {"nl402u", {ReceiverFamily::UBlox, "u-blox 5 (EXT CORE 5.00)"}},
    {"ublox-lea-5h", {ReceiverFamily::UBlox, "u-blox 5 (EXT CORE 6.00)"}},
    {"ublox-f9p-hpnmea", {ReceiverFamily::UBlox, "u-blox"}},  // only "txbuf alloc"
    {"mtk-3301", {ReceiverFamily::MediaTek, "MediaTek"}},     // $PMTK010,001 and $PMTKCHN
    {"beidou-bd", {ReceiverFamily::SiRF, "SiRF"}},            // $PSRFEPE, $PSRF151
    // Broadcom's $PGLOR: a family Orvane has no commands for.
    {"quectelLC79D", {ReceiverFamily::Unknown, ""}},
    // A modem's $PQGSV is no Quectel module's $PQTM.
    {"quectel-eg25-g", {ReceiverFamily::Unknown, ""}},
};

std::vector<IdentityRow> CaptureRows()
{
    std::vector<IdentityRow> rows;
    static std::vector<std::string> names;
    names.clear();
    for (const auto& path : CaptureFiles())
        names.push_back(path.stem().string());
    for (const std::string& name : names)
    {
        const auto known = kCaptures.find(name);
        const auto [family, display] = known == kCaptures.end() ? std::pair(ReceiverFamily::Unknown, std::string())
                                                                : known->second;
        rows.push_back({name.c_str(), CaptureLines(name + ".nmea"), family, display});
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Corpus, RecognisedFromLines, testing::ValuesIn(CaptureRows()), [](const auto& info) {
    std::string name = info.param.name;
    std::erase_if(name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); });
    return name;
});

// Banners of receivers the corpus lacks, as they print them.
INSTANTIATE_TEST_SUITE_P(
    Banners, RecognisedFromLines,
    testing::Values(
        IdentityRow{"UBlox8",
                    {NmeaCommand("GNTXT,01,01,02,u-blox AG - www.u-blox.com"), NmeaCommand("GNTXT,01,01,02,HW UBX-M8030 00080000"),
                     NmeaCommand("GNTXT,01,01,02,ROM CORE 3.01 (107888)"), NmeaCommand("GNTXT,01,01,02,FWVER=SPG 3.01"),
                     NmeaCommand("GNTXT,01,01,02,PROTVER=18.00"), NmeaCommand("GNTXT,01,01,02,MOD=NEO-M8N-0")},
                    ReceiverFamily::UBlox, "u-blox M8 (ROM CORE 3.01)"},
        IdentityRow{"UBloxProtocolVersionAlone", {NmeaCommand("GPTXT,01,01,02,PROTVER 14.00")}, ReceiverFamily::UBlox, "u-blox"},
        IdentityRow{"UBloxModuleWithoutHardware",
                    {NmeaCommand("GNTXT,01,01,02,PROTVER=27.12"), NmeaCommand("GNTXT,01,01,02,MOD=ZED-F9P")},
                    ReceiverFamily::UBlox, "u-blox ZED-F9P"},
        IdentityRow{"PubxSentence", {NmeaCommand("PUBX,00,000000.00,0000.00000,N")}, ReceiverFamily::UBlox, "u-blox"},
        IdentityRow{"MediaTekStartUp", {"$PMTK011,MTKGPS*08\r\n", "$PMTK010,001*2E\r\n"}, ReceiverFamily::MediaTek, "MediaTek"},
        IdentityRow{"MediaTekRelease",
                    {NmeaCommand("PMTK705,AXN_3.8_3333_16070500,0000,,1.0")},
                    ReceiverFamily::MediaTek, "MediaTek MT3333 (AXN_3.8)"},
        IdentityRow{"QuectelL70",
                    {"$PMTK011,MTKGPS*08\r\n", NmeaCommand("PMTK705,AXN_3.8_3333_16070500,0000,QUECTEL-L70,1.0")},
                    ReceiverFamily::MediaTek, "Quectel L70 (AXN_3.8)"},
        IdentityRow{"Airoha", {NmeaCommand("PAIR021,AG3335MN_V2.1.0_20231103,S,N")}, ReceiverFamily::Airoha,
                    "Airoha AG3335 (V2.1.0)"},
        IdentityRow{"QuectelLC29H", {NmeaCommand("PQTMVERNO,LC29HBANR11A03S,2023/05/12,15:55:03")},
                    ReceiverFamily::Airoha, "Quectel LC29H (LC29HBANR11A03S)"},
        IdentityRow{"QuectelLG290P", {NmeaCommand("PQTMVERNO,LG290P03AANR01A01S,2023/07/31,17:38:12")},
                    ReceiverFamily::Quectel, "Quectel LG290P (LG290P03AANR01A01S)"},
        IdentityRow{"QuectelStatusThenAiroha",
                    {NmeaCommand("PQTMEPE,2,1.0,1.0,2.0,1.4,2.4"), NmeaCommand("PAIR001,021,0")},
                    ReceiverFamily::Airoha, "Airoha"},
        IdentityRow{"StTeseo",
                    {NmeaCommand("PSTMVER,GNSSLIB_8.4.18.25_CP_ARM"), NmeaCommand("PSTMVER,OS20LIB_4.4.0_ARM")},
                    ReceiverFamily::ST, "ST Teseo (GNSSLIB 8.4.18.25)"},
        IdentityRow{"SirfStarIII",
                    {NmeaCommand("PSRFTXT,Version:GSW3.2.4_3.1.00.12-SDK003P1.00a "), NmeaCommand("PSRFTXT,TOW:  258712")},
                    ReceiverFamily::SiRF, "SiRFstar III (GSW3.2.4_3.1.00.12)"},
        IdentityRow{"CasicBanner",
                    {NmeaCommand("GPTXT,01,01,02,MA=CASIC"), NmeaCommand("GPTXT,01,01,02,IC=AT6558-5N-32-1C510800"),
                     NmeaCommand("GPTXT,01,01,02,SW=URANUS5,V5.3.0.0"), NmeaCommand("GPTXT,01,01,01,ANTENNA OK")},
                    ReceiverFamily::CASIC, "CASIC AT6558 (URANUS5,V5.3.0.0)"},
        IdentityRow{"CasicAntennaOnly", {NmeaCommand("GPTXT,01,01,01,ANTENNA OK")}, ReceiverFamily::CASIC, "CASIC"},
        IdentityRow{"WeakSignOverruledBySureOne",
                    {NmeaCommand("GPTXT,01,01,01,ANTENNA OPEN"), "$PMTK010,001*2E\r\n"}, ReceiverFamily::MediaTek,
                    "MediaTek"},
        IdentityRow{"SureSignNotOverruled",
                    {"$PMTK010,001*2E\r\n", NmeaCommand("GPTXT,01,01,02,u-blox AG - www.u-blox.com")},
                    ReceiverFamily::MediaTek, "MediaTek"},
        IdentityRow{"WrongChecksumIgnored", {"$PMTK011,MTKGPS*09\r\n"}, ReceiverFamily::Unknown, ""},
        IdentityRow{"PlainSentencesSayNothing",
                    {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n",
                     NmeaCommand("GPTXT,01,01,02,hello")},
                    ReceiverFamily::Unknown, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Recogniser, MonVerNamesAUBloxAndItsFirmware)
{
    ReceiverRecogniser recogniser;
    const std::vector<std::string> extensions = {"ROM BASE 0x118B2060", "FWVER=HPG 1.13", "PROTVER=27.31", "MOD=ZED-F9P"};
    EXPECT_TRUE(recogniser.FeedMonVer("EXT CORE 1.00 (f10c36)", "00190000", extensions));
    EXPECT_EQ(recogniser.Identity().family, ReceiverFamily::UBlox);
    EXPECT_EQ(recogniser.Identity().model, "9");
    EXPECT_EQ(recogniser.Identity().firmware, "EXT CORE 1.00");
    EXPECT_EQ(recogniser.Identity().protocolVersion, 2731);
    EXPECT_FALSE(recogniser.FeedMonVer("EXT CORE 1.00 (f10c36)", "00190000", extensions)) << "nothing new";

    ReceiverRecogniser banner;
    banner.FeedLine(NmeaCommand("GPTXT,01,01,02,PROTVER 14.00"));
    EXPECT_EQ(banner.Identity().protocolVersion, 1400);

    ReceiverRecogniser mediatek;
    mediatek.FeedLine("$PMTK010,001*2E\r\n");
    EXPECT_FALSE(mediatek.FeedMonVer("ROM CORE 3.01 (107888)", "00080000", {}));
    EXPECT_EQ(mediatek.Identity().family, ReceiverFamily::MediaTek);
}

TEST(Recogniser, TheFirstChangeIsReportedAndRepeatsAreNot)
{
    ReceiverRecogniser recogniser;
    EXPECT_FALSE(recogniser.FeedLine("$GPGSV,1,1,00*79\r\n"));
    EXPECT_TRUE(recogniser.FeedLine("$PMTK010,001*2E\r\n"));
    EXPECT_FALSE(recogniser.FeedLine("$PMTK010,001*2E\r\n"));
    EXPECT_TRUE(recogniser.FeedLine(NmeaCommand("PMTK705,AXN_3.8_3333_16070500,0000,,1.0")));
    recogniser.Reset();
    EXPECT_FALSE(recogniser.FamilyKnown());
}

struct UsbRow
{
    std::string vendor;
    std::string product;
    ReceiverFamily family;
    std::string display;
};

TEST(Recogniser, UsbIdsNameTheFamilyOrOnlyTheBridge)
{
    const UsbRow rows[] = {
        {"1546", "01a5", ReceiverFamily::UBlox, "u-blox 5"},
        {"1546", "01A7", ReceiverFamily::UBlox, "u-blox 7"},
        {"1546", "01a9", ReceiverFamily::UBlox, "u-blox 9"},
        {"0e8d", "3329", ReceiverFamily::MediaTek, "MediaTek"},
        {"067b", "aaa0", ReceiverFamily::SiRF, "SiRF"},
        {"067b", "2303", ReceiverFamily::Unknown, "PL2303 bridge"},
        {"10c4", "ea60", ReceiverFamily::Unknown, "CP210x bridge"},
        {"0403", "6001", ReceiverFamily::Unknown, "FTDI bridge"},
        {"1546", "01a4", ReceiverFamily::Unknown, ""},
        {"", "", ReceiverFamily::Unknown, ""},
    };
    for (const UsbRow& row : rows)
    {
        SCOPED_TRACE(row.vendor + ":" + row.product);
        ReceiverRecogniser recogniser;
        EXPECT_EQ(recogniser.FeedUsbId(row.vendor, row.product), !row.display.empty());
        EXPECT_EQ(recogniser.Identity().family, row.family);
        EXPECT_EQ(recogniser.Identity().DisplayName(), row.display);
    }
    // The banner says more than the USB id, and a bridge is named until the family is known.
    ReceiverRecogniser ublox;
    ublox.FeedUsbId("1546", "01a8");
    ublox.FeedLine(NmeaCommand("GNTXT,01,01,02,HW UBX-M8030 00080000"));
    EXPECT_EQ(ublox.Identity().DisplayName(), "u-blox M8");
    ReceiverRecogniser bridged;
    bridged.FeedUsbId("067b", "2303");
    bridged.FeedLine("$PMTK010,001*2E\r\n");
    EXPECT_EQ(bridged.Identity().DisplayName(), "MediaTek");
    EXPECT_EQ(bridged.Identity().bridge, "PL2303");
}

// The probe

TEST(VersionProbe, AsksOnceAfterFiveQuietSeconds)
{
    const VersionProbe::Clock::time_point t0{hours(1)};
    VersionProbe probe;
    EXPECT_EQ(probe.Poll(t0), "") << "not connected";
    probe.Connected(t0, true);
    EXPECT_EQ(probe.Due(), t0 + seconds(5));
    EXPECT_EQ(probe.Poll(t0 + milliseconds(4999)), "");
    EXPECT_EQ(probe.Poll(t0 + seconds(5)), VersionQueries());
    EXPECT_EQ(probe.Poll(t0 + seconds(6)), "") << "only once";
    EXPECT_EQ(probe.Due(), std::nullopt);

    // A new connection asks again, if nothing says who it is.
    probe.Connected(t0 + seconds(60), true);
    EXPECT_EQ(probe.Poll(t0 + seconds(66)), VersionQueries());
}

TEST(VersionProbe, NeverAsksAReceiverThatSaidWhoItIsNorASourceWithoutCommands)
{
    const VersionProbe::Clock::time_point t0{hours(1)};
    VersionProbe told;
    told.Connected(t0, true);
    told.FamilyKnown();
    EXPECT_EQ(told.Due(), std::nullopt);
    EXPECT_EQ(told.Poll(t0 + seconds(10)), "");

    // gpsd://, udp:// and a played log carry no commands.
    VersionProbe listening;
    listening.Connected(t0, false);
    EXPECT_EQ(listening.Due(), std::nullopt);
    EXPECT_EQ(listening.Poll(t0 + seconds(10)), "");

    VersionProbe gone;
    gone.Connected(t0, true);
    gone.Disconnected();
    EXPECT_EQ(gone.Poll(t0 + seconds(10)), "");

    // Told after the questions went out: nothing more either way.
    VersionProbe late;
    late.Connected(t0, true);
    EXPECT_FALSE(late.Poll(t0 + seconds(5)).empty());
    late.FamilyKnown();
    EXPECT_EQ(late.Poll(t0 + seconds(20)), "");
}

// ---- Turning UBX navigation messages on ---------------------------------------------------

namespace
{
// The UBX messages in a run of whole frames, as "class/id" with each CFG-MSG's target and rate
// and each CFG-VALSET's layer and key=value pairs, checksums verified.
std::vector<std::string> DescribeUbx(std::string_view bytes)
{
    std::vector<std::string> out;
    while (!bytes.empty())
    {
        const std::size_t length = BinaryFrameLength(bytes);
        if (length == 0 || bytes[0] != '\xB5')
        {
            out.push_back("not a frame");
            return out;
        }
        const std::string_view payload = UbxPayload(bytes.substr(0, length));
        char text[64];
        std::snprintf(text, sizeof text, "%02X/%02X", UbxClass(bytes), UbxId(bytes));
        std::string row = text;
        auto u = [&](std::size_t at) { return static_cast<unsigned>(static_cast<std::uint8_t>(payload[at])); };
        if (UbxId(bytes) == 0x01 && payload.size() == 3)
        {
            std::snprintf(text, sizeof text, " %02X/%02X rate %u", u(0), u(1), u(2));
            row += text;
        }
        else if (UbxId(bytes) == 0x8A)
        {
            std::snprintf(text, sizeof text, " v%u layers %u", u(0), u(1));
            row += text;
            for (std::size_t at = 4; at + 5 <= payload.size(); at += 5)
            {
                std::snprintf(text, sizeof text, " %08X=%u", u(at) | u(at + 1) << 8 | u(at + 2) << 16 | u(at + 3) << 24, u(at + 4));
                row += text;
            }
        }
        out.push_back(row);
        bytes.remove_prefix(length);
    }
    return out;
}
} // namespace

TEST(EnableUbx, CommandsByFamilyAndProtocolVersion)
{
    const std::string valset = "06/8A v0 layers 1 20910007=1 20910009=1 20910016=1 20910018=1 20910346=1 "
                               "20910348=1 20910039=1 2091003B=1 20910160=1 20910162=1";
    const struct
    {
        const char* name;
        ReceiverFamily family;
        std::optional<int> protocol;
        std::vector<std::string> expected; // empty: no command
    } rows[] = {
        {"not a u-blox", ReceiverFamily::MediaTek, 1800, {}},
        {"unknown family", ReceiverFamily::Unknown, std::nullopt, {}},
        {"generation 9 (27.00)", ReceiverFamily::UBlox, 2700, {valset}},
        {"F9P HPG (27.31)", ReceiverFamily::UBlox, 2731, {valset}},
        {"M8 (18.00)", ReceiverFamily::UBlox, 1800,
         {"06/01 01/07 rate 1", "06/01 01/35 rate 1", "06/01 01/04 rate 1", "06/01 01/61 rate 1"}},
        {"M8 early (15.00): no NAV-EOE yet", ReceiverFamily::UBlox, 1500,
         {"06/01 01/07 rate 1", "06/01 01/35 rate 1", "06/01 01/04 rate 1"}},
        {"u-blox 7 (14.00): PVT and the older set", ReceiverFamily::UBlox, 1400,
         {"06/01 01/07 rate 1", "06/01 01/04 rate 1", "06/01 01/06 rate 1", "06/01 01/02 rate 1",
          "06/01 01/12 rate 1", "06/01 01/30 rate 1"}},
        {"u-blox 6 (13.00): the older set only", ReceiverFamily::UBlox, 1300,
         {"06/01 01/04 rate 1", "06/01 01/06 rate 1", "06/01 01/02 rate 1", "06/01 01/12 rate 1",
          "06/01 01/30 rate 1"}},
        {"version not known: both ways", ReceiverFamily::UBlox, std::nullopt,
         {valset, "06/01 01/07 rate 1", "06/01 01/35 rate 1", "06/01 01/04 rate 1", "06/01 01/61 rate 1"}},
    };
    for (const auto& row : rows)
    {
        const std::optional<std::string> command = EnableUbxCommand(row.family, row.protocol);
        if (row.expected.empty())
        {
            EXPECT_FALSE(command) << row.name;
            continue;
        }
        ASSERT_TRUE(command) << row.name;
        EXPECT_EQ(DescribeUbx(*command), row.expected) << row.name;
    }
}

TEST(EnableUbx, ProtocolVersionFromMonVerExtensions)
{
    const struct
    {
        std::vector<std::string> extensions;
        std::optional<int> expected;
    } rows[] = {
        {{"FWVER=SPG 3.01", "PROTVER=18.00", "GPS;GLO;GAL;BDS"}, 1800},
        {{"ROM BASE 0x118B2060", "FWVER=HPG 1.32", "PROTVER=27.31", "MOD=ZED-F9P"}, 2731},
        {{"PROTVER 14.00", "GPS;SBAS;GLO;QZSS"}, 1400},
        {{"PROTVER=7.03"}, 703},
        {{"FWVER=SPG 3.01", "MOD=NEO-M8N"}, std::nullopt},
        {{"PROTVER="}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(UbxProtocolVersion(row.extensions), row.expected) << (row.extensions.empty() ? "" : row.extensions[0]);
}
