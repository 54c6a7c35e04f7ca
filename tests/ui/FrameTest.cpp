#include "ui/FrameTestSupport.h"

#include "ui/AboutDlg.h"
#include "app/CommandLine.h"
#include "framework/core/CommandIds.h"
#include "gps/EpochDetector.h"
#include "gps/EpochEnd.h"
#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"
#include "receiver/ReceiverCommands.h"
#include "support/PseudoTerminal.h"
#include "serial/SerialPort.h"
#include "support/Counter.h"
#include "support/Files.h"
#include "support/Nmea.h"
#include "support/PeakMemory.h"
#include "support/LoopbackPeers.h"
#include "tools/gpssim/ReceiverSimulator.h"
#include "ui/ErrorMessages.h"
#include "ui/HistoryView.h"
#include "ui/LogCtrl.h"
#include "ui/MapView.h"
#include "ui/OrvaneView.h"
#include "ui/PlayerBar.h"
#include "ui/RenderBackend.h"
#include "ui/SetupView.h"
#include "recording/Recorder.h"
#include "tools/nmea/NmeaEpochs.h"
#include "util/WideText.h"

#include <gtest/gtest.h>
#include <kml/dom.h>

#include <QScrollBar>
#include <QAction>
#include <QComboBox>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QToolButton>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

using namespace frametest;

namespace
{
const char* const kOrganisation = kUserFolderName;

class FrameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_folder.Path().empty());
        QSettings(kOrganisation, "Orvane").clear();
        m_app = std::make_unique<TestApp>(ConfigPath());
    }

    void TearDown() override
    {
        if (m_app)
            m_app->DestroyMainWindow();
        m_app.reset();
    }

    std::filesystem::path ConfigPath() const { return m_folder.Path() / "Orvane.xml"; }

    void Start()
    {
        ASSERT_TRUE(m_app->InitInstance());
        m_frame = m_app->Frame();
        m_doc = m_app->Doc();
        ASSERT_NE(m_frame, nullptr);
        ASSERT_NE(m_doc, nullptr);
    }

    // The close box; the same as File, Exit (which the run test takes).
    void CloseWindow()
    {
        m_frame->close();
        m_app->DestroyMainWindow();
        m_frame = nullptr;
        m_doc = nullptr;
    }

    // Connects and waits until the open, which runs on a worker, has ended.
    void Connect(const std::wstring& portName)
    {
        m_frame->SetPortName(portName);
        m_frame->ConnectDevice(true);
        ASSERT_TRUE(ProcessEventsUntil([&] { return !m_frame->IsConnecting(); }));
    }

    // Sends the lines, waits until the reader thread has read each one, then handles the
    // update that was posted for them.
    void Feed(PseudoTerminal& pty, const std::vector<std::string>& lines)
    {
        Counter read;
        boost::signals2::scoped_connection watch =
            m_frame->GetDevice().ConnectNotification([&](int) { read.Raise(); });
        std::string bytes;
        for (const std::string& line : lines)
            bytes += line;
        ASSERT_TRUE(pty.Write(bytes));
        ASSERT_TRUE(read.WaitFor(static_cast<int>(lines.size()))) << read.Value() << " of " << lines.size();
        watch.disconnect();
        ASSERT_TRUE(ProcessEventsUntil([&] { return !m_frame->IsUpdatePending(); }));
    }

    // Opens the log and, once it is indexed, holds it at its start: what came meanwhile is
    // handed over and played again. Empty when it did not open.
    std::shared_ptr<LogPlayer> OpenLogHeldAtStart(const std::filesystem::path& log)
    {
        if (!m_frame->OpenLog(log.wstring()) || !ProcessEventsUntil([&] { return !m_frame->IsOpeningLog(); }))
            return nullptr;
        std::shared_ptr<LogPlayer> player = m_frame->GetPlayer();
        if (!player)
            return nullptr;
        player->Pause();
        EXPECT_TRUE(ProcessEventsUntil([&] { return !m_frame->IsUpdatePending(); }));
        player->Seek(0.0);
        return player;
    }

    // Records, in the kind `command` chooses, while the log plays at Max until the terminal says
    // it ended; then stops the recording.
    void RecordWhileTheLogPlaysToItsEnd(COrvaneView& view, unsigned command, const std::wstring& name,
                                        const std::function<void()>& atTheEnd = {})
    {
        m_frame->FindCommand(command)->trigger();
        m_doc->SetRecording(true);
        ASSERT_EQ(m_doc->m_bRecording, 1);
        view.GetPlayerBar()->SpeedButton(LogPlayer::kMaxSpeed)->click();
        view.GetPlayerBar()->PlayButton()->click();
        ASSERT_TRUE(ProcessEventsUntil([&] { return view.GetLogCtrl().GetLines().back().text == LogEndedText(name); }));
        if (atTheEnd)
            atTheEnd();
        m_doc->SetRecording(false);
    }

    bool RestartItemsEnabled() const
    {
        m_frame->UpdateCommandUI();
        const bool hot = m_frame->FindCommand(ID_HOT_START)->isEnabled();
        const bool warm = m_frame->FindCommand(ID_WARM_START)->isEnabled();
        const bool cold = m_frame->FindCommand(ID_COLD_START)->isEnabled();
        EXPECT_TRUE(hot == warm && warm == cold);
        return hot;
    }

    TempFolder m_folder;
    std::unique_ptr<TestApp> m_app;
    TestFrame* m_frame = nullptr;
    COrvaneDoc* m_doc = nullptr;
};

// ---- Start-up and shutdown -------------------------------------------------------------------

TEST_F(FrameTest, SettingsFileIsLoadedBeforeTheViewsFirstUpdate)
{
    const AppSettings stored{L"ttyUSB3", L"38400", (m_folder.Path() / "tracks").wstring(), {}};
    ASSERT_TRUE(SaveSettings(stored, ConfigPath().wstring()));

    Start();
    const Seen& seen = m_app->m_seen;
    EXPECT_EQ(m_app->m_strConfigPath, ConfigPath().wstring());
    ASSERT_TRUE(seen.initialUpdate);
    EXPECT_TRUE(seen.mainWindowAtInitialUpdate);
    EXPECT_EQ(seen.settingsAtInitialUpdate.port, L"ttyUSB3");
    EXPECT_EQ(seen.settingsAtInitialUpdate.baudRate, L"38400");
    EXPECT_EQ(seen.settingsAtInitialUpdate.saveFolder, stored.saveFolder);
    // The program never connects by itself.
    EXPECT_EQ(m_doc->m_bConnected, 0);
    EXPECT_FALSE(m_frame->GetDevice().IsOpen());
}

TEST_F(FrameTest, NoSettingsFileGivesTheDefaultsAndClosingWritesTheRecord)
{
    Start();
    const Seen& seen = m_app->m_seen;
    ASSERT_TRUE(seen.initialUpdate);
    EXPECT_EQ(seen.settingsAtInitialUpdate.port, L"");
    EXPECT_EQ(seen.settingsAtInitialUpdate.baudRate, L"4800");
    EXPECT_EQ(seen.settingsAtInitialUpdate.saveFolder, L"");
    EXPECT_FALSE(std::filesystem::exists(ConfigPath()));

    // What the setup view would have stored during the run.
    m_app->m_settings = AppSettings{L"ttyACM1", L"115200", L"/srv/tracks", {}};
    CloseWindow();

    // Written before the views went away, and there afterwards.
    EXPECT_TRUE(m_app->m_seen.destroyed);
    ASSERT_TRUE(m_app->m_seen.settingsFileReadAtDestruction);
    EXPECT_EQ(m_app->m_seen.settingsFileAtDestruction.port, L"ttyACM1");
    AppSettings reread;
    ASSERT_TRUE(LoadSettings(ConfigPath().wstring(), reread));
    EXPECT_EQ(reread.port, L"ttyACM1");
    EXPECT_EQ(reread.baudRate, L"115200");
    EXPECT_EQ(reread.saveFolder, L"/srv/tracks");
}

TEST_F(FrameTest, UnwritableSettingsFolderStillStartsAndCloses)
{
    m_app.reset();
    m_app = std::make_unique<TestApp>(m_folder.Path() / "no-such-folder" / "Orvane.xml");
    Start();
    EXPECT_TRUE(m_frame->isVisible());
    CloseWindow();
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path() / "no-such-folder"));
}

// The setup form inside the running program.
CSetupView* SetupViewOf(COrvaneDoc* doc)
{
    for (CView* view : doc->GetViews())
        if (auto* setup = dynamic_cast<CSetupView*>(view))
            return setup;
    return nullptr;
}

TEST_F(FrameTest, SaveWritesTheSettingsFileAtOnce)
{
    Start();
    CSetupView* setup = SetupViewOf(m_doc);
    ASSERT_NE(setup, nullptr);
    setup->m_cbBaud->setCurrentText(QStringLiteral("38400"));
    setup->m_strFolder = (m_folder.Path() / "tracks").wstring();
    setup->m_btnSave->click();

    // On disk before the window closes: a crash or a power cut now keeps it.
    AppSettings written;
    ASSERT_TRUE(LoadSettings(ConfigPath().wstring(), written));
    EXPECT_EQ(written.baudRate, L"38400");
    EXPECT_EQ(written.saveFolder, (m_folder.Path() / "tracks").wstring());
    EXPECT_TRUE(m_app->m_messages.empty());
    // And once more at exit.
    std::filesystem::remove(ConfigPath());
    CloseWindow();
    ASSERT_TRUE(LoadSettings(ConfigPath().wstring(), written));
    EXPECT_EQ(written.baudRate, L"38400");
}

TEST_F(FrameTest, SaveThatCannotWriteNamesTheFileAndWhy)
{
    // A regular file where the settings' folder should be: no one, root included, writes there.
    const std::filesystem::path notAFolder = m_folder.Path() / "plain";
    std::ofstream(notAFolder) << "a file";
    const std::filesystem::path path = notAFolder / "Orvane.xml";
    m_app.reset();
    m_app = std::make_unique<TestApp>(path);
    Start();
    CSetupView* setup = SetupViewOf(m_doc);
    ASSERT_NE(setup, nullptr);
    setup->m_btnSave->click();

    ASSERT_EQ(m_app->m_messages.size(), 1u);
    const ShownMessage& shown = m_app->m_messages[0];
    EXPECT_EQ(shown.text, L"The settings could not be saved to " + path.wstring() +
                              L".\n\nThe system reported an error: Not a directory.");
    EXPECT_EQ(shown.caption, L"Error");
    EXPECT_EQ(shown.icon, MbIcon::Error);
    // The exit's attempt fails without a box no one could answer.
    CloseWindow();
    EXPECT_EQ(m_app->m_messages.size(), 1u);
    EXPECT_EQ(ReadFile(notAFolder), "a file");
}

