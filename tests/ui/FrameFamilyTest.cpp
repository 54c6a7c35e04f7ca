// The window meets a simulated receiver of each family on a real pseudo-terminal, in real time
// with fast restarts: named on the panel, sent its own restart command, timed to its fix.
#include "ui/FrameTestSupport.h"

#include "framework/core/CommandIds.h"
#include "receiver/ReceiverCommands.h"
#include "tools/gpssim/SessionThread.h"
#include "tools/gpssim/CycleSource.h"
#include "tools/gpssim/PseudoTerminal.h"
#include "tools/gpssim/SimOptions.h"
#include "tools/gpssim/SimSession.h"
#include "ui/LogCtrl.h"
#include "ui/OrvaneView.h"
#include "util/WideText.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QRegularExpression>
#include <QSettings>

#include <iostream>
#include <mutex>

using namespace frametest;
using namespace std::chrono;

namespace
{

constexpr int kBaud = 38400;

// A simulated receiver of one family on its own pseudo-terminal and thread; it notes every
// message the window sends it, as its log does.
class SimulatedReceiver
{
public:
    explicit SimulatedReceiver(ReceiverFamily family, bool bBanner = true, bool bGnss = false)
    {
        std::string error;
        m_bOpen = m_terminal.Open(kBaud, error);
        m_config.seed = 29;
        m_config.baud = kBaud;
        m_config.family = family;
        m_config.banner = bBanner;
        m_config.gnss = bGnss;
        m_config.restartSpeedup = kFastRestartSpeedup;
        m_source = std::make_unique<GeneratedSource>(m_config, [] { return system_clock::now(); });
        m_session = std::make_unique<SimSession>(m_terminal.MasterFd(), *m_source, kBaud);
        m_session->SetMessageObserver([this](const ReceivedMessage& message, std::string_view) {
            std::lock_guard guard(m_lock);
            m_received.push_back(message);
        });
        if (m_bOpen)
            m_thread = std::make_unique<SessionThread>(*m_session);
    }

    bool IsOpen() const { return m_bOpen; }
    std::wstring Port() const { return FromUtf8(m_terminal.SlavePath()); }
    std::vector<ReceivedMessage> Received()
    {
        std::lock_guard guard(m_lock);
        return m_received;
    }

private:
    PseudoTerminal m_terminal;
    bool m_bOpen = false;
    SimConfig m_config;
    std::unique_ptr<GeneratedSource> m_source;
    std::unique_ptr<SimSession> m_session;
    std::mutex m_lock;
    std::vector<ReceivedMessage> m_received;
    // Last, so first to go: the session's thread stops before what it uses.
    std::unique_ptr<SessionThread> m_thread;
};

class FrameMeetsFamily : public WindowTest<::testing::TestWithParam<ReceiverFamily>>
{
protected:
    void Connect(const std::wstring& port) { WindowTest::Connect(port, kBaud); }

    bool TerminalHas(const std::wstring& text)
    {
        for (const auto& line : m_view->GetLogCtrl().GetLines())
            if (line.text == text + L"\r\n")
                return true;
        return false;
    }
};

std::vector<std::pair<std::string, RestartKind>> Obeyed(const std::vector<ReceivedMessage>& received)
{
    std::vector<std::pair<std::string, RestartKind>> obeyed;
    for (const ReceivedMessage& message : received)
        if (message.restart)
            obeyed.emplace_back(message.bytes, *message.restart);
    return obeyed;
}

} // namespace

