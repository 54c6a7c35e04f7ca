// The program as a person uses it: the simulated receiver on a pseudo-terminal, the port typed
// into the setup form, the connect and record buttons clicked, offscreen.
#include "app/OrvaneApp.h"
#include "framework/core/CommandIds.h"
#include "framework/core/MessageBox.h"
#include "gps/NmeaFraming.h"
#include "recording/OrvaneDoc.h"
#include "net/SourceAddress.h"
#include "ui/MainFrame.h"
#include "ui/MapView.h"
#include "ui/MemDCEx.h"
#include "ui/OrvaneView.h"
#include "ui/SetupView.h"
#include "ui/StatusPanel.h"

#include "support/Child.h"
#include "support/Files.h"
#include "support/LoopbackPeers.h"
#include "support/OrvaneTestApp.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <kml/dom.h>

#include <signal.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
constexpr double kStartLat = 35.6812;
constexpr double kStartLon = 139.7671;
constexpr int kSimBaud = 115200;

// The project's simulated receiver, started as its own process with a link to its terminal.
class Simulator
{
public:
    // With `stay`, it serves one opener after another, as a receiver does; gnss: the
    // multi-constellation receiver of --gnss.
    // `replay`: sends that log at its recorded pace instead.
    bool Start(const fs::path& link, int baud = kSimBaud, bool stay = false, bool gnss = false,
               const fs::path& replay = {}, bool fastRestarts = false)
    {
        Stop();
        fs::remove(link);
        std::vector<std::string> args = {ORVANE_GPSSIM, "--baud", std::to_string(baud), "--link", link.string()};
        if (replay.empty())
            args.insert(args.end(), {"--seed", "11", "--start", "35.6812,139.7671"});
        else // looped: a player that closes at the end would hang up on its last lines
            args.insert(args.end(), {"--replay", replay.string(), "--loop"});
        if (stay)
            args.emplace_back("--stay");
        if (gnss)
            args.emplace_back("--gnss");
        if (fastRestarts)
            args.emplace_back("--fast-restarts");
        m_child = std::make_unique<Child>(args, Child::Options{{}, Child::Output::Shared, false});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline)
        {
            std::error_code ec;
            if (fs::is_symlink(link, ec) && fs::exists(link, ec))
                return true;
            QTest::qWait(20);
        }
        return false;
    }
    // Asked to end, it takes its link with it.
    void Stop()
    {
        if (m_child)
        {
            m_child->Signal(SIGTERM);
            m_child->Wait(10);
        }
        m_child.reset();
    }
    // Whether it ended by itself within `seconds`.
    bool Ended(int seconds) { return m_child && m_child->Wait(seconds) >= 0; }
    ~Simulator() { Stop(); }

private:
    std::unique_ptr<Child> m_child;
};

class EndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings(QString::fromLatin1(kUserFolderName), QStringLiteral("Orvane")).clear();
        m_previousBox = SetMessageBoxHandler([this](const std::wstring& text, const std::wstring&, MbIcon) {
            m_messages.push_back(text);
        });
        m_app = std::make_unique<OrvaneTestApp>(m_folder.Path() / "Orvane.xml");
        // The application installs its modal box; messages are only noted here.
        SetMessageBoxHandler([this](const std::wstring& text, const std::wstring&, MbIcon) {
            m_messages.push_back(text);
        });
        ASSERT_TRUE(m_app->InitInstance());
        // The application installs its own message box when it starts: take the notes again,
        // so a message is seen here rather than shown (and waited on) offscreen.
        SetMessageBoxHandler([this](const std::wstring& text, const std::wstring&, MbIcon) {
            m_messages.push_back(text);
        });
        m_frame = m_app->Frame();
        m_doc = m_app->Doc();
        ASSERT_NE(m_frame, nullptr);
        m_view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
        ASSERT_NE(m_view, nullptr);
        m_link = m_folder.Path() / "gps";
        ASSERT_TRUE(m_sim.Start(m_link));
        m_doc->m_strSaveFolder = m_folder.Path().wstring();
    }

    void TearDown() override
    {
        if (m_app)
            m_app->DestroyMainWindow();
        m_app.reset();
        m_sim.Stop();
        SetMessageBoxHandler(m_previousBox);
    }

    // Types the link's path into the port list as a person would, and presses Enter.
    void ChoosePort()
    {
        QComboBox* ports = m_view->GetSetupView()->m_cbPort;
        ASSERT_TRUE(ports->isEditable());
        ports->lineEdit()->selectAll();
        QTest::keyClicks(ports->lineEdit(), QString::fromStdString(m_link.string()));
        QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
        ASSERT_EQ(m_frame->GetPortName(), m_link.wstring());
        // The simulator's rate, as a user who knows it picks it.
        QComboBox* rates = m_view->GetSetupView()->m_cbBaud;
        rates->setCurrentIndex(rates->findText(QString::number(kSimBaud)));
        m_view->GetSetupView()->ApplyBaudSelection();
        ASSERT_EQ(m_frame->GetBaudRate(), kSimBaud);
    }

    // A click on Connect returns while the port opens on a worker: the click ends with the open.
    void Click(CImageButton& button)
    {
        QTest::mouseClick(&button, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !m_frame->IsConnecting(); }, 30000));
    }

    std::size_t TerminalLines() { return m_view->GetLogCtrl().GetLines().size(); }

    // The one line of the terminal that is not the receiver's after a plain connect.
    static bool IsConnectedFixLine(const std::wstring& line) { return line.starts_with(L"Connected: fix in "); }

    bool WaitForLines(std::size_t count, int seconds = 20)
    {
        return QTest::qWaitFor([&] { return TerminalLines() >= count; }, seconds * 1000);
    }

    // The receiver's lines shown from..to: the time to first fix, which is Orvane's own, left out.
    std::string TerminalText(std::size_t from, std::size_t to)
    {
        std::string text;
        const auto& lines = m_view->GetLogCtrl().GetLines();
        for (std::size_t i = from; i < to; ++i)
            if (!IsConnectedFixLine(lines[i].text))
                text += QString::fromStdWString(lines[i].text).toStdString();
        return text;
    }

    TempFolder m_folder;
    Simulator m_sim;
    fs::path m_link;
    MessageBoxHandler m_previousBox;
    std::vector<std::wstring> m_messages;
    std::unique_ptr<OrvaneTestApp> m_app;
    CMainFrame* m_frame = nullptr;
    COrvaneDoc* m_doc = nullptr;
    COrvaneView* m_view = nullptr;
};

TEST_F(EndToEndTest, LiveDataReachesTheTerminalThePanelAndTheMap)
{
    ChoosePort();
    EXPECT_FALSE(m_view->GetRecordButton().isEnabled());
    Click(m_view->GetConnectButton());
    ASSERT_EQ(m_doc->m_bConnected, 1) << (m_messages.empty() ? "" : QString::fromStdWString(m_messages.back()).toStdString());
    EXPECT_TRUE(m_view->GetRecordButton().isEnabled());
    EXPECT_FALSE(m_view->GetSetupView()->m_cbPort->isEnabled());

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_doc->m_gps.fixMode >= 2 && TerminalLines() >= 12 && !m_view->IsCountingToFix(); }, 20000));

    // The terminal shows checksum-valid sentences, line ends kept.
    for (const auto& line : m_view->GetLogCtrl().GetLines())
    {
        const std::string text = QString::fromStdWString(line.text).toStdString();
        ASSERT_TRUE(text.starts_with("$GP") || IsConnectedFixLine(line.text)) << text;
        ASSERT_TRUE(text.ends_with("\r\n")) << text;
    }

    // The panel shows the decoded state: near the simulator's start, with satellites.
    const GpsData gps = m_view->GetGps();
    EXPECT_NEAR(gps.latitude, kStartLat, 0.05);
    EXPECT_NEAR(gps.longitude, kStartLon, 0.05);
    EXPECT_GE(gps.year, 2024);
    int satellites = 0;
    for (const auto& sat : gps.satellites)
        satellites += sat.prn != 0;
    EXPECT_GE(satellites, 8);

    // What the view paints is its copy of the record, not the empty state (below the buttons).
    m_view->repaint();
    const QRect below(0, 30, 400, 447);
    const QImage shown = m_view->grab(below).toImage();
    const PanelResources res = PanelResources::Load();
    auto render = [&](const GpsData& g) {
        CMemDCEx dc(QRect(0, 0, 400, 477));
        DrawStatusPanel(dc, g, res);
        DrawTimeToFix(dc, m_view->TimeToFixText(), false, res);
        return dc.Finish().toImage().copy(below).convertToFormat(shown.format());
    };
    EXPECT_EQ(shown, render(m_view->GetGps()));
    EXPECT_NE(shown, render(GpsData{}));

    // The map was moved to the fix.
    EXPECT_NEAR(m_view->GetMapView()->GetLastLatitude(), m_doc->m_gps.latitude, 0.01);
    EXPECT_NEAR(m_view->GetMapView()->GetLastLongitude(), m_doc->m_gps.longitude, 0.01);
    EXPECT_TRUE(m_messages.empty());
}