TEST_F(FrameTest, WindowStateIsKeptUnderTheApplicationsKey)
{
    Start();
    CloseWindow();
    const QSettings stored(kOrganisation, "Orvane");
    EXPECT_FALSE(stored.allKeys().isEmpty());
}

// ---- The window --------------------------------------------------------------------------------

TEST_F(FrameTest, WindowIsFixedAtTheOriginWithoutMaximiseButton)
{
    Start();
    EXPECT_TRUE(m_frame->isVisible());
    EXPECT_EQ(m_frame->windowTitle(), "Orvane");
    EXPECT_EQ(m_frame->pos(), QPoint(0, 0));
    // The whole window, frame included, is 1280 x 768; the client cannot be resized.
    EXPECT_EQ(m_frame->frameGeometry().size(), QSize(1280, 768));
    EXPECT_EQ(m_frame->minimumSize(), m_frame->size());
    EXPECT_EQ(m_frame->maximumSize(), m_frame->size());
    const Qt::WindowFlags flags = m_frame->windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(m_frame->windowIcon().isNull());
    // No tool bar and no status bar, and the main view fills the client area.
    EXPECT_TRUE(m_frame->findChildren<QToolBar*>().isEmpty());
    EXPECT_EQ(m_frame->findChild<QStatusBar*>(), nullptr);
    ASSERT_NE(m_frame->centralWidget(), nullptr);
    EXPECT_EQ(m_doc->GetViews().front(), dynamic_cast<CView*>(m_frame->centralWidget()));
    // The tabs and the map end at y 700 whatever the frame left of the 768.
    auto* view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->GetTabs()->geometry(), QRect(QPoint(1, 478), QPoint(399, 699)));
    EXPECT_EQ(view->GetMapView()->geometry(), QRect(QPoint(402, 0), QPoint(view->width() - 3, 699)));

    if (const char* folder = std::getenv("ORVANE_SCREENSHOT_DIR"))
    {
        m_frame->grab().save(QString::fromLocal8Bit(folder) + "/frame.png");
        QMenu* tools = m_frame->menuBar()->actions().at(1)->menu();
        tools->popup(QPoint(40, 20));
        ProcessEventsUntil([&] { return tools->isVisible(); });
        tools->grab().save(QString::fromLocal8Bit(folder) + "/tools-menu.png");
        tools->hide();
    }
}

TEST_F(FrameTest, MenuBarHoldsTheMenusWithTheirTexts)
{
    Start();
    struct Item
    {
        const char* text;
        unsigned id; // 0: a separator; kSubmenu: the Receiver submenu
    };
    constexpr unsigned kSubmenu = 1;
    struct Menu
    {
        const char* title;
        std::vector<Item> items;
    };
    const std::vector<Menu> expected = {
        {"&File", {{"&Open Log\u2026", ID_FILE_OPEN}, {"", 0}, {"E&xit", ID_APP_EXIT}}},
        {"Tools",
         {{"Hot Start GPS", ID_HOT_START},
          {"Warm Start GPS", ID_WARM_START},
          {"Cold Start GPS", ID_COLD_START},
          {"Receiver", kSubmenu},
          {"Enable UBX navigation messages", ID_ENABLE_UBX},
          {"", 0},
          {"Save NMEA File", ID_SAVE_NMEA},
          {"Save KML File", ID_SAVE_KML},
          {"Save GPX File", ID_SAVE_GPX},
          {"Save Raw Log", ID_SAVE_RAW}}},
        {"&Help", {{"&About Orvane...", ID_APP_ABOUT}}},
    };

    const QList<QAction*> menus = m_frame->menuBar()->actions();
    ASSERT_EQ(menus.size(), static_cast<qsizetype>(expected.size()));
    for (std::size_t m = 0; m < expected.size(); ++m)
    {
        SCOPED_TRACE(expected[m].title);
        EXPECT_EQ(menus[m]->text(), expected[m].title);
        ASSERT_NE(menus[m]->menu(), nullptr);
        const QList<QAction*> items = menus[m]->menu()->actions();
        ASSERT_EQ(items.size(), static_cast<qsizetype>(expected[m].items.size()));
        for (qsizetype i = 0; i < items.size(); ++i)
        {
            const Item& want = expected[m].items[static_cast<std::size_t>(i)];
            if (want.id == 0)
            {
                EXPECT_TRUE(items[i]->isSeparator());
                continue;
            }
            if (want.id == kSubmenu)
            {
                // Automatic, then each family by the name people know it by.
                EXPECT_EQ(items[i]->text(), want.text);
                ASSERT_NE(items[i]->menu(), nullptr);
                const QList<QAction*> choices = items[i]->menu()->actions();
                const std::vector<std::pair<QString, unsigned>> names = {
                    {"Automatic", ID_RECEIVER_AUTOMATIC}, {"SiRF", ID_RECEIVER_FIRST_FAMILY},
                    {"u-blox", ID_RECEIVER_FIRST_FAMILY + 1}, {"MediaTek", ID_RECEIVER_FIRST_FAMILY + 2},
                    {"Airoha", ID_RECEIVER_FIRST_FAMILY + 3}, {"Quectel", ID_RECEIVER_FIRST_FAMILY + 4},
                    {"ST", ID_RECEIVER_FIRST_FAMILY + 5}, {"CASIC", ID_RECEIVER_FIRST_FAMILY + 6}};
                ASSERT_EQ(choices.size(), static_cast<qsizetype>(names.size()));
                for (std::size_t c = 0; c < names.size(); ++c)
                {
                    EXPECT_EQ(choices[static_cast<qsizetype>(c)]->text(), names[c].first);
                    EXPECT_EQ(m_frame->FindCommand(names[c].second), choices[static_cast<qsizetype>(c)]);
                }
                continue;
            }
            EXPECT_EQ(items[i]->text(), want.text);
            EXPECT_EQ(m_frame->FindCommand(want.id), items[i]);
        }
    }
    // The recording kind is a checked choice, NMEA at first.
    m_frame->UpdateCommandUI();
    EXPECT_TRUE(m_frame->FindCommand(ID_SAVE_NMEA)->isChecked());
    EXPECT_FALSE(m_frame->FindCommand(ID_SAVE_KML)->isChecked());
}

TEST_F(FrameTest, AboutShowsAModalBoxThatClosesOnOk)
{
    Start();
    QString caption;
    QString text;
    bool modal = false;
    bool hasIcon = false;
    bool clicked = false;
    QTimer::singleShot(0, [&] {
        auto* box = dynamic_cast<CAboutDlg*>(QApplication::activeModalWidget());
        if (!box)
            return;
        modal = box->isModal();
        caption = box->windowTitle();
        for (const QLabel* label : box->findChildren<QLabel*>())
        {
            if (!label->text().isEmpty())
                text = label->text();
            if (!label->pixmap().isNull())
                hasIcon = true;
        }
        if (const char* folder = std::getenv("ORVANE_SCREENSHOT_DIR"))
            box->grab().save(QString::fromLocal8Bit(folder) + "/about.png");
        auto* buttons = box->findChild<QDialogButtonBox*>();
        if (QPushButton* ok = buttons ? buttons->button(QDialogButtonBox::Ok) : nullptr)
        {
            clicked = true;
            ok->click();
        }
    });
    // Returns when the box has closed.
    m_frame->FindCommand(ID_APP_ABOUT)->trigger();
    EXPECT_TRUE(modal);
    EXPECT_EQ(caption, "About Orvane");
    EXPECT_EQ(text, "Orvane, Version 1.0.0.1018");
    EXPECT_TRUE(hasIcon);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// ---- Port names and failure texts ------------------------------------------------------------

TEST(OpenFailureText, NamesThePortAndAReasonThePersonCanActOn)
{
    const struct
    {
        PortError error;
        int systemError;
        const wchar_t* phrase;
    } rows[] = {
        {PortError::NotFound, ENOENT, L"does not exist"},
        {PortError::Busy, EBUSY, L"in use by another program"},
        {PortError::PermissionDenied, EACCES, L"\"dialout\" group"},
        {PortError::NotSerialPort, ENOTTY, L"not a serial port"},
        {PortError::Unsupported, EINVAL, L"does not accept 14400 baud"},
        {PortError::Gone, EIO, L"stopped answering"},
        {PortError::HeldByGpsd, EBUSY, L"ttyUSB0 is used by gpsd; choose gpsd://localhost to watch it through gpsd"},
        {PortError::Other, ENOMEM, L"Cannot allocate memory"},
    };
    for (const auto& row : rows)
    {
        const std::wstring text =
            DescribeOpenFailure(L"/dev/ttyUSB0", row.error, row.systemError, 14400);
        EXPECT_NE(text.find(L"/dev/ttyUSB0"), std::wstring::npos) << std::string(text.begin(), text.end());
        EXPECT_NE(text.find(row.phrase), std::wstring::npos) << std::string(text.begin(), text.end());
    }
}

TEST(OpenFailureText, NetworkSourcesSayWhatFailedWhere)
{
    const struct
    {
        const wchar_t* source;
        PortError error;
        int systemError;
        const wchar_t* phrase;
    } rows[] = {
        {L"tcp://127.0.0.1:5000", PortError::ConnectionRefused, ECONNREFUSED, L"connection refused"},
        {L"tcp://receiver.lan:5000", PortError::HostNotFound, 0, L"host not found."},
        {L"tcp://receiver.lan:5000", PortError::HostNotFound, ETIMEDOUT, L"host not found: timed out."},
        {L"gpsd://127.0.0.1:2948", PortError::ConnectionRefused, ECONNREFUSED,
         L"gpsd is not running on 127.0.0.1:2948"},
        {L"gpsd://localhost", PortError::NotGpsd, 0, L"gpsd is not running on localhost:2947"},
        {L"gpsd://[::1]", PortError::ConnectionRefused, ECONNREFUSED, L"gpsd is not running on [::1]:2947"},
        {L"tcp://10.1.1.1:5000", PortError::NoAnswer, ETIMEDOUT, L"no answer from 10.1.1.1:5000"},
        {L"udp://:10110", PortError::Busy, EADDRINUSE, L"in use by another program"},
        {L"udp://:10110", PortError::Other, ENOMEM, L"Cannot allocate memory"},
        {L"tcp://127.0.0.1", PortError::BadAddress, 0, L"tcp://HOST:PORT"},
    };
    for (const auto& row : rows)
    {
        const std::wstring text =
            DescribeOpenFailure(row.source, row.error, row.systemError, 4800);
        const std::string shown(text.begin(), text.end());
        EXPECT_NE(text.find(row.source), std::wstring::npos) << shown;
        EXPECT_NE(text.find(row.phrase), std::wstring::npos) << shown;
        // A network source is no serial port and has no baud rate.
        EXPECT_EQ(text.find(L"serial port " + std::wstring(row.source)), std::wstring::npos) << shown;
        EXPECT_EQ(text.find(L"baud"), std::wstring::npos) << shown;
    }
}

// ---- Connecting -------------------------------------------------------------------------------

TEST_F(FrameTest, ConnectDisconnectConnectKeepsOneSubscriptionAndAtMostOneMessagePerLine)
{
    Start();
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    const std::vector<std::string> lines = CaptureLines("haicom-305N.nmea");
    ASSERT_GE(lines.size(), 30u);
    const std::vector<std::string> first(lines.begin(), lines.begin() + 10);
    const std::vector<std::string> second(lines.begin() + 10, lines.begin() + 30);

    // The setup form hands the settings' rate to the frame at its first showing.
    EXPECT_EQ(m_frame->GetBaudRate(), 4800);
    m_frame->SetBaudRate(9600);
    Connect(pty.SlaveWidePath());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    EXPECT_TRUE(m_app->m_messages.empty());
    EXPECT_EQ(m_app->m_seen.Count(HINT_CONNECTION_CHANGED), 1);
    Feed(pty, first);

    m_frame->ConnectDevice(false);
    EXPECT_EQ(m_doc->m_bConnected, 0);
    EXPECT_FALSE(m_frame->GetDevice().IsOpen());
    EXPECT_EQ(m_app->m_seen.Count(HINT_CONNECTION_CHANGED), 2);

    // A second connect replaces the connection rather than adding one.
    Connect(pty.SlaveWidePath());
    Connect(pty.SlaveWidePath());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    EXPECT_TRUE(m_app->m_messages.empty());
    // Twenty lines in one burst reach the views at most once a frame: however slowly the burst
    // is read, no two updates start closer than that, so there is at most one more update than
    // frames in the time it took. (The pacer's clock counts whole milliseconds: one off.)
    const int before = m_app->m_seen.Count(HINT_GPS_DATA);
    const auto fed = std::chrono::steady_clock::now();
    Feed(pty, second);
    const auto took = std::chrono::steady_clock::now() - fed;
    const std::chrono::milliseconds frame(UpdatePacer::kFrameUpdateMs - 1);
    const int updates = m_app->m_seen.Count(HINT_GPS_DATA) - before;
    EXPECT_GE(updates, 1);
    EXPECT_LE(updates, 1 + static_cast<int>(took / frame))
        << "in " << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    m_frame->ConnectDevice(false);

    // The reader thread is joined: whatever it posted is queued now, and nothing more comes.
    DeliverPostedEvents();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !m_frame->IsUpdatePending(); }));
    // Lines read while an update waits ride along with it: at least one update per feed, and
    // one message for each update, none for a line that found one waiting.
    EXPECT_GE(m_frame->m_nGpsUpdates, 2);
    EXPECT_LE(m_frame->m_nGpsUpdates, m_app->m_seen.Count(HINT_GPS_DATA));
    EXPECT_EQ(m_app->m_seen.Count(HINT_CONNECTION_CHANGED), 5);
    // The main view took the decoded state into the document: the capture is at 27°S 153°E.
    EXPECT_NEAR(m_doc->m_gps.latitude, -27.21, 0.01);
    EXPECT_NEAR(m_doc->m_gps.longitude, 153.05, 0.01);
}