TEST_P(FrameMeetsFamily, NamedOnThePanelSentItsOwnColdStartAndTimedToItsFix)
{
    const ReceiverFamily family = GetParam();
    SimulatedReceiver receiver(family);
    ASSERT_TRUE(receiver.IsOpen());

    const auto connecting = steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(Connect(receiver.Port()));
    ASSERT_TRUE(ProcessEventsUntil([&] { return m_frame->GetReceiverIdentity().family == family; }))
        << "recognised as " << FamilyName(m_frame->GetReceiverIdentity().family);
    std::cout << "[ figure ] " << FamilyName(family) << ": named "
              << duration_cast<milliseconds>(steady_clock::now() - connecting).count() << " ms after Connect\n";
    const QString name = QString::fromStdString(m_frame->GetReceiverIdentity().DisplayName());
    EXPECT_TRUE(name.startsWith(QString::fromUtf8(FamilyName(family).data()))) << name.toStdString();
    EXPECT_EQ(m_view->ReceiverText(), name);
    // Recognised: the family is no longer offered by hand.
    m_frame->UpdateCommandUI();
    EXPECT_FALSE(m_frame->FindCommand(ID_RECEIVER_AUTOMATIC)->isEnabled());

    ASSERT_TRUE(ProcessEventsUntil([&] { return m_view->TimeToFixText().startsWith("Connected: fix in"); }))
        << m_view->TimeToFixText().toStdString();
    m_frame->FindCommand(ID_COLD_START)->trigger();
    const auto sent = steady_clock::now();
    ASSERT_TRUE(m_view->IsCountingToFix());
    ASSERT_TRUE(ProcessEventsUntil([&] { return !m_view->IsCountingToFix(); }, seconds(60)));
    std::cout << "[ figure ] " << FamilyName(family) << ": fix "
              << duration_cast<milliseconds>(steady_clock::now() - sent).count() << " ms after the cold start\n";
    const QString result = m_view->TimeToFixText();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Cold start: fix in \\d+\\.\\d s$")).match(result).hasMatch())
        << result.toStdString();

    // Its own command and no other: the banner told the family before any query was due.
    const std::string cold = RestartCommand(family, RestartKind::Cold).value_or("");
    const std::vector<ReceivedMessage> received = receiver.Received();
    EXPECT_EQ(Obeyed(received), (std::vector<std::pair<std::string, RestartKind>>{{cold, RestartKind::Cold}}));
    EXPECT_EQ(received.size(), 1u) << "only the cold start was sent";
    // The families that answer a restart: the terminal says so.
    const bool bAnswers = family == ReceiverFamily::MediaTek || family == ReceiverFamily::Airoha;
    EXPECT_EQ(TerminalHas(L"Cold start: acknowledged by the receiver"), bAnswers);
}

INSTANTIATE_TEST_SUITE_P(Families, FrameMeetsFamily, ::testing::ValuesIn(KnownFamilies().begin(), KnownFamilies().end()),
                         [](const auto& info) { return std::string(FamilyToken(info.param)); });

// A u-blox that prints no banner stays unknown here; a family chosen by hand for its port has
// its command sent, which the u-blox ignores: its fix holds, and the window says so.
TEST_F(FrameMeetsFamily, AReceiverThatIgnoresTheCommandIsToldSoAndTheChoiceIsKeptForItsPort)
{
    SimulatedReceiver receiver(ReceiverFamily::UBlox, false);
    ASSERT_TRUE(receiver.IsOpen());
    m_frame->SetPortName(receiver.Port());
    m_frame->UpdateCommandUI();
    EXPECT_TRUE(m_frame->FindCommand(ID_RECEIVER_AUTOMATIC)->isChecked());
    const unsigned casic = ID_RECEIVER_FIRST_FAMILY + 6;
    ASSERT_EQ(m_frame->FindCommand(casic)->text(), "CASIC");
    m_frame->FindCommand(casic)->trigger();
    m_frame->UpdateCommandUI();
    EXPECT_TRUE(m_frame->FindCommand(casic)->isChecked());
    EXPECT_FALSE(m_frame->FindCommand(ID_RECEIVER_AUTOMATIC)->isChecked());
    EXPECT_EQ(m_app->m_settings.receiverFamilies, (std::map<std::wstring, std::wstring>{{receiver.Port(), L"casic"}}));

    ASSERT_NO_FATAL_FAILURE(Connect(receiver.Port()));
    ASSERT_TRUE(ProcessEventsUntil([&] { return m_view->TimeToFixText().startsWith("Connected: fix in"); }));
    // As the menu does when it opens.
    m_frame->UpdateCommandUI();
    m_frame->FindCommand(ID_COLD_START)->trigger();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !m_view->IsCountingToFix(); }));
    EXPECT_EQ(m_view->TimeToFixText(), "Cold start: ignored by the receiver");
    EXPECT_TRUE(TerminalHas(L"Cold start: ignored by the receiver"));
    const std::string casicCold = RestartCommand(ReceiverFamily::CASIC, RestartKind::Cold).value_or("");
    const std::vector<ReceivedMessage> received = receiver.Received();
    EXPECT_TRUE(std::any_of(received.begin(), received.end(),
                            [&](const ReceivedMessage& m) { return m.bytes == casicCold && !m.restart; }))
        << "the chosen family's command reached the receiver, which did not take it";
    EXPECT_TRUE(Obeyed(received).empty());

    // Back to Automatic once disconnected (its MON-VER answer has named the u-blox meanwhile):
    // the port's entry goes.
    m_frame->ConnectDevice(false);
    m_frame->UpdateCommandUI();
    m_frame->FindCommand(ID_RECEIVER_AUTOMATIC)->trigger();
    EXPECT_TRUE(m_app->m_settings.receiverFamilies.empty());
}