// A current multi-constellation receiver: GN fixes and four skies reach the panel, which
// draws every satellite in view.
TEST_F(EndToEndTest, GnssReceiverShowsEveryConstellation)
{
    ASSERT_TRUE(m_sim.Start(m_link, kSimBaud, false, true));
    ChoosePort();
    Click(m_view->GetConnectButton());
    ASSERT_EQ(m_doc->m_bConnected, 1);

    auto talkers = [&] {
        std::set<Talker> seen;
        for (const auto& sat : m_view->GetGps().satellites)
            if (sat.prn != 0)
                seen.insert(sat.talker);
        return seen;
    };
    // GGA gives the fix before the cycle's GSAs mark the satellites used: wait for both.
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_doc->m_gps.fixMode >= 2 && talkers().size() == 4 &&
                                             SatellitesUsed(m_view->GetGps()) >= 4; }, 30000))
        << "fix " << m_doc->m_gps.fixMode << ", " << talkers().size() << " skies";
    EXPECT_EQ(talkers(), (std::set<Talker>{Talker::GP, Talker::GL, Talker::GA, Talker::GB}));

    const GpsData gps = m_view->GetGps();
    EXPECT_NEAR(gps.latitude, kStartLat, 0.05);
    EXPECT_NEAR(gps.longitude, kStartLon, 0.05);
    EXPECT_GE(SatellitesInView(gps), 20);
    EXPECT_LE(SatellitesInView(gps), 40);
    EXPECT_GE(SatellitesUsed(gps), 4);
    for (const auto& line : m_view->GetLogCtrl().GetLines())
    {
        const std::string text = QString::fromStdWString(line.text).toStdString();
        ASSERT_TRUE(text.starts_with("$GN") || text.substr(3, 3) == "GSV" || IsConnectedFixLine(line.text)) << text;
    }

    m_view->repaint();
    const QRect chart(0, 276, 400, 201);
    const QImage shown = m_view->grab(chart).toImage();
    const PanelResources res = PanelResources::Load();
    CMemDCEx dc(QRect(0, 0, 400, 477));
    DrawStatusPanel(dc, m_view->GetGps(), res);
    EXPECT_EQ(shown, dc.Finish().toImage().copy(chart).convertToFormat(shown.format()));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(EndToEndTest, NmeaRecordingHoldsExactlyTheLinesReceived)
{
    ChoosePort();
    Click(m_view->GetConnectButton());
    ASSERT_TRUE(WaitForLines(3));
    const std::size_t from = TerminalLines();
    Click(m_view->GetRecordButton());
    ASSERT_EQ(m_doc->m_bRecording, 1);
    ASSERT_TRUE(WaitForLines(from + 20));
    Click(m_view->GetRecordButton());
    ASSERT_EQ(m_doc->m_bRecording, 0);
    const std::size_t to = TerminalLines();

    std::vector<fs::path> logs;
    for (const auto& entry : fs::directory_iterator(m_folder.Path()))
        if (entry.path().extension() == ".txt")
            logs.push_back(entry.path());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(ReadFile(logs[0]), TerminalText(from, to));
}