// The panel does not pass old values off as live: silent for 3 s, or disconnected, it says
// "No data" until sentences come again.
TEST_F(FrameTest, PanelGoesStaleWhenTheReceiverFallsSilentOrIsDisconnected)
{
    Start();
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    auto* view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
    ASSERT_NE(view, nullptr);
    const std::vector<std::string> lines = CaptureLines("haicom-305N.nmea");
    const std::vector<std::string> some(lines.begin(), lines.begin() + 10);

    EXPECT_TRUE(view->IsLive()) << "nothing old to show before the first sentence";
    Connect(pty.SlaveWidePath());
    Feed(pty, some);
    EXPECT_TRUE(view->IsLive());
    ASSERT_TRUE(ProcessEventsUntil([&] { return !view->IsLive(); }, std::chrono::seconds(20)));

    Feed(pty, some);
    EXPECT_TRUE(view->IsLive()) << "live again with the next sentence";
    m_frame->ConnectDevice(false);
    EXPECT_FALSE(view->IsLive());
    // What the user sees: the fix box of the painted panel reads differently once stale.
    const QImage stale = view->grab(QRect(0, 0, 400, 478)).toImage();
    Connect(pty.SlaveWidePath());
    Feed(pty, some);
    const QImage live = view->grab(QRect(0, 0, 400, 478)).toImage();
    EXPECT_NE(stale.copy(28, 130, 62, 20), live.copy(28, 130, 62, 20));
    m_frame->ConnectDevice(false);
}

struct PanelPaints : QObject
{
    int count = 0;
    // Paints while the terminal, holding more than a page, still kept back lines it had stored.
    const CLogCtrl* terminal = nullptr;
    int terminalBehind = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        // The count to the first fix repaints its own box ten times a second: not the panel's values.
        if (event->type() == QEvent::Paint &&
            static_cast<QPaintEvent*>(event)
                ->region()
                .subtracted(PanelRect(panel::kTimeToFixBox))
                .intersects(QRect(0, 0, panel::kWidth, panel::kRepaintHeight)))
        {
            ++count;
            // The scroll range covers the lines shown: a page less than those stored, once caught up.
            const QScrollBar* bar = terminal ? terminal->verticalScrollBar() : nullptr;
            const int stored = terminal ? static_cast<int>(terminal->GetLineCount()) : 0;
            if (bar && stored > bar->pageStep() && bar->maximum() + bar->pageStep() != stored)
                ++terminalBehind;
        }
        return false;
    }
};

// A receiver's lines one by one, as a slow link brings them: the panel is drawn about once an
// epoch, not once a line, and in the end shows every line received.
TEST_F(FrameTest, PanelIsDrawnOnceAnEpochAndInTheEndShowsEveryLine)
{
    Start();
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    auto* view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
    ASSERT_NE(view, nullptr);
    const std::vector<std::string> all = CaptureLines("haicom-305N.nmea");
    ASSERT_GE(all.size(), 40u);
    const std::vector<std::string> lines(all.begin(), all.begin() + 40);
    int epochs = 1;
    {
        EpochDetector detector;
        GpsData gps{}, ended;
        for (const std::string& line : lines)
        {
            DecodeSentence(line, gps);
            epochs += detector.Feed(gps, ended) ? 1 : 0;
        }
    }
    ASSERT_LE(2 * epochs, static_cast<int>(lines.size())) << "the capture sends several sentences an epoch";

    // A fast link, so the reader's pause between reads is short.
    m_frame->SetBaudRate(115200);
    Connect(pty.SlaveWidePath());
    QCoreApplication::processEvents();
    PanelPaints paints;
    paints.terminal = &view->GetLogCtrl();
    view->installEventFilter(&paints);
    for (const std::string& line : lines)
    {
        Feed(pty, {line});
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->GetGps() == m_doc->m_gps; }));
    const QScrollBar* bar = view->GetLogCtrl().verticalScrollBar();
    EXPECT_TRUE(ProcessEventsUntil([&] {
        return bar->maximum() + bar->pageStep() == static_cast<int>(view->GetLogCtrl().GetLineCount());
    })) << "lines kept back for the terminal's interval are shown by its end";
    QCoreApplication::processEvents();
    view->removeEventFilter(&paints);
    // The first line at once, then each epoch once its last sentence is known.
    EXPECT_GE(paints.count, 2);
    EXPECT_LE(paints.count, epochs + 2) << epochs << " epochs in " << lines.size() << " lines";
    EXPECT_EQ(paints.terminalBehind, 0) << "an epoch's last sentences reach the terminal with the panel";
    m_frame->ConnectDevice(false);
}

