#include "framework/FrameWnd.h"
#include "framework/WinApp.h"
#include "framework/core/CommandIds.h"
#include "framework/core/MessageBox.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
// A private message, as a reader thread would post one.
constexpr unsigned kTestMessage = WM_USER + 0x20;
// Processes events until the condition holds; the deadline only keeps a broken build from
// hanging the suite.
template <class Condition>
bool ProcessEventsUntil(Condition done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

using Log = std::vector<std::string>;

class TestView : public QWidget, public CView
{
public:
    TestView(const std::string& name, Log& log, QWidget* parent) : QWidget(parent), m_name(name), m_log(log)
    {
        const bool mainWindowKnown = AfxGetApp() && AfxGetApp()->m_pMainWnd;
        m_log.push_back("create " + m_name + (mainWindowKnown ? " (main window set)" : ""));
    }
    ~TestView() override { m_log.push_back("destroy " + m_name); }

    void OnInitialUpdate() override
    {
        const bool attached = GetDocument() != nullptr;
        m_log.push_back("initial " + m_name + (attached ? "" : " (no document)"));
    }
    void OnUpdate(CView*, long lHint, const ViewHint&) override { m_log.push_back(m_name + " " + std::to_string(lHint)); }

    std::string m_name;
    Log& m_log;
};

class TestDoc : public CDocument
{
public:
    explicit TestDoc(Log& log) : m_log(log) { m_log.push_back("create document"); }
    ~TestDoc() override { m_log.push_back("destroy document"); }

    bool OnCommand(unsigned id) override
    {
        if (id == ID_SAVE_NMEA || id == ID_SAVE_KML)
        {
            m_nKind = id == ID_SAVE_NMEA ? 0 : 1;
            return true;
        }
        return false;
    }
    bool OnUpdateCommand(CCmdUI& ui) override
    {
        switch (ui.m_nID)
        {
        case ID_SAVE_NMEA:
        case ID_SAVE_KML:
            ui.Enable(!m_bRecording);
            ui.SetCheck((ui.m_nID == ID_SAVE_NMEA) == (m_nKind == 0));
            return true;
        case ID_HOT_START:
        case ID_COLD_START:
            ui.Enable(m_bConnected);
            return true;
        default:
            return false;
        }
    }

    Log& m_log;
    int m_nKind = 0;
    bool m_bRecording = false;
    bool m_bConnected = false;
};

struct Posted
{
    unsigned msg;
    std::uintptr_t wParam;
    bool onUiThread;
};

class TestFrame : public CFrameWnd
{
public:
    explicit TestFrame(Log& log) : m_log(log) { m_log.push_back("create frame"); }
    ~TestFrame() override { m_log.push_back("destroy frame"); }

    bool OnCreate() override
    {
        const bool mainWindowKnown = AfxGetApp() && AfxGetApp()->m_pMainWnd;
        m_log.push_back(std::string("frame OnCreate") + (mainWindowKnown ? " (main window set)" : ""));
        m_pTools = menuBar()->addMenu("Tools");
        AddCommand(m_pTools, ID_HOT_START, "Hot Start GPS");
        AddCommand(m_pTools, ID_WARM_START, "Warm Start GPS");
        AddCommand(m_pTools, ID_COLD_START, "Cold Start GPS");
        m_pTools->addSeparator();
        AddCommand(m_pTools, ID_SAVE_NMEA, "Save NMEA File");
        AddCommand(m_pTools, ID_SAVE_KML, "Save KML File");
        // A menu the frame does not parent is still covered.
        m_pHelp = std::make_unique<QMenu>("&Help");
        menuBar()->addMenu(m_pHelp.get());
        AddCommand(m_pHelp.get(), ID_APP_ABOUT, "&About Orvane...");
        return !m_bFailCreate;
    }

    // The first view creates the others, as the status view does.
    bool OnCreateClient(CDocument* pDoc) override
    {
        auto* status = new TestView("status", m_log, this);
        setCentralWidget(status);
        pDoc->AddView(status);
        auto* layout = new QVBoxLayout(status);
        for (const char* name : {"setup", "map"})
        {
            auto* view = new TestView(name, m_log, status);
            layout->addWidget(view);
            pDoc->AddView(view);
        }
        return true;
    }

    bool OnCommand(unsigned id) override
    {
        if (id >= ID_HOT_START && id <= ID_COLD_START)
        {
            m_commands.push_back(id);
            return true;
        }
        return false;
    }

    // The frame decides the warm start itself, before the document is asked.
    bool OnUpdateCommand(CCmdUI& ui) override
    {
        if (ui.m_nID != ID_WARM_START)
            return false;
        ui.Enable(m_bWarmAllowed);
        return true;
    }

    void OnMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t) override
    {
        m_log.push_back("message");
        m_posted.push_back({msg, wParam, QThread::currentThread() == QCoreApplication::instance()->thread()});
    }

    Log& m_log;
    QMenu* m_pTools = nullptr;
    std::unique_ptr<QMenu> m_pHelp;
    bool m_bFailCreate = false;
    bool m_bWarmAllowed = false;
    std::vector<unsigned> m_commands;
    std::vector<Posted> m_posted;
};