// The points of a KML or GPX text, each whole as written.
std::vector<std::string> TrackPoints(const std::string& text)
{
    std::vector<std::string> points;
    const bool kml = text.find("<kml") != std::string::npos;
    std::size_t at = kml ? text.find("<coordinates>") : 0;
    const std::size_t end = kml ? text.find("</coordinates>") : text.size();
    if (at == std::string::npos)
        return points;
    if (kml)
    {
        std::istringstream lines(text.substr(at + 13, end - at - 13));
        for (std::string line; std::getline(lines, line);)
            if (line.find_first_not_of(' ') != std::string::npos)
                points.push_back(line.substr(line.find_first_not_of(' ')));
        return points;
    }
    while ((at = text.find("<trkpt", at)) != std::string::npos)
    {
        const std::size_t close = text.find("</trkpt>", at);
        points.push_back(text.substr(at, close - at));
        at = close;
    }
    return points;
}

TEST_F(EndToEndTest, KmlRecordingHoldsTheTrack)
{
    ChoosePort();
    QAction* kml = m_frame->FindCommand(ID_SAVE_KML);
    ASSERT_NE(kml, nullptr);
    m_frame->UpdateCommandUI();
    kml->trigger();
    ASSERT_EQ(m_doc->m_nRecordKind, RecordKml);
    Click(m_view->GetConnectButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_doc->m_gps.fixMode >= 2; }, 20000));
    Click(m_view->GetRecordButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_doc->m_pRecorder && m_doc->m_pRecorder->Written() >= 4; }, 20000));
    Click(m_view->GetRecordButton());

    std::vector<fs::path> tracks;
    for (const auto& entry : fs::directory_iterator(m_folder.Path()))
        if (entry.path().extension() == ".kml")
            tracks.push_back(entry.path());
    ASSERT_EQ(tracks.size(), 1u);
    std::string errors;
    kmldom::ElementPtr root = kmldom::Parse(ReadFile(tracks[0]), &errors);
    ASSERT_TRUE(root) << errors;
    const std::vector<std::string> points = TrackPoints(ReadFile(tracks[0]));
    ASSERT_GE(points.size(), 4u);
    for (std::size_t i = 0; i < points.size(); ++i)
    {
        double lon = 0, lat = 0, alt = 0;
        char comma = 0;
        std::istringstream(points[i]) >> lon >> comma >> lat >> comma >> alt;
        EXPECT_NEAR(lat, kStartLat, 0.05);
        EXPECT_NEAR(lon, kStartLon, 0.05);
        // The simulated receiver moves every second: one point per epoch, none repeated.
        if (i > 0)
        {
            EXPECT_NE(points[i], points[i - 1]);
        }
    }
}