namespace
{
// One second of a SiRF receiver: GGA, RMC and GSA, with or without a fix.
std::vector<std::string> FixEpoch(int second, bool fix)
{
    char time[32];
    std::snprintf(time, sizeof time, "1200%02d.000", second);
    const std::string t(time);
    const std::string bodies[] = {
        "GPGGA," + t + (fix ? ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,," : ",,,,,0,00,,,M,,M,,"),
        "GPRMC," + t + (fix ? ",A,4807.038,N,01131.000,E,0.0,0.0,091226,,,A" : ",V,,,,,,,091226,,,N"),
        fix ? std::string("GPGSA,A,3,04,05,09,12,,,,,,,,,1.8,0.9,1.5") : std::string("GPGSA,A,1,,,,,,,,,,,,,,,"),
    };
    std::vector<std::string> lines;
    for (const std::string& body : bodies)
    {
        char tail[8];
        std::snprintf(tail, sizeof tail, "*%02X\r\n", ComputeChecksum("$" + body));
        lines.push_back("$" + body + tail);
    }
    return lines;
}

bool StartsWith(const QString& text, const char* start)
{
    return text.startsWith(QLatin1String(start));
}
} // namespace

// Lines read but not yet handed over when the user disconnects go with that source: none of
// them reaches the views, the history or the next source's record.
TEST_F(FrameTest, NoLineOfASourceReachesTheWindowAfterDisconnectNorTheNextSource)
{
    Start();
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    const std::vector<std::string> lines = CaptureLines("haicom-305N.nmea");
    std::vector<std::string> valid;
    for (std::size_t i = 0; i < 12; ++i)
        if (IsChecksumValid(lines[i]))
            valid.push_back(lines[i]);
    ASSERT_GE(valid.size(), 10u);

    Connect(pty.SlaveWidePath());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    // Counts notifications on the reader thread, so the test can wait for lines to be read
    // without letting the user-interface thread handle them.
    Counter read;
    boost::signals2::scoped_connection watch = m_frame->GetDevice().ConnectNotification([&](int) { read.Raise(); });

    // Read and queued, but not handled, when the user disconnects.
    std::string bytes;
    for (const std::string& line : valid)
        bytes += line;
    ASSERT_TRUE(pty.Write(bytes));
    ASSERT_TRUE(read.WaitFor(static_cast<int>(valid.size())));
    watch.disconnect();
    m_frame->ConnectDevice(false);
    DeliverPostedEvents();
    EXPECT_EQ(m_app->m_seen.Count(HINT_GPS_DATA), 0);
    EXPECT_EQ(m_frame->m_nGpsUpdates, 0);

    // The next source, a receiver at 48°N 11°E, shows only its own lines.
    PseudoTerminal next;
    ASSERT_TRUE(next.IsValid());
    Connect(next.SlaveWidePath());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    Feed(next, FixEpoch(5, true));
    DeliverPostedEvents();
    EXPECT_NEAR(m_doc->m_gps.latitude, 48.12, 0.01);
    EXPECT_EQ(m_frame->m_nGpsUpdates, m_app->m_seen.Count(HINT_GPS_DATA));
    ASSERT_EQ(m_doc->m_history.Samples().Size(), 1u) << "the history holds the new source's second alone";
    EXPECT_EQ(m_doc->m_history.Samples().Back().fixMode, 3);
}

TEST_F(FrameTest, RestartCommandsReachTheReceiverAndNeedAConnection)
{
    Start();
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    QMenu* tools = m_frame->menuBar()->actions().at(1)->menu();
    ASSERT_NE(tools, nullptr);

    emit tools->aboutToShow();
    EXPECT_FALSE(m_frame->FindCommand(ID_HOT_START)->isEnabled());
    EXPECT_FALSE(m_frame->FindCommand(ID_WARM_START)->isEnabled());
    EXPECT_FALSE(m_frame->FindCommand(ID_COLD_START)->isEnabled());
    // A disabled item sends nothing.
    m_frame->FindCommand(ID_COLD_START)->trigger();

    // The kernel name form: "pts/N" under /dev.
    Connect(pty.SlavePortName());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    emit tools->aboutToShow();
    EXPECT_TRUE(m_frame->FindCommand(ID_HOT_START)->isEnabled());

    const struct
    {
        unsigned id;
        std::string_view bytes;
        HistoryEventKind marked; // on the history's time axis
    } rows[] = {
        {ID_HOT_START, "$PSRF101,0,0,0,96000,497260,921,12,1*2E\r\n", HistoryEventKind::HotStart},
        {ID_WARM_START, "$PSRF101,0,0,0,96000,497260,921,12,2*2D\r\n", HistoryEventKind::WarmStart},
        {ID_COLD_START, "$PSRF101,0,0,0,96000,497260,921,12,4*2B\r\n", HistoryEventKind::ColdStart},
    };
    for (const auto& row : rows)
    {
        m_frame->FindCommand(row.id)->trigger();
        const std::string sent = pty.Read(41);
        EXPECT_EQ(sent, row.bytes);
        EXPECT_EQ(sent.size(), 41u);
        ASSERT_FALSE(m_doc->m_history.Events().Empty());
        EXPECT_EQ(m_doc->m_history.Events().Back().kind, row.marked);
    }
    EXPECT_EQ(m_doc->m_history.Events().Size(), 3u) << "a disabled item marks nothing";

    m_frame->ConnectDevice(false);
    EXPECT_FALSE(RestartItemsEnabled());
    m_frame->FindCommand(ID_HOT_START)->trigger();
    EXPECT_EQ(pty.ReadAvailable(), "");
}

TEST_F(FrameTest, RestartItemsAreDisabledWhileTheBaudProbeHasThePortClosed)
{
    Start();
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    Connect(pty.SlavePortName());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    EXPECT_TRUE(RestartItemsEnabled());

    // A receiver that stays silent: after the quiet time the port is closed while the other
    // rates are listened to, and the connection still stands.
    ASSERT_TRUE(ProcessEventsUntil([&] { return !m_frame->GetDevice().IsOpen(); }));
    EXPECT_EQ(m_doc->m_bConnected, 1);
    EXPECT_FALSE(RestartItemsEnabled());
    m_frame->FindCommand(ID_HOT_START)->trigger();
    EXPECT_TRUE(m_doc->m_history.Events().Empty()) << "a disabled item marks nothing";

    m_frame->ConnectDevice(false);
    EXPECT_FALSE(RestartItemsEnabled());
}


// After Connect and after a restart the panel counts the seconds to the first fix, then shows
// the result, which also goes to the terminal and never into the recording.
TEST_F(FrameTest, PanelCountsToTheFirstFixThenShowsItAndTheTerminalButNotTheRecordingHasIt)
{
    Start();
    TempFolder records;
    m_doc->m_strSaveFolder = records.Path().wstring();
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    auto* view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
    ASSERT_NE(view, nullptr);
    const QRect ttffBox = PanelRect(panel::kTimeToFixBox);
    const QImage idle = view->grab(ttffBox).toImage();
    EXPECT_TRUE(view->TimeToFixText().isEmpty());

    Connect(pty.SlaveWidePath());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    m_frame->FindCommand(ID_SAVE_NMEA)->trigger();
    m_doc->SetRecording(true);
    EXPECT_TRUE(view->IsCountingToFix());
    EXPECT_TRUE(StartsWith(view->TimeToFixText(), "Connected: searching 0.")) << view->TimeToFixText().toStdString();
    // The count runs on its own, with no sentence coming, and is painted.
    const QString early = view->TimeToFixText();
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->TimeToFixText() != early; }, std::chrono::seconds(5)));
    const QImage counting = view->grab(ttffBox).toImage();
    EXPECT_NE(counting, idle);

    std::vector<std::string> fed;
    const auto feed = [&](const std::vector<std::string>& lines) {
        Feed(pty, lines);
        fed.insert(fed.end(), lines.begin(), lines.end());
    };
    feed(FixEpoch(1, false));
    EXPECT_TRUE(view->IsCountingToFix());
    feed(FixEpoch(2, true));
    EXPECT_FALSE(view->IsCountingToFix()) << "the fix epoch's GGA ends the search";
    const QString connected = view->TimeToFixText();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Connected: fix in \\d+\\.\\d s$")).match(connected).hasMatch())
        << connected.toStdString();
    // The terminal line that says so, and the one before it.
    const auto saidAfter = [&](const QString& said) -> std::wstring {
        const LogLines lines = view->GetLogCtrl().GetLines();
        for (std::size_t i = 1; i < lines.size(); ++i)
            if (lines[i].text == said.toStdWString() + L"\r\n")
                return lines[i - 1].text;
        return L"(not in the terminal)";
    };
    EXPECT_EQ(saidAfter(connected), FromUtf8(FixEpoch(2, true).front())) << "right after the line that brought it";
    EXPECT_NE(view->grab(ttffBox).toImage(), counting);

    m_frame->FindCommand(ID_COLD_START)->trigger();
    EXPECT_EQ(pty.Read(41), RestartCommand(ReceiverFamily::Unknown, RestartKind::Cold));
    EXPECT_TRUE(view->IsCountingToFix());
    EXPECT_TRUE(StartsWith(view->TimeToFixText(), "Cold start: searching 0.")) << view->TimeToFixText().toStdString();
    // A fix in the epoch under way when the command went out, then a second with a fix that a
    // cold start cannot have: the receiver has not said yet that it lost the fix.
    feed({FixEpoch(2, true).back()});
    feed(FixEpoch(3, true));
    EXPECT_TRUE(view->IsCountingToFix());
    if (const char* folder = std::getenv("ORVANE_PANEL_SHOTS"))
        view->grab(QRect(0, 0, 400, 478)).save(QString::fromUtf8(folder) + "/ttff-window-counting.png");
    feed(FixEpoch(5, false));
    feed(FixEpoch(6, true));
    EXPECT_FALSE(view->IsCountingToFix());
    const QString cold = view->TimeToFixText();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Cold start: fix in \\d+\\.\\d s$")).match(cold).hasMatch())
        << cold.toStdString();
    EXPECT_EQ(saidAfter(cold), FromUtf8(FixEpoch(6, true).front()));
    if (const char* folder = std::getenv("ORVANE_PANEL_SHOTS"))
        view->grab(QRect(0, 0, 400, 478)).save(QString::fromUtf8(folder) + "/ttff-window-cold.png");

    // Given up on disconnect: no count left running, nothing shown.
    m_frame->FindCommand(ID_HOT_START)->trigger();
    EXPECT_EQ(pty.Read(41), RestartCommand(ReceiverFamily::Unknown, RestartKind::Hot));
    EXPECT_TRUE(view->IsCountingToFix());
    m_frame->ConnectDevice(false);
    EXPECT_FALSE(view->IsCountingToFix());
    EXPECT_TRUE(view->TimeToFixText().isEmpty());

    m_doc->SetRecording(false);
    const std::vector<std::filesystem::path> files = records.Entries();
    ASSERT_EQ(files.size(), 1u);
    std::string expected;
    for (const std::string& line : fed)
        expected += line;
    EXPECT_EQ(ReadFile(files[0]), expected) << "the receiver's lines only";
}

namespace
{
// Lines with the record right after each, as the frame hands a batch to the document.
// The reader's epoch marks come from `epochs`, kept across batches.
std::vector<ReceivedLine> Decoded(const std::vector<std::string>& lines, GpsData& gps, EpochEnd& epochs)
{
    std::vector<ReceivedLine> batch;
    for (const std::string& line : lines)
    {
        DecodeSentence(line, gps);
        batch.push_back({line, gps, {}, epochs.Feed(line, gps)});
    }
    return batch;
}

void SaveShot(QWidget* widget, const char* name)
{
    if (const char* folder = std::getenv("ORVANE_SCREENSHOT_DIR"))
        widget->grab().save(QString::fromLocal8Bit(folder) + "/" + name);
}

// Pixels of exactly this colour in a column range of the picture.
int CountColour(const QImage& image, QColor colour, int fromX = 0)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = fromX; x < image.width(); ++x)
            n += image.pixelColor(x, y) == colour;
    return n;
}

int FirstColumnOf(const QImage& image, QColor colour)
{
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (image.pixelColor(x, y) == colour)
                return x;
    return -1;
}
} // namespace