class TestApp : public CWinApp
{
public:
    // Message boxes are only logged unless the application's own are wanted.
    explicit TestApp(bool bRealMessageBoxes = false)
    {
        if (!bRealMessageBoxes)
            SetMessageBoxHandler([this](const std::wstring&, const std::wstring&, MbIcon) { m_log.push_back("box"); });
    }
    // The views log into m_log, so they must go before it.
    ~TestApp() override { DestroyMainWindow(); }

    bool OpenTestDocument()
    {
        return OpenNewDocument([this] { return std::make_unique<TestDoc>(m_log); },
                               [this] {
                                   auto frame = std::make_unique<TestFrame>(m_log);
                                   frame->m_bFailCreate = m_bFailFrame;
                                   return frame;
                               });
    }

    TestFrame* Frame() const { return static_cast<TestFrame*>(m_pMainWnd); }
    TestDoc* Doc() const { return static_cast<TestDoc*>(GetDocument()); }

    bool InitInstance() override
    {
        if (!m_bStartWindow || !OpenTestDocument())
            return false;
        m_pMainWnd->show();
        QTimer::singleShot(0, m_pMainWnd, [this] { m_pMainWnd->close(); });
        return true;
    }

    bool OnCommand(unsigned id) override
    {
        if (id == ID_APP_ABOUT)
        {
            m_log.push_back("about");
            return true;
        }
        return CWinApp::OnCommand(id);
    }

    void PreLoadState() override { m_log.push_back("pre-load-state"); }
    bool LoadCustomState() override
    {
        m_log.push_back(std::string("load-state") + (m_pMainWnd ? " (main window set)" : ""));
        return true;
    }
    bool SaveCustomState() override
    {
        // Everything must still exist while the settings are saved.
        const bool allAlive = m_pMainWnd && GetDocument() && GetDocument()->GetViews().size() == 3;
        m_log.push_back(std::string("save-state") + (allAlive ? "" : " (something destroyed)"));
        return true;
    }

    Log m_log;
    bool m_bFailFrame = false;
    bool m_bStartWindow = false;
};

const Log kStartUp = {
    "create document",
    "create frame",
    "frame OnCreate",
    "create status",
    "create setup",
    "create map",
    "pre-load-state",
    "load-state (main window set)",
    "initial status",
    "initial setup",
    "initial map",
};

Log Concat(Log a, const Log& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The frame's own destructor body runs first, its child views go with its widget base (in any
// order among themselves), the document after all of them.
void ExpectShutdownTail(const Log& log, size_t from)
{
    ASSERT_EQ(log.size(), from + 5);
    EXPECT_EQ(log[from], "destroy frame");
    Log views(log.begin() + static_cast<long>(from) + 1, log.begin() + static_cast<long>(from) + 4);
    std::sort(views.begin(), views.end());
    EXPECT_EQ(views, (Log{"destroy map", "destroy setup", "destroy status"}));
    EXPECT_EQ(log[from + 4], "destroy document");
}
} // namespace

TEST(Framework, StartUpLoadsStateAfterViewsExistAndBeforeTheirInitialUpdate)
{
    TestApp app;
    ASSERT_EQ(AfxGetApp(), &app);
    ASSERT_TRUE(app.OpenTestDocument());
    EXPECT_EQ(app.m_log, kStartUp);
    EXPECT_EQ(app.Frame()->GetActiveDocument(), app.GetDocument());

    // Updates travel in join order, the status view first although it made the others.
    app.m_log.clear();
    app.GetDocument()->UpdateAllViews(nullptr, 4097);
    EXPECT_EQ(app.m_log, (Log{"status 4097", "setup 4097", "map 4097"}));
}

TEST(Framework, ClosingTheMainWindowSavesStateOnceBeforeAnythingIsDestroyed)
{
    TestApp app;
    ASSERT_TRUE(app.OpenTestDocument());
    app.m_log.clear();

    app.m_pMainWnd->close();
    EXPECT_EQ(app.m_log, (Log{"save-state"}));

    app.DestroyMainWindow();
    EXPECT_EQ(app.m_log[0], "save-state");
    ExpectShutdownTail(app.m_log, 1);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    EXPECT_EQ(app.GetDocument(), nullptr);
}

