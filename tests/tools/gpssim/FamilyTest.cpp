// Receivers of each family on the fake clock: the commands each obeys, its banner and answers,
// and what it prints after a restart.
#include "receiver/ReceiverCommands.h"
#include "receiver/ReceiverIdentity.h"
#include "tools/gpssim/FamilyRows.h"
#include "tools/gpssim/SimTestSupport.h"
#include "tools/gpssim/CommandRecogniser.h"
#include "tools/gpssim/FamilyTalk.h"
#include "tools/gpssim/ReceiverSimulator.h"

#include <gtest/gtest.h>

using namespace std::chrono;
using simtest::NewYearsEve;
using simtest::QueryRow;
using simtest::QueryRows;

namespace
{

constexpr RestartKind kKinds[] = {RestartKind::Hot, RestartKind::Warm, RestartKind::Cold};

std::vector<std::string> Lines(std::string_view bytes)
{
    std::vector<std::string> lines;
    while (!bytes.empty())
    {
        const auto end = bytes.find('\n');
        lines.emplace_back(bytes.substr(0, end == std::string_view::npos ? bytes.size() : end + 1));
        bytes.remove_prefix(lines.back().size());
    }
    return lines;
}

// What Orvane learns from `bytes`: the lines, and a MON-VER answer decoded.
ReceiverIdentity Learn(ReceiverRecogniser& recogniser, std::string_view bytes)
{
    const std::string monVer = family_talk::UBloxMonVer();
    if (bytes.starts_with(std::string_view(monVer).substr(0, 4)))
    {
        const auto field = [&](std::size_t at, std::size_t width) {
            const std::string_view text = bytes.substr(6 + at, width);
            return std::string(text.substr(0, text.find('\0')));
        };
        std::vector<std::string> extensions;
        for (std::size_t at = 40; at + 30 <= bytes.size() - 8; at += 30)
            extensions.push_back(field(at, 30));
        recogniser.FeedMonVer(field(0, 30), field(30, 10), extensions);
        return recogniser.Identity();
    }
    for (const std::string& line : Lines(bytes))
        recogniser.FeedLine(line);
    return recogniser.Identity();
}

SimConfig Config(std::optional<ReceiverFamily> family, std::uint32_t seed = 3)
{
    SimConfig config;
    config.seed = seed;
    config.family = family;
    return config;
}

} // namespace

TEST(FamilyCommands, EachFamilyObeysItsOwnCommandsOnlyWhateverThePieces)
{
    std::vector<std::optional<ReceiverFamily>> receivers = {std::nullopt};
    for (const ReceiverFamily family : KnownFamilies())
        receivers.push_back(family);
    // Every family's every command, then the version queries, in one stream.
    std::string stream;
    for (const ReceiverFamily sender : KnownFamilies())
        for (const RestartKind kind : kKinds)
            stream += *RestartCommand(sender, kind);
    stream += VersionQueries();

    for (const auto& receiver : receivers)
    {
        const ReceiverFamily own = receiver.value_or(ReceiverFamily::SiRF);
        SCOPED_TRACE(std::string(receiver ? FamilyName(own) : "default"));
        for (const std::size_t piece : {1u, 7u, 1000u})
        {
            CommandRecogniser recogniser(receiver);
            std::vector<ReceivedMessage> messages;
            for (std::size_t at = 0; at < stream.size(); at += piece)
                for (ReceivedMessage& message : recogniser.Feed(std::string_view(stream).substr(at, piece)))
                    messages.push_back(std::move(message));
            std::vector<RestartKind> obeyed;
            for (const ReceivedMessage& message : messages)
            {
                if (!message.restart)
                    continue;
                obeyed.push_back(*message.restart);
                EXPECT_EQ(message.bytes, RestartCommand(own, *message.restart));
            }
            EXPECT_EQ(obeyed, std::vector<RestartKind>(std::begin(kKinds), std::end(kKinds)));
            // Only a u-blox reads the binary messages: 3 restarts and the MON-VER poll.
            const std::size_t binary = own == ReceiverFamily::UBlox && receiver ? 4 : 0;
            EXPECT_EQ(messages.size(), 6 * 3 + 3 + binary);
        }
    }
}

