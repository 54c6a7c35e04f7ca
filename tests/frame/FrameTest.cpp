#include "frame/FrameTestSupport.h"

#include "app/AboutDlg.h"
#include "framework/core/CommandIds.h"
#include "gps/NmeaFraming.h"
#include "support/PseudoTerminal.h"
#include "serial/SerialPort.h"
#include "support/Counter.h"
#include "support/Files.h"
#include "support/LoopbackPeers.h"
#include "ui/ErrorMessages.h"
#include "ui/LogCtrl.h"
#include "ui/MapView.h"
#include "ui/OrvaneView.h"
#include "ui/RenderBackend.h"

#include <gtest/gtest.h>
#include <kml/dom.h>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
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

using namespace frametest;

namespace
{
const char* const kOrganisation = "Local AppWizard-Generated Applications";

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
    const AppSettings stored{L"ttyUSB3", L"38400", (m_folder.Path() / "tracks").wstring()};
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
    m_app->m_settings = AppSettings{L"ttyACM1", L"115200", L"/srv/tracks"};
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
        unsigned id; // 0: a separator
    };
    struct Menu
    {
        const char* title;
        std::vector<Item> items;
    };
    const std::vector<Menu> expected = {
        {"&File", {{"E&xit", ID_APP_EXIT}}},
        {"Tools",
         {{"Hot Start GPS", ID_HOT_START},
          {"Warm Start GPS", ID_WARM_START},
          {"Cold Start GPS", ID_COLD_START},
          {"", 0},
          {"Save NMEA File", ID_SAVE_NMEA},
          {"Save KML File", ID_SAVE_KML},
          {"Save GPX File", ID_SAVE_GPX}}},
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

    EXPECT_EQ(m_frame->GetDevice().NotificationSlotCount(), 0u);

    // A second connect replaces the connection rather than adding one.
    Connect(pty.SlaveWidePath());
    Connect(pty.SlaveWidePath());
    ASSERT_EQ(m_doc->m_bConnected, 1);
    EXPECT_EQ(m_frame->GetDevice().NotificationSlotCount(), 1u);
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

TEST_F(FrameTest, NoDataUpdateAfterDisconnectButThoseAlreadyPosted)
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
    // without letting the user-interface thread handle their messages.
    Counter read;
    boost::signals2::scoped_connection watch = m_frame->GetDevice().ConnectNotification([&](int) { read.Raise(); });

    // Read and posted, but not handled, when the user disconnects.
    std::string bytes;
    for (const std::string& line : valid)
        bytes += line;
    ASSERT_TRUE(pty.Write(bytes));
    ASSERT_TRUE(read.WaitFor(static_cast<int>(valid.size())));
    m_frame->ConnectDevice(false);
    watch.disconnect();
    const int hintsAtDisconnect = m_app->m_seen.Count(HINT_GPS_DATA);
    EXPECT_EQ(hintsAtDisconnect, 0);

    DeliverPostedEvents();
    // All of them were read before any was handled: one update waited for them all.
    EXPECT_EQ(m_frame->m_nGpsUpdates, 1);
    EXPECT_EQ(m_app->m_seen.Count(HINT_GPS_DATA), 1);
    // A disconnected main view leaves the lines where they are.
    std::string line;
    int queued = 0;
    while (m_frame->GetDevice().PopLine(line))
        ++queued;
    EXPECT_EQ(queued, static_cast<int>(valid.size()));
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
    } rows[] = {
        {ID_HOT_START, "$PSRF101,0,0,0,96000,497260,921,12,1*2E\r\n"},
        {ID_WARM_START, "$PSRF101,0,0,0,96000,497260,921,12,2*2D\r\n"},
        {ID_COLD_START, "$PSRF101,0,0,0,96000,497260,921,12,4*2B\r\n"},
    };
    for (const auto& row : rows)
    {
        m_frame->FindCommand(row.id)->trigger();
        const std::string sent = pty.Read(41);
        EXPECT_EQ(sent, row.bytes);
        EXPECT_EQ(sent.size(), 41u);
    }

    m_frame->ConnectDevice(false);
    EXPECT_FALSE(RestartItemsEnabled());
    m_frame->FindCommand(ID_HOT_START)->trigger();
    EXPECT_EQ(pty.ReadAvailable(), "");
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
    EXPECT_EQ(server.Receive(41), CGPSDevice::kWarmStartCommand);

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