TEST(Framework, DestroyingWithoutACloseStillSavesStateFirst)
{
    TestApp app;
    ASSERT_TRUE(app.OpenTestDocument());
    app.m_log.clear();
    app.DestroyMainWindow();
    ASSERT_FALSE(app.m_log.empty());
    EXPECT_EQ(app.m_log[0], "save-state");
    ExpectShutdownTail(app.m_log, 1);
}

TEST(Framework, FailedFrameCreationDestroysFrameThenDocumentAndLoadsNothing)
{
    TestApp app;
    app.m_bFailFrame = true;
    EXPECT_FALSE(app.OpenTestDocument());
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    EXPECT_EQ(app.GetDocument(), nullptr);
    EXPECT_EQ(app.m_log, (Log{"create document", "create frame", "frame OnCreate", "destroy frame", "destroy document"}));
}

TEST(Framework, RunShowsTheWindowAndTearsDownInOrderWhenItCloses)
{
    TestApp app;
    app.m_bStartWindow = true;
    int argc = 1;
    char name[] = "test_framework";
    char* argv[] = {name, nullptr};
    EXPECT_EQ(app.Run(argc, argv), 0);
    const Log expectedHead = Concat(kStartUp, {"save-state"});
    ASSERT_GE(app.m_log.size(), expectedHead.size());
    EXPECT_EQ(Log(app.m_log.begin(), app.m_log.begin() + static_cast<long>(expectedHead.size())), expectedHead);
    ExpectShutdownTail(app.m_log, expectedHead.size());
}

TEST(Framework, RunEndsAtOnceWhenStartUpFails)
{
    TestApp app;
    int argc = 1;
    char name[] = "test_framework";
    char* argv[] = {name, nullptr};
    EXPECT_NE(app.Run(argc, argv), 0);
    EXPECT_TRUE(app.m_log.empty());
}

TEST(Framework, UpdateHandlersDecideEnabledAndCheckedBeforeTheMenuShows)
{
    TestApp app;
    ASSERT_TRUE(app.OpenTestDocument());
    TestFrame* frame = app.Frame();
    TestDoc* doc = app.Doc();
    QMenu* tools = frame->m_pTools;
    QAction* hot = frame->FindCommand(ID_HOT_START);
    QAction* warm = frame->FindCommand(ID_WARM_START);
    QAction* nmea = frame->FindCommand(ID_SAVE_NMEA);
    QAction* kml = frame->FindCommand(ID_SAVE_KML);
    QAction* about = frame->FindCommand(ID_APP_ABOUT);
    ASSERT_TRUE(hot && warm && nmea && kml && about);

    struct Row
    {
        const char* what;
        bool connected, recording, warmAllowed;
        int kind;
        bool hotEnabled, warmEnabled, nmeaEnabled, nmeaChecked, kmlEnabled, kmlChecked;
    };
    const Row rows[] = {
        {"idle, disconnected, NMEA kind", false, false, false, 0, false, false, true, true, true, false},
        {"connected, KML kind", true, false, false, 1, true, false, true, false, true, true},
        {"recording NMEA: both Save entries off", true, true, true, 0, true, true, false, true, false, false},
        {"recording KML: the check stays on KML", true, true, false, 1, true, false, false, false, false, true},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        doc->m_bConnected = row.connected;
        doc->m_bRecording = row.recording;
        doc->m_nKind = row.kind;
        frame->m_bWarmAllowed = row.warmAllowed;

        tools->popup(QPoint(0, 0));
        ASSERT_TRUE(ProcessEventsUntil([&] { return tools->isVisible(); }));
        EXPECT_EQ(hot->isEnabled(), row.hotEnabled);
        EXPECT_EQ(warm->isEnabled(), row.warmEnabled);
        EXPECT_EQ(nmea->isEnabled(), row.nmeaEnabled);
        EXPECT_EQ(nmea->isChecked(), row.nmeaChecked);
        EXPECT_EQ(kml->isEnabled(), row.kmlEnabled);
        EXPECT_EQ(kml->isChecked(), row.kmlChecked);
        EXPECT_FALSE(hot->isChecked());
        tools->hide();
    }
    // Nobody decides About: it stays enabled, also after being disabled by hand.
    about->setEnabled(false);
    frame->UpdateCommandUI();
    EXPECT_TRUE(about->isEnabled());
}