TEST_F(FrameTest, HistoryTabsPlotASkyOfFortyAColdStartAndTheFixScatter)
{
    Start();
    auto* view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
    ASSERT_NE(view, nullptr);
    CHistoryView* history = view->GetHistoryView();
    CHistoryView* accuracy = view->GetAccuracyView();
    ASSERT_NE(history, nullptr);
    ASSERT_NE(accuracy, nullptr);
    EXPECT_EQ(view->GetTabs()->tabText(view->GetTabs()->indexOf(history)), "History");
    EXPECT_EQ(view->GetTabs()->tabText(view->GetTabs()->indexOf(accuracy)), "Accuracy");

    // Fifteen minutes of a multi-constellation receiver handed over at full speed, a cold start
    // two thirds of the way, while the tabs are hidden.
    SimConfig config;
    config.gnss = true;
    config.baud = 115200;
    config.seed = 5;
    ReceiverSimulator receiver(config);
    GpsData gps;
    EpochEnd epochs;
    const auto start = std::chrono::sys_days{std::chrono::year{2026} / 12 / 9} + std::chrono::hours(10);
    view->GetTabs()->setCurrentWidget(history);
    ASSERT_TRUE(ProcessEventsUntil([&] { return history->GetPaintCount() > 0; }));
    SaveShot(history, "history-empty.png");
    view->GetTabs()->setCurrentIndex(0);
    const int paintsBefore = history->GetPaintCount();
    for (int second = 0; second < 900; ++second)
    {
        if (second == 600)
        {
            // The frame marks only a command that went out; no port is open here.
            m_doc->MarkRestart(HistoryEventKind::ColdStart);
            receiver.Restart(RestartKind::Cold, start + std::chrono::seconds(second));
        }
        std::vector<ReceivedLine> batch = Decoded(receiver.Step(start + std::chrono::seconds(second)).sentences, gps, epochs);
        m_doc->OnReceived(batch);
        m_doc->UpdateAllViews(nullptr, HINT_GPS_DATA, &batch);
    }
    DeliverPostedEvents();
    EXPECT_EQ(history->GetPaintCount(), paintsBefore) << "hidden, it is never painted";
    EXPECT_EQ(m_doc->m_history.Samples().Size(), History::kSamples - 2) << "the two silent seconds after the restart";

    view->GetTabs()->setCurrentWidget(history);
    ASSERT_TRUE(ProcessEventsUntil([&] { return history->GetPaintCount() > paintsBefore; }));
    // Shown, a stream of updates repaints it at most once a second, and the last one is shown.
    const auto shown = std::chrono::steady_clock::now();
    const int paintsShown = history->GetPaintCount();
    for (int second = 900; second < 905; ++second)
    {
        std::vector<ReceivedLine> batch = Decoded(receiver.Step(start + std::chrono::seconds(second)).sentences, gps, epochs);
        m_doc->OnReceived(batch);
        m_doc->UpdateAllViews(nullptr, HINT_GPS_DATA, &batch);
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(ProcessEventsUntil([&] { return history->GetPaintCount() > paintsShown; }));
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - shown).count();
    EXPECT_LE(history->GetPaintCount() - paintsShown, 1 + static_cast<int>(seconds));

    // The picture: constellations, the restart's tag, and the lost fix after it.
    const QImage timeline = history->grab().toImage();
    SaveShot(history, "history-tab.png");
    EXPECT_GT(CountColour(timeline, SystemColour(GnssSystem::Glonass)), 200);
    EXPECT_GT(CountColour(timeline, SystemColour(GnssSystem::BeiDou)), 200);
    const int restartX = FirstColumnOf(timeline, QColor(255, 170, 0));
    ASSERT_GT(restartX, timeline.width() / 2) << "two thirds along the axis";
    EXPECT_GT(CountColour(timeline, QColor(200, 50, 50), restartX), 0) << "no fix after the cold start";
    EXPECT_GT(CountColour(timeline, QColor(255, 80, 80)), 0) << "the lost fix's marker";

    // The receiver was moved: Reset forgets the positions, and a still receiver's come in.
    view->GetTabs()->setCurrentWidget(accuracy);
    ASSERT_TRUE(ProcessEventsUntil([&] { return accuracy->GetPaintCount() > 0; }));
    SaveShot(accuracy, "accuracy-moving.png");
    ASSERT_GT(m_doc->m_history.FixPositions().size(), 100u);
    accuracy->GetResetButton()->click();
    EXPECT_TRUE(m_doc->m_history.FixPositions().empty());
    EXPECT_EQ(m_doc->m_history.Samples().Size(), History::kSamples) << "the timeline is kept";
    SaveShot(accuracy, "accuracy-reset.png");
    GpsData still;
    EpochEnd stillEpochs;
    std::vector<ReceivedLine> batch = Decoded(CaptureLines("sirfstarv-nmea.nmea"), still, stillEpochs);
    m_doc->OnReceived(batch);
    m_doc->UpdateAllViews(nullptr, HINT_GPS_DATA, &batch);
    EXPECT_GT(m_doc->m_history.FixPositions().size(), 30u);
    EXPECT_LT(ComputeCep(m_doc->m_history.FixPositions()).cep95, 50.0) << "nothing of where it was before";
    SaveShot(accuracy, "accuracy-still.png");
}

TEST_F(FrameTest, PortThatCannotBeOpenedStaysDisconnectedAndSaysWhy)
{
    Start();
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    SerialPort otherProgram;
    ASSERT_TRUE(otherProgram.Open(pty.SlaveWidePath(), 9600));

    const struct
    {
        std::wstring portName;
        std::wstring path;
        const wchar_t* reason;
    } rows[] = {
        {L"/dev/ttyOrvaneNoSuchPort7", L"/dev/ttyOrvaneNoSuchPort7", L"does not exist"},
        {L"ttyOrvaneNoSuchPort7", L"/dev/ttyOrvaneNoSuchPort7", L"does not exist"},
        {pty.SlaveWidePath(), pty.SlaveWidePath(), L"in use by another program"},
        {L"", L"", L"No serial port is chosen"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(std::string(row.portName.begin(), row.portName.end()));
        m_app->m_messages.clear();
        Connect(row.portName);
        EXPECT_EQ(m_doc->m_bConnected, 0);
        EXPECT_FALSE(m_frame->GetDevice().IsOpen());
        EXPECT_FALSE(RestartItemsEnabled());
        ASSERT_EQ(m_app->m_messages.size(), 1u);
        const ShownMessage& shown = m_app->m_messages.front();
        EXPECT_NE(shown.text.find(row.path), std::wstring::npos);
        EXPECT_NE(shown.text.find(row.reason), std::wstring::npos);
        EXPECT_EQ(shown.icon, MbIcon::Error);
    }
    EXPECT_EQ(m_app->m_seen.Count(HINT_CONNECTION_CHANGED), 0);

    // Once the other program lets go, the same port opens.
    otherProgram.Close();
    m_app->m_messages.clear();
    Connect(pty.SlaveWidePath());
    EXPECT_EQ(m_doc->m_bConnected, 1);
    EXPECT_TRUE(m_app->m_messages.empty());
}

TEST_F(FrameTest, UnpluggedReceiverDisconnectsTellsTheUserAndCanBeConnectedAgain)
{
    Start();
    TempFolder records;
    m_doc->m_strSaveFolder = records.Path().wstring();
    const std::vector<std::string> lines = CaptureLines("haicom-305N.nmea");

    auto unplugged = std::make_unique<PseudoTerminal>();
    ASSERT_TRUE(unplugged->IsValid());
    const std::wstring firstPath = unplugged->SlaveWidePath();
    Connect(firstPath);
    ASSERT_EQ(m_doc->m_bConnected, 1);
    m_doc->SetRecording(true);
    ASSERT_EQ(m_doc->m_bRecording, 1);
    Feed(*unplugged, {lines[0], lines[1], lines[2]});

    const int connectionHints = m_app->m_seen.Count(HINT_CONNECTION_CHANGED);
    unplugged->CloseMaster();
    ASSERT_TRUE(ProcessEventsUntil([&] { return m_doc->m_bConnected == 0; }));
    EXPECT_FALSE(m_frame->GetDevice().IsOpen());
    EXPECT_EQ(m_app->m_seen.Count(HINT_CONNECTION_CHANGED), connectionHints + 1);
    EXPECT_FALSE(RestartItemsEnabled());
    ASSERT_EQ(m_app->m_messages.size(), 1u);
    EXPECT_NE(m_app->m_messages[0].text.find(firstPath), std::wstring::npos);
    EXPECT_NE(m_app->m_messages[0].text.find(L"disconnected"), std::wstring::npos);
    // The recording goes on.
    EXPECT_EQ(m_doc->m_bRecording, 1);

    // The receiver comes back (as a new device).
    unplugged.reset();
    PseudoTerminal pluggedIn;
    ASSERT_TRUE(pluggedIn.IsValid());
    Connect(pluggedIn.SlaveWidePath());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    EXPECT_EQ(m_app->m_messages.size(), 1u);
    Feed(pluggedIn, {lines[3], lines[4]});
    EXPECT_EQ(m_frame->m_nDeviceLost, 1);

    CloseWindow();
    const std::vector<std::filesystem::path> files = records.Entries();
    ASSERT_EQ(files.size(), 1u);
    std::string expected;
    for (std::size_t i = 0; i < 5; ++i)
        if (IsChecksumValid(lines[i]))
            expected += lines[i];
    EXPECT_EQ(ReadFile(files[0]), expected);
}

TEST_F(FrameTest, TcpSourceFeedsTheTerminalAndTheRecordTakesRestartsAndEndsLikeAnUnplug)
{
    Start();
    TempFolder records;
    m_doc->m_strSaveFolder = records.Path().wstring();
    const std::vector<std::string> lines = CaptureLines("neo-m8n.nmea");
    ASSERT_GE(lines.size(), 20u);
    loopback::TcpServer server;

    Connect(server.Source());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    EXPECT_TRUE(m_app->m_messages.empty());
    ASSERT_TRUE(server.Accept());
    EXPECT_TRUE(RestartItemsEnabled());
    m_frame->FindCommand(ID_WARM_START)->trigger();
    EXPECT_EQ(server.Receive(41), RestartCommand(ReceiverFamily::Unknown, RestartKind::Warm));

    m_doc->SetRecording(true);
    std::string bytes;
    std::vector<std::string> valid;
    for (std::size_t i = 0; i < 20; ++i)
    {
        bytes += lines[i];
        if (IsChecksumValid(lines[i]))
            valid.push_back(lines[i]);
    }
    Counter read;
    boost::signals2::scoped_connection watch = m_frame->GetDevice().ConnectNotification([&](int) { read.Raise(); });
    ASSERT_TRUE(server.Send(bytes));
    ASSERT_TRUE(read.WaitFor(20));
    watch.disconnect();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !m_frame->IsUpdatePending(); }));
    auto* view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
    ASSERT_NE(view, nullptr);
    const std::vector<LogLine>& shown = view->GetLogCtrl().GetLines();
    ASSERT_GE(shown.size(), valid.size());
    for (std::size_t i = 0; i < valid.size(); ++i)
        EXPECT_EQ(QString::fromStdWString(shown[shown.size() - valid.size() + i].text).toStdString(),
                  valid[i]);

    // The server goes away mid-stream: the same message and state as an unplug.
    server.Send(lines[20].substr(0, 10));
    server.CloseClient();
    ASSERT_TRUE(ProcessEventsUntil([&] { return m_doc->m_bConnected == 0; }));
    EXPECT_FALSE(RestartItemsEnabled());
    ASSERT_EQ(m_app->m_messages.size(), 1u);
    EXPECT_NE(m_app->m_messages[0].text.find(server.Source() + L" was disconnected"), std::wstring::npos);
    EXPECT_NE(m_app->m_messages[0].text.find(L"closed the connection"), std::wstring::npos);
    EXPECT_EQ(m_frame->m_nDeviceLost, 1);

    m_doc->SetRecording(false);
    const std::vector<std::filesystem::path> files = records.Entries();
    ASSERT_EQ(files.size(), 1u);
    std::string recorded;
    for (const std::string& line : valid)
        recorded += line;
    EXPECT_EQ(ReadFile(files[0]), recorded);
}