TEST(FamilyCommands, ADamagedOrOverlongUbxMessageIsNoCommand)
{
    const std::string cold = *RestartCommand(ReceiverFamily::UBlox, RestartKind::Cold);
    std::string damaged = cold;
    damaged.back() ^= 1;
    // A length of 1000: the rest is no message, the next sync starts afresh.
    const std::string overlong = std::string("\xB5\x62\x06\x04\xE8\x03", 6);
    CommandRecogniser recogniser(ReceiverFamily::UBlox);
    EXPECT_TRUE(recogniser.Feed(damaged).empty());
    EXPECT_TRUE(recogniser.Feed(overlong).empty());
    const std::vector<ReceivedMessage> messages = recogniser.Feed(cold);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].restart, RestartKind::Cold);
    EXPECT_EQ(messages[0].Text(), "UBX 06 04 FF FF 02 00");
    // Another reset mode is still a cold start.
    EXPECT_EQ(recogniser.Feed(UbxMessage(0x06, 0x04, std::string("\xFF\xFF\x01\x00", 4))).at(0).restart,
              RestartKind::Cold);
    EXPECT_FALSE(recogniser.Feed(UbxMessage(0x06, 0x04, std::string("\x02\x00\x02\x00", 4))).at(0).restart);
}

TEST(FamilyTalk, EachAnswersItsOwnVersionQueryAndNoOtherFamilys)
{
    const std::vector<QueryRow> rows = QueryRows();
    ASSERT_EQ(rows.size(), KnownFamilies().size());
    for (const QueryRow& row : rows)
    {
        SCOPED_TRACE(std::string(FamilyName(row.family)));
        ReceiverSimulator simulator(Config(row.family));
        EXPECT_TRUE(simulator.Answer(row.query).starts_with(row.answerStart)) << simulator.Answer(row.query);
        // An LC29H, Airoha inside, answers Quectel's question too.
        for (const QueryRow& other : rows)
        {
            const bool bOwn = other.family == row.family ||
                              (row.family == ReceiverFamily::Airoha && other.family == ReceiverFamily::Quectel);
            if (!bOwn)
            {
                EXPECT_EQ(simulator.Answer(other.query), "") << other.query;
            }
        }
        ReceiverSimulator old(Config(std::nullopt));
        EXPECT_EQ(old.Answer(row.query), "");
    }
}

TEST(FamilyTalk, TheBannerAloneTellsWhoItIs)
{
    const std::pair<ReceiverFamily, std::string> rows[] = {
        {ReceiverFamily::SiRF, "SiRFstar III (GSW3.5.0_3.5.00.00)"},
        {ReceiverFamily::UBlox, "u-blox M8 (ROM CORE 3.01)"},
        {ReceiverFamily::MediaTek, "MediaTek"},
        {ReceiverFamily::Airoha, "Airoha AG3335 (V2.1.0)"},
        {ReceiverFamily::Quectel, "Quectel LG290P (LG290P03AANR01A01S)"},
        {ReceiverFamily::ST, "ST Teseo (GNSSLIB 8.4.18.25)"},
        {ReceiverFamily::CASIC, "CASIC AT6558 (URANUS5,V5.3.0.0)"},
    };
    for (const auto& [family, display] : rows)
    {
        ReceiverRecogniser recogniser;
        const ReceiverIdentity identity = Learn(recogniser, ReceiverSimulator(Config(family)).Greeting());
        EXPECT_EQ(identity.family, family) << display;
        EXPECT_EQ(identity.DisplayName(), display);
    }
    EXPECT_EQ(ReceiverSimulator(Config(std::nullopt)).Greeting(), "");
    SimConfig quiet = Config(ReceiverFamily::UBlox);
    quiet.banner = false;
    EXPECT_EQ(ReceiverSimulator(quiet).Greeting(), "");
}