// A capture replayed to the window and recorded there gives, point for point, the track
// orvane-nmea writes from the same log.
TEST_F(EndToEndTest, RecordedTracksArePointForPointWhatOrvaneNmeaWrites)
{
    const fs::path capture = fs::path(ORVANE_CORPUS_DIR) / "beidou-bd.nmea";
    std::string last;
    {
        std::ifstream in(capture, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            if (IsChecksumValid(line + "\n"))
                last = line + "\n";
    }
    ASSERT_FALSE(last.empty());
    const fs::path expected = m_folder.Path() / "expected";
    fs::create_directory(expected);
    const RunResult run =
        RunProgram({ORVANE_NMEA, "--kml", (expected / "t.kml").string(), "--gpx", (expected / "t.gpx").string(), capture.string()});
    ASSERT_EQ(run.status, 0) << run.output;

    for (const auto& [id, extension] : {std::pair{ID_SAVE_KML, ".kml"}, std::pair{ID_SAVE_GPX, ".gpx"}})
    {
        SCOPED_TRACE(extension);
        const fs::path folder = m_folder.Path() / (std::string("window") + extension);
        fs::create_directory(folder);
        m_doc->m_strSaveFolder = folder.wstring();
        ASSERT_TRUE(m_sim.Start(m_link, kSimBaud, false, false, capture));
        ChoosePort();
        m_frame->FindCommand(id)->trigger();
        const std::size_t from = TerminalLines();
        // The capture starts with seconds before its first fix: the recording starts in time.
        Click(m_view->GetConnectButton());
        ASSERT_EQ(m_doc->m_bConnected, 1);
        Click(m_view->GetRecordButton());
        ASSERT_EQ(m_doc->m_bRecording, 1);
        // The whole capture is in once its last sentence is. The loop's next round begins with
        // seconds without a fix: it ends the last epoch and adds no point.
        ASSERT_TRUE(QTest::qWaitFor([&] { return TerminalText(from, TerminalLines()).ends_with(last); }, 60000))
            << TerminalLines() - from << " lines, the last " << TerminalText(TerminalLines() - 1, TerminalLines());
        Click(m_view->GetRecordButton());
        if (m_doc->m_bConnected)
        {
            Click(m_view->GetConnectButton());
        }

        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(folder))
            files.push_back(entry.path());
        ASSERT_EQ(files.size(), 1u);
        const std::string mine = ReadFile(files[0]);
        const std::string theirs = ReadFile(expected / (std::string("t") + extension));
        const std::vector<std::string> points = TrackPoints(mine);
        EXPECT_EQ(points, TrackPoints(theirs));
        EXPECT_EQ(points.size(), 5u);
        // The receiver moved between each of its fixes.
        for (std::size_t i = 1; i < points.size(); ++i)
            EXPECT_NE(points[i], points[i - 1]);
        EXPECT_EQ(mine, theirs);
    }
}

TEST_F(EndToEndTest, DisconnectAndReconnect)
{
    ChoosePort();
    Click(m_view->GetConnectButton());
    ASSERT_TRUE(WaitForLines(5));
    Click(m_view->GetConnectButton());
    ASSERT_EQ(m_doc->m_bConnected, 0);
    EXPECT_FALSE(m_view->GetRecordButton().isEnabled());
    EXPECT_TRUE(m_view->GetSetupView()->m_cbPort->isEnabled());
    const std::size_t afterDisconnect = TerminalLines();
    // Nothing more can come: the port is closed, and the simulator, left without a reader,
    // has ended. Whatever was already posted is delivered before the count is taken again.
    EXPECT_FALSE(m_frame->GetDevice().IsOpen());
    ASSERT_TRUE(m_sim.Ended(20));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(TerminalLines(), afterDisconnect);

    // The simulator leaves when its reader goes away, as a log player does: start it again.
    ASSERT_TRUE(m_sim.Start(m_link));
    Click(m_view->GetConnectButton());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    EXPECT_TRUE(WaitForLines(afterDisconnect + 5));
}