TEST_F(FrameTest, SourcesThatTakeNoBytesDisableTheRestartItems)
{
    Start();
    loopback::ReservedPort reserved(SOCK_DGRAM);
    const std::uint16_t port = reserved.Port();
    const std::wstring source = L"udp://127.0.0.1:" + std::to_wstring(port);
    Connect(source);
    ASSERT_EQ(m_doc->m_bConnected, 1);
    reserved.Release();
    EXPECT_FALSE(RestartItemsEnabled());
    // The record button and the rest work as for any receiver.
    loopback::UdpSender sender;
    const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    const int expected = m_frame->m_nGpsUpdates + 1;
    ASSERT_TRUE(sender.Send(port, gga));
    ASSERT_TRUE(ProcessEventsUntil([&] { return m_frame->m_nGpsUpdates >= expected; }));
    EXPECT_NEAR(m_doc->m_gps.latitude, 48.1173, 0.001);
    m_frame->ConnectDevice(false);
    EXPECT_FALSE(RestartItemsEnabled());

    // Nothing listens where nothing was typed: a refused source says so and stays disconnected.
    const loopback::ReservedPort refusing(SOCK_STREAM);
    const std::uint16_t closed = refusing.Port();
    m_app->m_messages.clear();
    Connect(L"gpsd://127.0.0.1:" + std::to_wstring(closed));
    EXPECT_EQ(m_doc->m_bConnected, 0);
    ASSERT_EQ(m_app->m_messages.size(), 1u);
    EXPECT_NE(m_app->m_messages[0].text.find(L"gpsd is not running on 127.0.0.1:" + std::to_wstring(closed)),
              std::wstring::npos);
}

// Only a source that takes commands is asked who its receiver is: a serial port, never gpsd's
// relay of one, nor a played log.
TEST_F(FrameTest, VersionQueriesAreForSourcesThatTakeCommandsOnly)
{
    Start();
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    Connect(pty.SlaveWidePath());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    EXPECT_TRUE(m_frame->GetSession().IsVersionQueryPending()) << "a serial receiver that has not said who it is";
    m_frame->ConnectDevice(false);

    if (loopback::Gpsd::IsInstalled())
    {
        PseudoTerminal relayed;
        ASSERT_TRUE(relayed.IsValid());
        loopback::Gpsd gpsd(ToUtf8(relayed.SlaveWidePath()), 9600);
        ASSERT_TRUE(gpsd.WaitUntilListening());
        Connect(gpsd.Source());
        ASSERT_EQ(m_doc->m_bConnected, 1);
        EXPECT_FALSE(m_frame->GetSession().IsVersionQueryPending()) << "gpsd://";
        EXPECT_EQ(m_frame->GetSession().VersionQueriesSent(), 0);
        m_frame->ConnectDevice(false);
    }

    ASSERT_NE(OpenLogHeldAtStart(std::filesystem::path(ORVANE_CORPUS_DIR) / "haicom-305N.nmea"), nullptr);
    EXPECT_FALSE(m_frame->GetSession().IsVersionQueryPending()) << "a played log";
    EXPECT_EQ(m_frame->GetSession().VersionQueriesSent(), 0);
}

TEST_F(FrameTest, ASourceThatDoesNotAnswerLeavesTheWindowLiveAndDisconnectCancelsIt)
{
    Start();
    auto* view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
    ASSERT_NE(view, nullptr);
    loopback::SilentListener silent;
    ASSERT_NE(silent.Port(), 0);
    const std::wstring where = L"127.0.0.1:" + std::to_wstring(silent.Port());
    const std::wstring source = L"tcp://" + where;

    // A timer on the window's thread, and a click on Disconnect once it has ticked while the
    // open was under way: neither could happen while an open held the thread.
    int ticksWhileConnecting = 0;
    int clickAtTick = 5;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!m_frame->IsConnecting())
            return;
        if (++ticksWhileConnecting == clickAtTick)
            view->GetConnectButton().click();
    });
    ticker.start(10);
    const int connectionHints = m_app->m_seen.Count(HINT_CONNECTION_CHANGED);
    m_frame->SetPortName(source);
    view->GetConnectButton().click();
    EXPECT_TRUE(m_frame->IsConnecting());
    EXPECT_EQ(m_doc->m_bConnected, 1);
    EXPECT_FALSE(RestartItemsEnabled());
    ASSERT_FALSE(view->GetLogCtrl().GetLines().empty());
    EXPECT_EQ(view->GetLogCtrl().GetLines().back().text, L"Connecting to " + where + L"\u2026");
    EXPECT_EQ(m_app->m_seen.Count(HINT_SOURCE_CONNECTING), 1);
    // The fix box's well says it too, in place of "No data".
    const QRect fixWell = PanelRect(panel::kFixWell);
    const QImage connectingWell = view->grab(fixWell).toImage();

    ASSERT_TRUE(ProcessEventsUntil([&] { return !m_frame->IsConnecting(); }));
    EXPECT_NE(view->grab(fixWell).toImage(), connectingWell);
    EXPECT_EQ(ticksWhileConnecting, 5);
    EXPECT_EQ(m_doc->m_bConnected, 0);
    EXPECT_FALSE(m_frame->GetDevice().IsOpen());
    EXPECT_TRUE(m_app->m_messages.empty());
    EXPECT_EQ(m_app->m_seen.Count(HINT_CONNECTION_CHANGED), connectionHints + 2);
    // A cancelled open posts nothing that changes the state later.
    DeliverPostedEvents();
    EXPECT_EQ(m_doc->m_bConnected, 0);

    // Left alone, the open ends after its connect time with the same message as ever, the
    // timer ticking throughout.
    ticksWhileConnecting = 0;
    clickAtTick = 0;
    Connect(source);
    EXPECT_GT(ticksWhileConnecting, 0);
    EXPECT_EQ(m_doc->m_bConnected, 0);
    ASSERT_EQ(m_app->m_messages.size(), 1u);
    EXPECT_NE(m_app->m_messages[0].text.find(L"no answer from " + where), std::wstring::npos);
    EXPECT_EQ(m_app->m_seen.Count(HINT_CONNECTION_CHANGED), connectionHints + 4);

    // Closing the window while an open is under way ends it too.
    m_frame->SetPortName(source);
    m_frame->ConnectDevice(true);
    ASSERT_TRUE(m_frame->IsConnecting());
    CloseWindow();
    EXPECT_EQ(m_app->m_messages.size(), 1u);
}

// ---- Closing while recording --------------------------------------------------------------------

TEST_F(FrameTest, ClosingDuringAnNmeaRecordingLeavesACompleteLog)
{
    Start();
    TempFolder records;
    m_doc->m_strSaveFolder = records.Path().wstring();
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    const std::vector<std::string> lines = CaptureLines("gp-320fw-2019-04-07-coldboot.nmea");

    Connect(pty.SlaveWidePath());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    m_frame->FindCommand(ID_SAVE_NMEA)->trigger();
    m_doc->SetRecording(true);
    ASSERT_EQ(m_doc->m_bRecording, 1);
    Feed(pty, lines);

    // Still recording and connected when the window closes.
    CloseWindow();
    const std::vector<std::filesystem::path> files = records.Entries();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".txt");
    std::string expected;
    int kept = 0;
    for (const std::string& line : lines)
        if (IsChecksumValid(line))
        {
            expected += line;
            ++kept;
        }
    EXPECT_GT(kept, 50);
    EXPECT_EQ(ReadFile(files[0]), expected);
}

TEST_F(FrameTest, ClosingDuringAKmlRecordingLeavesACompleteDocument)
{
    Start();
    TempFolder records;
    m_doc->m_strSaveFolder = records.Path().wstring();
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    const std::vector<std::string> lines = CaptureLines("haicom-305N.nmea");

    Connect(pty.SlaveWidePath());
    m_frame->FindCommand(ID_SAVE_KML)->trigger();
    m_doc->SetRecording(true);
    ASSERT_EQ(m_doc->m_bRecording, 1);
    // Track points take the position of the previous batch: feed a few lines at a time so the
    // fixes reach the document however the lines are batched.
    for (std::size_t i = 0; i < lines.size(); i += 5)
        Feed(pty, std::vector<std::string>(lines.begin() + i, lines.begin() + std::min(lines.size(), i + 5)));
    CloseWindow();

    const std::vector<std::filesystem::path> files = records.Entries();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".kml");
    const std::string text = ReadFile(files[0]);
    const kmldom::ElementPtr root = kmldom::ParseKml(text);
    ASSERT_TRUE(root) << text;
    const kmldom::KmlPtr kml = kmldom::AsKml(root);
    ASSERT_TRUE(kml);
    const kmldom::DocumentPtr document = kmldom::AsDocument(kml->get_feature());
    ASSERT_TRUE(document);
    // The track went through the recorded fixes.
    EXPECT_NE(text.find("<name>test</name>"), std::string::npos);
    EXPECT_NE(text.find("153.05"), std::string::npos);
    EXPECT_NE(text.find("-27.21"), std::string::npos);
}

// ---- Playing a recorded log --------------------------------------------------------------------