// What Orvane's questions get from each: the families that answer them are named, with model
// and firmware; SiRF and ST answer none of them (they have their banner).
TEST(FamilyTalk, OrvanesVersionQueriesNameFiveFamilies)
{
    const std::pair<ReceiverFamily, std::string> rows[] = {
        {ReceiverFamily::SiRF, ""},
        {ReceiverFamily::UBlox, "u-blox M8 (ROM CORE 3.01)"},
        {ReceiverFamily::MediaTek, "MediaTek MT3333 (AXN_3.8)"},
        {ReceiverFamily::Airoha, "Quectel LC29H (LC29HBANR11A03S)"},
        {ReceiverFamily::Quectel, "Quectel LG290P (LG290P03AANR01A01S)"},
        {ReceiverFamily::ST, ""},
        {ReceiverFamily::CASIC, "CASIC (URANUS5,V5.3.0.0)"},
    };
    for (const auto& [family, display] : rows)
    {
        SCOPED_TRACE(std::string(FamilyName(family)));
        ReceiverSimulator simulator(Config(family));
        CommandRecogniser recogniser(family);
        ReceiverRecogniser orvane;
        int answers = 0;
        for (const ReceivedMessage& message : recogniser.Feed(VersionQueries()))
        {
            EXPECT_FALSE(message.restart);
            const std::string answer = simulator.Answer(message.bytes);
            answers += answer.empty() ? 0 : 1;
            Learn(orvane, answer);
        }
        EXPECT_EQ(answers, display.empty() ? 0 : 1);
        EXPECT_EQ(orvane.Identity().family, display.empty() ? ReceiverFamily::Unknown : family);
        EXPECT_EQ(orvane.Identity().DisplayName(), display);
    }
}

TEST(FamilyTalk, AfterARestartMediaTekSaysItStartedAndAirohaAcknowledgesAtOnce)
{
    for (const ReceiverFamily family : KnownFamilies())
    {
        SCOPED_TRACE(std::string(FamilyName(family)));
        ReceiverSimulator simulator(Config(family));
        simtest::Run(simulator, NewYearsEve(), 5);
        const std::string cold = *RestartCommand(family, RestartKind::Cold);
        const std::vector<std::string> acknowledgement = Lines(simulator.Answer(cold));
        simulator.Restart(RestartKind::Cold, NewYearsEve() + milliseconds(4500));
        std::vector<std::string> firstWords;
        for (const SimCycle& cycle : simtest::Run(simulator, NewYearsEve() + seconds(5), 5))
            if (!cycle.sentences.empty() && firstWords.empty())
                firstWords = cycle.sentences;
        ASSERT_FALSE(firstWords.empty());
        const std::vector<std::string> banner = family_talk::AfterRestart(family);
        EXPECT_TRUE(std::equal(banner.begin(), banner.end(), firstWords.begin()));
        const bool bAnswered = std::any_of(firstWords.begin(), firstWords.end(), [&](const std::string& line) {
            return AnswersRestart(family, RestartKind::Cold, line);
        }) || (acknowledgement.size() == 1 && AnswersRestart(family, RestartKind::Cold, acknowledgement[0]));
        EXPECT_EQ(bAnswered, family == ReceiverFamily::MediaTek || family == ReceiverFamily::Airoha);
        EXPECT_EQ(acknowledgement.size(), family == ReceiverFamily::Airoha ? 1u : 0u);
    }
}

TEST(FamilyTalk, AFamilyChangesNoFixTheReceiverSends)
{
    ReceiverSimulator old(Config(std::nullopt, 9));
    ReceiverSimulator sirf(Config(ReceiverFamily::SiRF, 9));
    const auto a = simtest::Run(old, NewYearsEve(), 30);
    const auto b = simtest::Run(sirf, NewYearsEve(), 30);
    for (std::size_t i = 0; i < a.size(); ++i)
        EXPECT_EQ(a[i].sentences, b[i].sentences) << "second " << i;
}