// A receiver at 38400 while the form says 9600: Orvane finds the rate by listening, reconnects
// at it, shows it in the form and says so in the terminal; the settings change only on Save.
TEST_F(EndToEndTest, AReceiverAtAnotherRateIsFoundByListening)
{
    ASSERT_TRUE(m_sim.Start(m_link, 38400, true));
    ChoosePort();
    CSetupView* setup = m_view->GetSetupView();
    setup->m_cbBaud->setCurrentIndex(setup->m_cbBaud->findText("9600"));
    setup->ApplyBaudSelection();
    m_app->m_settings.baudRate = L"4800";
    const std::wstring expectedLine = L"No NMEA at 9600 baud; receiving at 38400 baud\r\n";
    const auto lineShown = [&] {
        for (const auto& line : m_view->GetLogCtrl().GetLines())
            if (line.text == expectedLine)
                return true;
        return false;
    };

    QElapsedTimer clock;
    clock.start();
    Click(m_view->GetConnectButton());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    ASSERT_TRUE(QTest::qWaitFor(lineShown, 60000)) << "the terminal holds " << TerminalLines() << " lines";
    // Nothing but the one line came before the sentences at the right rate.
    const qint64 detectedMs = clock.elapsed();
    EXPECT_TRUE(m_view->GetLogCtrl().GetLines().front().text == expectedLine);
    std::cout << "[ figure ] 9600 -> 38400: " << detectedMs << " ms from connect to the line" << std::endl;
    RecordProperty("DetectMs", static_cast<int>(detectedMs));

    EXPECT_EQ(m_doc->m_bConnected, 1);
    EXPECT_EQ(m_frame->GetBaudRate(), 38400);
    EXPECT_EQ(setup->m_cbBaud->currentText(), "38400");
    EXPECT_EQ(m_app->m_settings.baudRate, L"4800");
    const std::size_t from = TerminalLines();
    ASSERT_TRUE(WaitForLines(from + 5));
    for (const auto& line : m_view->GetLogCtrl().GetLines())
        EXPECT_TRUE(line.text == expectedLine || line.text.starts_with(L"$GP") || IsConnectedFixLine(line.text));
    EXPECT_TRUE(m_messages.empty());

    Click(*setup->m_btnSave);
    EXPECT_EQ(m_app->m_settings.baudRate, L"38400");
}

// At the right rate from the start, nothing is probed and nothing is said.
TEST_F(EndToEndTest, TheRightRateIsLeftAlone)
{
    ChoosePort();
    Click(m_view->GetConnectButton());
    ASSERT_TRUE(WaitForLines(5));
    QTest::qWait(CBaudDetection::kQuietMs + 500);
    EXPECT_EQ(m_frame->GetBaudRate(), kSimBaud);
    for (const auto& line : m_view->GetLogCtrl().GetLines())
        ASSERT_TRUE(line.text.starts_with(L"$GP") || IsConnectedFixLine(line.text));
}

// Tools > Cold Start GPS against the simulator's fast restarts: the panel counts from the
// command to the first fix, then shows it, and the terminal gets the same line.
TEST_F(EndToEndTest, ColdStartIsTimedFromTheCommandToTheFirstFix)
{
    ASSERT_TRUE(m_sim.Start(m_link, kSimBaud, false, false, {}, true));
    ChoosePort();
    Click(m_view->GetConnectButton());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_view->TimeToFixText().startsWith(QLatin1String("Connected: fix in ")); },
                                20000))
        << m_view->TimeToFixText().toStdString();

    m_frame->UpdateCommandUI();
    m_frame->FindCommand(ID_COLD_START)->trigger();
    EXPECT_TRUE(m_view->IsCountingToFix());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_view->IsCountingToFix(); }, 15000));
    const QString shown = m_view->TimeToFixText();
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^Cold start: fix in (\\d+\\.\\d) s$")).match(shown);
    ASSERT_TRUE(match.hasMatch()) << shown.toStdString();
    // A tenth of a real cold start's 30 to 60 s, and up to a cycle more.
    EXPECT_GE(match.captured(1).toDouble(), 3.0);
    EXPECT_LE(match.captured(1).toDouble(), 7.1);
    bool bInTerminal = false;
    for (const auto& line : m_view->GetLogCtrl().GetLines())
        bInTerminal = bInTerminal || line.text == shown.toStdWString() + L"\r\n";
    EXPECT_TRUE(bInTerminal);
}