TEST_F(FrameTest, ALogThatCannotBePlayedLeavesTheWindowAsItWasAndSaysWhy)
{
    Start();
    TempFolder logs;
    std::filesystem::create_directory(logs.Path() / "folder.nmea");
    std::ofstream(logs.Path() / "empty.nmea").close();
    std::ofstream(logs.Path() / "notes.txt") << "shopping list\r\n$GPGGA,120000,,,,,0,,,,,,,,*00\r\n";
    ASSERT_EQ(::mkfifo((logs.Path() / "pipe.nmea").c_str(), 0600), 0);
    {
        std::ofstream binary(logs.Path() / "image.nmea", std::ios::binary);
        for (unsigned i = 0; i < 100000; ++i)
            binary.put(static_cast<char>((i * 7919u + i / 13) & 0xffu));
    }
    std::ofstream(logs.Path() / "locked.nmea") << "$GPGGA,120000,,,,,0,,,,,,,,*66\r\n";
    std::filesystem::permissions(logs.Path() / "locked.nmea", std::filesystem::perms::none);
    // Root reads a file whatever its mode: that row then says nothing.
    const bool bLockedIsUnreadable = ::access((logs.Path() / "locked.nmea").c_str(), R_OK) != 0;
    const struct
    {
        std::filesystem::path path;
        const wchar_t* reason;
    } rows[] = {
        {logs.Path() / "missing.nmea", L"no such file"},
        {logs.Path() / "folder.nmea", L"not a file that can be played"},
        {"/dev/zero", L"not a file that can be played"},
        {logs.Path() / "pipe.nmea", L"not a file that can be played"},
        {logs.Path() / "locked.nmea", L"cannot be read"},
        {logs.Path() / "empty.nmea", L"empty"},
        {logs.Path() / "notes.txt", L"not an NMEA log"},
        {logs.Path() / "image.nmea", L"not an NMEA log"},
    };
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    // Once with nothing connected, once with a receiver that must stay connected.
    for (bool bReceiver : {false, true})
    {
        if (bReceiver)
            Connect(pty.SlaveWidePath());
        const int connected = m_doc->m_bConnected;
        const QString title = m_frame->windowTitle();
        for (const auto& row : rows)
        {
            SCOPED_TRACE(row.path.string());
            if (row.path.filename() == "locked.nmea" && !bLockedIsUnreadable)
                continue;
            m_app->m_messages.clear();
            m_app->m_seen.hints.clear();
            // What has no NMEA is known once it has been read through, on the worker.
            m_frame->OpenLog(row.path.wstring());
            ASSERT_TRUE(ProcessEventsUntil([&] { return !m_frame->IsOpeningLog(); }));
            ASSERT_EQ(m_app->m_messages.size(), 1u);
            EXPECT_NE(m_app->m_messages[0].text.find(row.path.wstring()), std::wstring::npos);
            EXPECT_NE(m_app->m_messages[0].text.find(row.reason), std::wstring::npos) << ToUtf8(m_app->m_messages[0].text);
            EXPECT_EQ(m_app->m_messages[0].icon, MbIcon::Error);
            EXPECT_TRUE(m_app->m_seen.hints.empty());
            EXPECT_EQ(m_doc->m_bConnected, connected);
            EXPECT_EQ(m_frame->GetDevice().IsOpen(), bReceiver);
            EXPECT_EQ(m_frame->GetDevice().AcceptsWrites(), bReceiver);
            EXPECT_EQ(m_frame->GetPlayer(), nullptr);
            EXPECT_EQ(m_frame->windowTitle(), title);
        }
    }
}

TEST_F(FrameTest, ABigLogIsIndexedWhileTheWindowGoesOnAndCloseLogCallsItOff)
{
    Start();
    TempFolder logs;
    const std::filesystem::path log = logs.Path() / "big.nmea";
    {
        // 200 MB of 1 Hz epochs, the day over and over.
        std::ofstream out(log, std::ios::binary);
        std::string epoch;
        for (std::size_t written = 0, second = 0; written < (200u << 20); ++second)
        {
            char time[8];
            std::snprintf(time, sizeof time, "%02zu%02zu%02zu", second / 3600 % 24, second / 60 % 60, second % 60);
            epoch = WithChecksum(std::string("$GPGGA,") + time + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
                    WithChecksum("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
            out << epoch;
            written += epoch.size();
        }
    }

    // Close Log while it is being indexed: nothing opens, nothing is said.
    const QString title = m_frame->windowTitle();
    ASSERT_TRUE(m_frame->OpenLog(log.wstring()));
    EXPECT_TRUE(m_frame->IsOpeningLog());
    m_frame->CloseLog();
    EXPECT_FALSE(m_frame->IsOpeningLog());
    EXPECT_EQ(m_frame->GetPlayer(), nullptr);
    EXPECT_EQ(m_frame->windowTitle(), title);
    EXPECT_TRUE(m_app->m_messages.empty());

    // A timer on the window's thread goes on ticking while the log is indexed.
    int ticks = 0;
    bool bProgressShown = false;
    double longestStallMs = 0;
    auto last = std::chrono::steady_clock::now();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout,
                     [&]
                     {
                         const auto now = std::chrono::steady_clock::now();
                         longestStallMs = std::max(longestStallMs, std::chrono::duration<double, std::milli>(now - last).count());
                         last = now;
                         ++ticks;
                         bProgressShown = bProgressShown || m_frame->windowTitle().startsWith(QStringLiteral("Opening big.nmea"));
                     });
    const long hwmBefore = VmHwmKb();
    ticker.start(10);
    last = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_frame->OpenLog(log.wstring()));
    // However slow the machine, the indexing ends; the wait is only against a hang.
    ASSERT_TRUE(ProcessEventsUntil([&] { return !m_frame->IsOpeningLog(); }, std::chrono::seconds(900)));
    ticker.stop();
    EXPECT_GE(ticks, 3);
    std::printf("200 MB log indexed: %d ticks of a 10 ms timer, longest stall %.1f ms, progress %s, VmHWM %ld -> %ld kB\n",
                ticks, longestStallMs, bProgressShown ? "shown" : "not seen", hwmBefore, VmHwmKb());
    const std::shared_ptr<LogPlayer> player = m_frame->GetPlayer();
    ASSERT_NE(player, nullptr);
    EXPECT_TRUE(m_app->m_messages.empty());
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("big.nmea - Orvane"));
    EXPECT_EQ(player->Size(), std::filesystem::file_size(log));

    // It plays from a seek to the middle.
    const std::uint64_t validBefore = m_frame->GetDevice().ValidLineCount();
    const std::size_t middle = player->Seek(0.5);
    EXPECT_NEAR(static_cast<double>(middle) / static_cast<double>(player->Size()), 0.5, 0.001);
    ASSERT_TRUE(ProcessEventsUntil([&] { return m_frame->GetDevice().ValidLineCount() > validBefore; }));
    m_frame->CloseLog();
}

// The track part of a KML or GPX document: what differs between two recordings of the same
// fixes is around it.
std::string TrackOf(const std::string& document)
{
    for (const auto& [open, close] : {std::pair{"<coordinates>", "</coordinates>"}, std::pair{"<trkseg>", "</trkseg>"}})
    {
        const std::size_t from = document.find(open);
        const std::size_t to = document.rfind(close);
        if (from != std::string::npos && to != std::string::npos)
            return document.substr(from, to - from);
    }
    return {};
}

// The track orvane-nmea writes from the log.
std::string TrackByOrvaneNmea(RecordKind kind, const std::filesystem::path& log, const std::filesystem::path& out)
{
    std::unique_ptr<Recorder> recorder = MakeRecorder(kind);
    EXPECT_TRUE(recorder->Start(out.wstring(), false, GpsData{}));
    EpochSplitter splitter([](const GpsData&) {},
                           [&](std::string_view line, FrameKind, const GpsData& after, EpochMarks marks) {
                               recorder->Add(line, after, marks);
                           });
    for (const std::string& line : DataLines(ReadFile(log)))
        splitter.Feed(line);
    splitter.Finish();
    EXPECT_TRUE(recorder->Finish());
    return TrackOf(ReadFile(out));
}

namespace
{
// A second of fixes from `talker`, at hh:mm:ss, at the latitude and longitude given in NMEA form.
std::vector<std::string> TalkerEpoch(const char* talker, const char* hhmmss, const char* lat, const char* lon)
{
    const std::string t = std::string(hhmmss) + ".000";
    const std::string bodies[] = {
        std::string(talker) + "GGA," + t + "," + lat + "," + lon + ",1,09,0.9,120.0,M,40.0,M,,",
        std::string(talker) + "RMC," + t + ",A," + lat + "," + lon + ",0.0,0.0,091226,,,A",
        std::string(talker) + "GSA,A,3,04,05,09,12,16,20,,,,,,,1.8,0.9,1.5",
    };
    std::vector<std::string> lines;
    for (const std::string& body : bodies)
        lines.push_back(WithChecksum("$" + body));
    return lines;
}
} // namespace

// A multi-constellation receiver late in the UTC day, then a GPS-only log from earlier in the
// day: nothing the first left behind (its position, its mode, its talker's standing) stands in
// for the second's, in the record, the map, the accuracy ring or a KML track.
TEST_F(FrameTest, TwoSourcesInARowEachShowOnlyTheirOwnFixes)
{
    Start();
    TempFolder records;
    m_doc->m_strSaveFolder = records.Path().wstring();
    auto* view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
    ASSERT_NE(view, nullptr);

    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsValid());
    Connect(pty.SlaveWidePath());
    for (const char* time : {"223700", "223701", "223702"})
        Feed(pty, TalkerEpoch("GN", time, "3351.000,S", "15112.000,E"));
    DeliverPostedEvents();
    ASSERT_NEAR(m_doc->m_gps.latitude, -33.85, 0.01);
    ASSERT_FALSE(view->GetMapView()->GetTrack().empty());
    m_frame->ConnectDevice(false);

    const std::filesystem::path log = records.Path() / "gps-only.nmea";
    {
        std::ofstream out(log, std::ios::binary);
        for (int second = 0; second < 6; ++second)
        {
            char time[16];
            std::snprintf(time, sizeof time, "1533%02d", second);
            for (const std::string& line : TalkerEpoch("GP", time, "4807.000,N", "01131.000,E"))
                out << line;
        }
    }
    ASSERT_NE(OpenLogHeldAtStart(log), nullptr);
    ASSERT_NO_FATAL_FAILURE(RecordWhileTheLogPlaysToItsEnd(*view, ID_SAVE_KML, L"gps-only.nmea"));

    EXPECT_NEAR(m_doc->m_gps.latitude, 48.1167, 0.001);
    EXPECT_EQ(m_doc->m_gps.hour, 15);
    for (const MapPoint& point : view->GetMapView()->GetTrack())
        EXPECT_NEAR(point.latitude, 48.1167, 0.001);
    EXPECT_FALSE(view->GetMapView()->GetTrack().empty());
    const std::vector<GeoPoint> fixes = m_doc->m_history.FixPositions();
    EXPECT_FALSE(fixes.empty());
    for (const GeoPoint& fix : fixes)
        EXPECT_NEAR(fix.latitude, 48.1167, 0.001);

    std::vector<std::filesystem::path> kml;
    for (const std::filesystem::path& file : records.Entries())
        if (file.extension() == ".kml")
            kml.push_back(file);
    ASSERT_EQ(kml.size(), 1u);
    const std::string text = ReadFile(kml[0]);
    EXPECT_NE(text.find("11.516666"), std::string::npos) << text;
    EXPECT_EQ(text.find("151.2"), std::string::npos) << text;
    EXPECT_EQ(text.find("-33.85"), std::string::npos) << text;
}