TEST(Framework, CommandsReachTheFirstTargetThatHandlesThem)
{
    TestApp app;
    ASSERT_TRUE(app.OpenTestDocument());
    TestFrame* frame = app.Frame();
    TestDoc* doc = app.Doc();
    doc->m_bConnected = true;
    frame->UpdateCommandUI();
    app.m_log.clear();

    frame->FindCommand(ID_SAVE_KML)->trigger();
    EXPECT_EQ(doc->m_nKind, 1);
    // The item shows the new choice at once.
    EXPECT_TRUE(frame->FindCommand(ID_SAVE_KML)->isChecked());
    EXPECT_FALSE(frame->FindCommand(ID_SAVE_NMEA)->isChecked());

    frame->FindCommand(ID_COLD_START)->trigger();
    frame->FindCommand(ID_HOT_START)->trigger();
    EXPECT_EQ(frame->m_commands, (std::vector<unsigned>{ID_COLD_START, ID_HOT_START}));

    frame->FindCommand(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(app.m_log, (Log{"about"}));
    EXPECT_FALSE(frame->RouteCommand(12345));
}

TEST(Framework, DisabledCommandIsNotRouted)
{
    TestApp app;
    ASSERT_TRUE(app.OpenTestDocument());
    TestFrame* frame = app.Frame();
    TestDoc* doc = app.Doc();

    doc->m_bRecording = true;
    EXPECT_FALSE(frame->RouteCommand(ID_SAVE_KML));
    EXPECT_EQ(doc->m_nKind, 0);
    doc->m_bConnected = false;
    EXPECT_FALSE(frame->RouteCommand(ID_HOT_START));
    EXPECT_TRUE(frame->m_commands.empty());
}

TEST(Framework, ExitClosesTheMainWindowThroughTheApplication)
{
    TestApp app;
    ASSERT_TRUE(app.OpenTestDocument());
    app.m_pMainWnd->show();
    app.m_log.clear();
    EXPECT_TRUE(app.Frame()->RouteCommand(ID_APP_EXIT));
    EXPECT_FALSE(app.m_pMainWnd->isVisible());
    EXPECT_EQ(app.m_log, (Log{"save-state"}));
}

TEST(Framework, MessagesPostedFromAnotherThreadArriveOneEachInOrder)
{
    TestApp app;
    ASSERT_TRUE(app.OpenTestDocument());
    TestFrame* frame = app.Frame();

    constexpr std::uintptr_t kCount = 2000;
    std::thread reader([frame] {
        for (std::uintptr_t i = 0; i < kCount; ++i)
            frame->PostMessage(kTestMessage, i, 0);
    });
    reader.join();
    // Nothing is handled on the posting thread.
    EXPECT_TRUE(frame->m_posted.empty());

    ASSERT_TRUE(ProcessEventsUntil([&] { return frame->m_posted.size() >= kCount; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(frame->m_posted.size(), kCount);
    for (std::uintptr_t i = 0; i < kCount; ++i)
    {
        EXPECT_EQ(frame->m_posted[i].msg, kTestMessage);
        EXPECT_EQ(frame->m_posted[i].wParam, i);
        EXPECT_TRUE(frame->m_posted[i].onUiThread);
    }
}

TEST(Framework, MessagesFromTwoThreadsKeepEachThreadsOrder)
{
    TestApp app;
    ASSERT_TRUE(app.OpenTestDocument());
    TestFrame* frame = app.Frame();

    constexpr std::uintptr_t kEach = 500;
    auto poster = [frame](unsigned msg) {
        for (std::uintptr_t i = 0; i < kEach; ++i)
            frame->PostMessage(msg, i, 0);
    };
    std::thread a(poster, WM_USER + 1), b(poster, WM_USER + 2);
    a.join();
    b.join();
    ASSERT_TRUE(ProcessEventsUntil([&] { return frame->m_posted.size() >= 2 * kEach; }));
    std::uintptr_t nextA = 0, nextB = 0;
    for (const Posted& p : frame->m_posted)
    {
        std::uintptr_t& next = p.msg == WM_USER + 1 ? nextA : nextB;
        EXPECT_EQ(p.wParam, next);
        ++next;
    }
    EXPECT_EQ(nextA, kEach);
    EXPECT_EQ(nextB, kEach);
}

TEST(Framework, PostedMessagesToADestroyedFrameAreDropped)
{
    TestApp app;
    ASSERT_TRUE(app.OpenTestDocument());
    ASSERT_TRUE(app.Frame()->PostMessage(kTestMessage));
    app.DestroyMainWindow();
    app.m_log.clear();
    // The pending message must not reach the freed frame.
    QCoreApplication::processEvents();
    EXPECT_TRUE(app.m_log.empty());
}

TEST(FrameworkMessageBox, ApplicationShowsAModalBoxOwnedByTheMainWindow)
{
    TestApp app(true);
    ASSERT_TRUE(app.OpenTestDocument());
    app.m_pMainWnd->show();

    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget* owner = nullptr;
    int buttons = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        owner = box->parentWidget();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    ShowMessageBox(L"Please check path or file name.", L"Error", MbIcon::Error);

    EXPECT_EQ(title, "Error");
    EXPECT_EQ(text, "Please check path or file name.");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(owner, app.m_pMainWnd);
    EXPECT_EQ(buttons, 1);
}