TEST_F(EndToEndTest, ClosingTheWindowMidRecordingLeavesACompleteLog)
{
    ChoosePort();
    Click(m_view->GetConnectButton());
    ASSERT_TRUE(WaitForLines(3));
    const std::size_t from = TerminalLines();
    Click(m_view->GetRecordButton());
    ASSERT_TRUE(WaitForLines(from + 15));
    const std::string shown = TerminalText(from, TerminalLines());
    m_frame->close();
    m_app->DestroyMainWindow();

    std::vector<fs::path> logs;
    for (const auto& entry : fs::directory_iterator(m_folder.Path()))
        if (entry.path().extension() == ".txt")
            logs.push_back(entry.path());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(ReadFile(logs[0]), shown);
    EXPECT_TRUE(fs::exists(m_folder.Path() / "Orvane.xml"));
}

TEST_F(EndToEndTest, UnpluggedDuringARecordingRecStillStopsIt)
{
    ChoosePort();
    QAction* kml = m_frame->FindCommand(ID_SAVE_KML);
    ASSERT_NE(kml, nullptr);
    m_frame->UpdateCommandUI();
    kml->trigger();
    Click(m_view->GetConnectButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_doc->m_gps.fixMode >= 2; }, 20000));
    Click(m_view->GetRecordButton());
    ASSERT_EQ(m_doc->m_bRecording, 1);
    const std::size_t from = TerminalLines();
    ASSERT_TRUE(WaitForLines(from + 10));

    // The receiver goes away: the connection closes on its own, the recording goes on.
    m_sim.Stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_doc->m_bConnected == 0; }, 20000));
    EXPECT_EQ(m_doc->m_bRecording, 1);
    EXPECT_TRUE(m_view->GetRecordButton().isEnabled());
    m_frame->UpdateCommandUI();
    EXPECT_FALSE(m_frame->FindCommand(ID_SAVE_NMEA)->isEnabled());

    Click(m_view->GetRecordButton());
    EXPECT_EQ(m_doc->m_bRecording, 0);
    // Stopped and disconnected: REC cannot start a recording that would receive nothing.
    EXPECT_FALSE(m_view->GetRecordButton().isEnabled());
    m_frame->UpdateCommandUI();
    EXPECT_TRUE(m_frame->FindCommand(ID_SAVE_NMEA)->isEnabled());

    std::vector<fs::path> tracks;
    for (const auto& entry : fs::directory_iterator(m_folder.Path()))
        if (entry.path().extension() == ".kml")
            tracks.push_back(entry.path());
    ASSERT_EQ(tracks.size(), 1u);
    const std::string text = ReadFile(tracks[0]);
    std::string errors;
    ASSERT_TRUE(kmldom::Parse(text, &errors)) << errors;
    EXPECT_TRUE(text.ends_with("</kml>\n"));
    EXPECT_NE(text.find("<coordinates>\n"), std::string::npos);
}

TEST_F(EndToEndTest, GpxRecordingFromTheToolsMenu)
{
    // The entry follows "Save KML File", and the three form one radio group.
    QMenu* tools = nullptr;
    for (QAction* menu : m_frame->menuBar()->actions())
        if (menu->text() == QStringLiteral("Tools"))
            tools = menu->menu();
    ASSERT_NE(tools, nullptr);
    QStringList texts;
    for (QAction* action : tools->actions())
        texts << action->text();
    const qsizetype kmlAt = texts.indexOf(QStringLiteral("Save KML File"));
    ASSERT_GE(kmlAt, 0) << texts.join(',').toStdString();
    ASSERT_EQ(texts.value(kmlAt + 1), QStringLiteral("Save GPX File"));

    ChoosePort();
    QAction* gpx = m_frame->FindCommand(ID_SAVE_GPX);
    ASSERT_NE(gpx, nullptr);
    m_frame->UpdateCommandUI();
    gpx->trigger();
    m_frame->UpdateCommandUI();
    EXPECT_TRUE(gpx->isChecked());
    EXPECT_FALSE(m_frame->FindCommand(ID_SAVE_KML)->isChecked());
    EXPECT_FALSE(m_frame->FindCommand(ID_SAVE_NMEA)->isChecked());

    Click(m_view->GetConnectButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_doc->m_gps.fixMode >= 2; }, 20000));
    Click(m_view->GetRecordButton());
    ASSERT_EQ(m_doc->m_bRecording, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_doc->m_pRecorder && m_doc->m_pRecorder->Written() >= 2; }, 20000));
    Click(m_view->GetRecordButton());

    std::vector<fs::path> tracks;
    for (const auto& entry : fs::directory_iterator(m_folder.Path()))
        if (entry.path().extension() == ".gpx")
            tracks.push_back(entry.path());
    ASSERT_EQ(tracks.size(), 1u);
    const std::string text = ReadFile(tracks[0]);
    EXPECT_NE(text.find("<trkpt lat=\"35.6"), std::string::npos) << text;
    EXPECT_NE(text.find("<fix>3d</fix>"), std::string::npos) << text;
    EXPECT_TRUE(m_messages.empty());
}
} // namespace