// A receiver that prints no banner is asked once, politely, and named from its answer.
TEST_F(FrameMeetsFamily, AReceiverWithoutABannerIsAskedOnceAndNamedFromItsAnswer)
{
    SimulatedReceiver receiver(ReceiverFamily::MediaTek, false, true);
    ASSERT_TRUE(receiver.IsOpen());
    const auto connecting = steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(Connect(receiver.Port()));
    EXPECT_TRUE(m_frame->GetSession().IsVersionQueryPending());
    ASSERT_TRUE(ProcessEventsUntil([&] { return m_frame->GetReceiverIdentity().family != ReceiverFamily::Unknown; }));
    std::cout << "[ figure ] MediaTek without banner: named "
              << duration_cast<milliseconds>(steady_clock::now() - connecting).count() << " ms after Connect\n";
    EXPECT_EQ(m_frame->GetReceiverIdentity().DisplayName(), "MediaTek MT3333 (AXN_3.8)");
    EXPECT_EQ(m_view->ReceiverText(), "MediaTek MT3333 (AXN_3.8)");
    EXPECT_EQ(m_frame->GetSession().VersionQueriesSent(), 1);
    EXPECT_FALSE(m_frame->GetSession().IsVersionQueryPending());
    // The queries, each once (the UBX poll before them is no message to a MediaTek); none is a
    // restart to it. The receiver answered the first before it had read the others.
    const std::string expected = NmeaCommand("PMTK605") + NmeaCommand("PQTMVERNO") + NmeaCommand("PCAS06,0");
    ASSERT_TRUE(ProcessEventsUntil([&] { return receiver.Received().size() >= 3; }));
    std::string queries;
    for (const ReceivedMessage& message : receiver.Received())
    {
        EXPECT_FALSE(message.restart);
        queries += message.bytes;
    }
    EXPECT_EQ(queries, expected);
}

// A u-blox without its banner says who it is in binary (MON-VER), and its protocol version
// decides how UBX is turned on: CFG-MSG for an M8, acknowledged in the terminal, and its UBX
// navigation messages follow.
TEST_F(FrameMeetsFamily, AUBloxNamedByMonVerTakesUbxInItsOwnWords)
{
    SimulatedReceiver receiver(ReceiverFamily::UBlox, false, true);
    ASSERT_TRUE(receiver.IsOpen());
    ASSERT_NO_FATAL_FAILURE(Connect(receiver.Port()));
    m_frame->UpdateCommandUI();
    EXPECT_FALSE(m_frame->FindCommand(ID_ENABLE_UBX)->isEnabled()) << "not before the receiver is a u-blox";
    ASSERT_TRUE(ProcessEventsUntil([&] { return m_frame->GetReceiverIdentity().family != ReceiverFamily::Unknown; }));
    EXPECT_EQ(m_frame->GetReceiverIdentity().DisplayName(), "u-blox M8 (ROM CORE 3.01)");
    EXPECT_EQ(m_frame->GetReceiverIdentity().protocolVersion, 1800);

    m_frame->UpdateCommandUI();
    QAction* enable = m_frame->FindCommand(ID_ENABLE_UBX);
    ASSERT_EQ(enable->text(), "Enable UBX navigation messages");
    ASSERT_TRUE(enable->isEnabled());
    enable->trigger();
    const auto terminalStarts = [&](const std::wstring& text) {
        for (const auto& line : m_view->GetLogCtrl().GetLines())
            if (line.text.starts_with(text))
                return true;
        return false;
    };
    ASSERT_TRUE(ProcessEventsUntil([&] { return terminalStarts(L"UBX ACK-ACK") && terminalStarts(L"UBX NAV-PVT"); }));
    EXPECT_FALSE(terminalStarts(L"UBX ACK-NAK")) << "an M8 is sent no CFG-VALSET";
    // The receiver turned its output on at the first message, before it had read the others.
    const std::string expected = VersionQueries() + *EnableUbxCommand(ReceiverFamily::UBlox, 1800);
    const auto sent = [&] {
        std::string bytes;
        for (const ReceivedMessage& message : receiver.Received())
            bytes += message.bytes;
        return bytes;
    };
    ASSERT_TRUE(ProcessEventsUntil([&] { return sent().size() >= expected.size(); }));
    EXPECT_EQ(sent(), expected);
}