class FramePlaysLog : public FrameTest, public ::testing::WithParamInterface<std::pair<unsigned, RecordKind>>
{
};

TEST_P(FramePlaysLog, IntoTheViewsAndARecordingConvertsIt)
{
    Start();
    TempFolder records;
    m_doc->m_strSaveFolder = records.Path().wstring();
    const std::filesystem::path log = std::filesystem::path(ORVANE_CORPUS_DIR) / "haicom-305N.nmea";
    auto* view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
    ASSERT_NE(view, nullptr);

    // Held at the start while the recording is set up.
    const std::shared_ptr<LogPlayer> player = OpenLogHeldAtStart(log);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(m_doc->m_bConnected, 1);
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("haicom-305N.nmea - Orvane"));
    EXPECT_EQ(view->GetConnectButton().accessibleName(), QStringLiteral("Close Log"));
    EXPECT_FALSE(RestartItemsEnabled());
    CPlayerBar* bar = view->GetPlayerBar();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->geometry().bottom(), view->GetMapView()->geometry().bottom() + CPlayerBar::kHeight);

    // The terminal says the log ended after its last line.
    ASSERT_NO_FATAL_FAILURE(RecordWhileTheLogPlaysToItsEnd(*view, GetParam().first, L"haicom-305N.nmea", [&] {
        EXPECT_TRUE(player->IsAtEnd());
        EXPECT_EQ(view->GetLogCtrl().GetLines()[view->GetLogCtrl().GetLines().size() - 2].text,
                  FromUtf8(DataLines(ReadFile(log)).back()));
    }));

    // Paused at 100 %, still showing the last state, and the terminal says the log ended.
    EXPECT_EQ(bar->Slider()->value(), CPlayerBar::kSliderSteps);
    EXPECT_EQ(bar->PlayButton()->accessibleName(), QStringLiteral("Play"));
    EXPECT_EQ(m_doc->m_bConnected, 1);
    EXPECT_NEAR(m_doc->m_gps.latitude, -27.2107, 0.001);

    const std::vector<std::filesystem::path> files = records.Entries();
    ASSERT_EQ(files.size(), 1u);
    TempFolder oracle;
    const std::string expected = TrackByOrvaneNmea(GetParam().second, log, oracle.Path() / "track");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(TrackOf(ReadFile(files[0])), expected);

    // A click on the slider's groove moves back a page, to a line's start.
    bar->Slider()->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_FALSE(player->IsAtEnd());
    EXPECT_NEAR(player->Fraction(), 0.95, 0.01);
    EXPECT_EQ(ReadFile(log)[player->Position() - 1], '\n');

    // Close Log: disconnected, the bar gone, the title plain.
    view->GetConnectButton().click();
    EXPECT_EQ(m_doc->m_bConnected, 0);
    EXPECT_EQ(m_frame->GetPlayer(), nullptr);
    EXPECT_FALSE(m_frame->GetDevice().IsOpen());
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(view->GetConnectButton().accessibleName(), QStringLiteral("Connect"));
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Orvane"));
    EXPECT_EQ(view->GetMapView()->geometry().bottom(), bar->geometry().bottom());
}

INSTANTIATE_TEST_SUITE_P(Frame, FramePlaysLog,
                         ::testing::Values(std::pair{ID_SAVE_KML, RecordKml}, std::pair{ID_SAVE_GPX, RecordGpx}),
                         [](const auto& info) { return info.param.second == RecordKml ? "Kml" : "Gpx"; });

// A UBX-only capture: the terminal names each binary frame, the record carries the receiver's
// RTK solution and accuracy, and a track is made from UBX fixes as from NMEA ones.
TEST_F(FrameTest, UbxLogShowsItsFramesAndMakesATrack)
{
    Start();
    TempFolder records;
    m_doc->m_strSaveFolder = records.Path().wstring();
    const std::filesystem::path log = std::filesystem::path(ORVANE_CORPUS_DIR) / "ublox-zed-f9p-rtk.ubx";
    auto* view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
    ASSERT_NE(view, nullptr);
    ASSERT_NE(OpenLogHeldAtStart(log), nullptr);
    ASSERT_NO_FATAL_FAILURE(RecordWhileTheLogPlaysToItsEnd(*view, ID_SAVE_GPX, L"ublox-zed-f9p-rtk.ubx"));

    int pvt = 0;
    int eoe = 0;
    for (const LogLine& line : view->GetLogCtrl().GetLines())
    {
        pvt += line.text.starts_with(L"UBX NAV-PVT 92 B  ") ? 1 : 0;
        eoe += line.text == L"UBX NAV-EOE 4 B  end of epoch\r\n" ? 1 : 0;
        EXPECT_EQ(line.text.find(L'\xB5'), std::wstring::npos) << "no raw binary in the terminal";
    }
    EXPECT_GT(pvt, 3);
    EXPECT_EQ(eoe, pvt) << "one NAV-EOE ends each NAV-PVT's epoch";
    EXPECT_NE(m_doc->m_gps.rtk, RtkState::None);
    EXPECT_TRUE(m_doc->m_gps.horizontalAccuracyKnown);

    const std::vector<std::filesystem::path> files = records.Entries();
    ASSERT_EQ(files.size(), 1u);
    const std::string gpx = ReadFile(files[0]);
    // The capture holds ten one-second epochs: a point for each but the first, whose start the
    // recording did not see, each a second after the one before.
    std::vector<std::string> times;
    for (std::size_t at = gpx.find("<time>"); at != std::string::npos; at = gpx.find("<time>", at + 1))
        times.push_back(gpx.substr(at + 6, 20));
    EXPECT_EQ(times.size(), 9u) << gpx;
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_LT(times[i - 1], times[i]) << gpx;
    EXPECT_NE(gpx.find("lat=\"47.1"), std::string::npos) << gpx;
}

TEST(CommandLine, TheLogToPlayIsTheFirstArgumentThatIsNoOption)
{
    const struct
    {
        std::vector<std::string> args;
        std::optional<std::string> log;
    } rows[] = {
        {{"orvane"}, std::nullopt},
        {{"orvane", "track.nmea"}, "track.nmea"},
        {{"orvane", "--verbose", "a.nmea", "b.nmea"}, "a.nmea"},
        {{"orvane", "--", "-odd-name.nmea"}, "-odd-name.nmea"},
        {{"orvane", "-x"}, std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LogToPlay(row.args), row.log) << row.args.size();
}

} // namespace

namespace
{
// Counts the syncs of its recordings' files.
class SyncCountingDoc : public COrvaneDoc
{
public:
    explicit SyncCountingDoc(std::atomic<int>& syncs) : m_syncs(syncs) {}

protected:
    FileCalls Calls() const override
    {
        FileCalls calls;
        calls.sync = [this](int fd) {
            ++m_syncs;
            return ::fdatasync(fd);
        };
        return calls;
    }

private:
    std::atomic<int>& m_syncs;
};
} // namespace

TEST_F(FrameTest, AQuietRecordingIsSyncedWithoutWaitingForMoreLines)
{
    std::atomic<int> syncs{0};
    m_app->m_makeDocument = [&syncs] { return std::make_unique<SyncCountingDoc>(syncs); };
    Start();
    TempFolder records;
    m_doc->m_strSaveFolder = records.Path().wstring();
    m_doc->SetRecording(true);
    ASSERT_EQ(m_doc->m_bRecording, 1);
    // The last line before the receiver fell silent: written at once, synced by the timer.
    const ReceivedLine last{"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n", {}};
    m_doc->OnReceived({&last, 1});
    const int before = syncs;
    EXPECT_TRUE(ProcessEventsUntil([&] { return syncs > before; }));
    EXPECT_EQ(m_doc->m_bRecording, 1);
}

TEST(RenderBackend, SoftwareOpenGlRenderersAreToldFromHardwareOnes)
{
    const struct
    {
        const char* renderer;
        bool software;
    } rows[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", true},
        {"softpipe", true},
        {"Software Rasterizer", true},
        {"Mesa DRI swrast", true},
        {"LLVMPIPE (LLVM 11.0.1, 128 bits)", true},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", false},
        {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)", false},
        {"NVIDIA GeForce GTX 1060 6GB/PCIe/SSE2", false},
        {"virgl (Intel(R) Iris(R) Xe Graphics)", false},
        {"", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IsSoftwareGlRenderer(row.renderer), row.software) << row.renderer;
}

// Before the application exists: no GPU keeps the GL driver out, unless the user chose.
TEST(RenderBackend, NoRenderNodeNoGlDriverUnlessTheUserChose)
{
    using Env = std::vector<std::pair<std::string, std::string>>;
    const Env noGl{{"QT_XCB_GL_INTEGRATION", "none"}, {"QT_QUICK_BACKEND", "software"}};
    const struct
    {
        bool renderNode, userIntegration, userQuick;
        Env expected;
    } rows[] = {
        {false, false, false, noGl},
        {false, true, false, {}},
        {false, false, true, {}},
        {true, false, false, {}},
        {true, true, true, {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(GlEnvironmentFor(row.renderNode, row.userIntegration, row.userQuick), row.expected)
            << row.renderNode << row.userIntegration << row.userQuick;

    TempFolder dri;
    EXPECT_FALSE(HasGpuRenderNode((dri.Path() / "missing").string()));
    std::ofstream(dri.Path() / "card0").put('\n');
    EXPECT_FALSE(HasGpuRenderNode(dri.Path().string())) << "a display card alone renders nothing";
    std::ofstream(dri.Path() / "renderD128").put('\n');
    EXPECT_TRUE(HasGpuRenderNode(dri.Path().string()));
}