TEST_F(EndToEndTest, ReceiverHeldByGpsdIsNamedAndWatchedThroughGpsd)
{
    if (!loopback::Gpsd::IsInstalled())
        GTEST_SKIP() << "gpsd is not installed (scripts/deps.sh installs it)";
    loopback::Gpsd gpsd(m_link.string(), kSimBaud);
    ASSERT_TRUE(gpsd.WaitUntilListening());
    m_frame->SetGpsdAddress({SourceAddress::Kind::Gpsd, "127.0.0.1", gpsd.Port()});

    // The simulator's port, now gpsd's: the program says so and stays disconnected.
    ChoosePort();
    ASSERT_TRUE(QTest::qWaitFor(
        [&]
        {
            m_messages.clear();
            Click(m_view->GetConnectButton());
            if (m_doc->m_bConnected)
                Click(m_view->GetConnectButton()); // gpsd had not opened it yet
            return !m_messages.empty() && m_messages.back().find(L"is used by gpsd") != std::wstring::npos;
        },
        20000));
    EXPECT_EQ(m_doc->m_bConnected, 0);
    EXPECT_NE(m_messages.back().find(L"choose gpsd://localhost to watch it through gpsd"), std::wstring::npos);

    // Typed as a person would, the gpsd source brings the simulator's sentences.
    QComboBox* ports = m_view->GetSetupView()->m_cbPort;
    const QString source = QString::fromStdWString(gpsd.Source());
    ports->lineEdit()->selectAll();
    QTest::keyClicks(ports->lineEdit(), source);
    QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
    ASSERT_EQ(m_frame->GetPortName(), gpsd.Source());
    m_messages.clear();
    Click(m_view->GetConnectButton());
    ASSERT_EQ(m_doc->m_bConnected, 1) << (m_messages.empty() ? "" : QString::fromStdWString(m_messages.back()).toStdString());
    const std::size_t from = TerminalLines();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_doc->m_gps.fixMode >= 2 && TerminalLines() >= from + 12; }, 20000));
    for (std::size_t i = from; i < TerminalLines(); ++i)
    {
        const std::string text = TerminalText(i, i + 1);
        EXPECT_TRUE(text.empty() || text.starts_with("$GP")) << text;
        EXPECT_TRUE(text.empty() || text.ends_with("\r\n")) << text;
    }
    const GpsData gps = m_view->GetGps();
    EXPECT_NEAR(gps.latitude, kStartLat, 0.05);
    EXPECT_NEAR(gps.longitude, kStartLon, 0.05);
    // gpsd passes nothing on to the receiver: no restart through it.
    m_frame->UpdateCommandUI();
    EXPECT_FALSE(m_frame->FindCommand(ID_HOT_START)->isEnabled());

    // Saved, the source is what the next start offers.
    QTest::mouseClick(m_view->GetSetupView()->m_btnSave, Qt::LeftButton);
    EXPECT_EQ(GetOrvaneApp()->m_settings.port, gpsd.Source());
    EXPECT_TRUE(m_messages.empty());
}
