#pragma once

// The real application, frame and document, with a probe view that records what the views are
// told, a settings file in a temporary folder and a message box that only takes notes.

#include "app/OrvaneApp.h"
#include "settings/Settings.h"
#include "framework/core/MessageBox.h"
#include "recording/OrvaneDoc.h"
#include "support/OrvaneTestApp.h"
#include "support/TempFolder.h"
#include "ui/MainFrame.h"
#include "ui/OrvaneView.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace frametest
{

// Processes events until the condition holds; the deadline only keeps a broken build from
// hanging the suite.
template <class Condition>
bool ProcessEventsUntil(Condition done, std::chrono::seconds deadline = std::chrono::seconds(30))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done() && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Delivers every event already posted, and nothing that comes later.
inline void DeliverPostedEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

struct Seen
{
    bool initialUpdate = false;
    bool mainWindowAtInitialUpdate = false;
    AppSettings settingsAtInitialUpdate;
    std::vector<long> hints;
    // What the settings file held when the views were being destroyed; false if unreadable.
    bool settingsFileReadAtDestruction = false;
    AppSettings settingsFileAtDestruction;
    bool destroyed = false;

    int Count(long hint) const
    {
        int n = 0;
        for (long h : hints)
            n += h == hint;
        return n;
    }
};

// A view after the main view: sees every hint the main view sees, after it.
class ProbeView : public QWidget, public CView
{
public:
    ProbeView(QWidget* parent, Seen& seen) : QWidget(parent), m_seen(seen) { hide(); }
    ~ProbeView() override
    {
        if (const COrvaneApp* app = GetOrvaneApp())
        {
            m_seen.settingsFileAtDestruction = AppSettings{L"(unread)", L"(unread)", L"(unread)", {}};
            m_seen.settingsFileReadAtDestruction =
                LoadSettings(app->m_strConfigPath, m_seen.settingsFileAtDestruction);
        }
        m_seen.destroyed = true;
    }

    void OnInitialUpdate() override
    {
        m_seen.initialUpdate = true;
        m_seen.mainWindowAtInitialUpdate = AfxGetApp() && AfxGetApp()->m_pMainWnd;
        if (const COrvaneApp* app = GetOrvaneApp())
            m_seen.settingsAtInitialUpdate = app->m_settings;
    }
    void OnUpdate(CView*, long lHint, const ViewHint&) override { m_seen.hints.push_back(lHint); }

private:
    Seen& m_seen;
};

class TestFrame : public CMainFrame
{
public:
    explicit TestFrame(Seen& seen) : m_seen(seen) {}

    int m_nGpsUpdates = 0; // hand-overs of lines
    int m_nDeviceLost = 0;

protected:
    bool OnCreateClient(CDocument* pDoc) override
    {
        if (!CMainFrame::OnCreateClient(pDoc))
            return false;
        pDoc->AddView(new ProbeView(this, m_seen));
        return true;
    }

    // Counts each session's hand-overs of lines and losses of its receiver.
    CGpsSession& NewSession(bool bStartSource) override
    {
        CGpsSession& session = CMainFrame::NewSession(bStartSource);
        QObject::connect(&session, &CGpsSession::linesArrived, this, [this] { ++m_nGpsUpdates; });
        QObject::connect(&session, &CGpsSession::lost, this, [this] { ++m_nDeviceLost; });
        return session;
    }

private:
    Seen& m_seen;
};

// The application with the probing frame.
class TestApp : public OrvaneTestApp
{
public:
    explicit TestApp(std::filesystem::path configPath) : OrvaneTestApp(std::move(configPath))
    {
        m_makeFrame = [this] { return std::make_unique<TestFrame>(m_seen); };
    }
    TestFrame* Frame() const { return dynamic_cast<TestFrame*>(OrvaneTestApp::Frame()); }

    Seen m_seen;
};

// The application started with its window, for tests that drive the frame and the main view
// (Base: ::testing::Test or a TestWithParam).
template <class Base = ::testing::Test>
class WindowTest : public Base
{
protected:
    void SetUp() override
    {
        QSettings(kUserFolderName, "Orvane").clear();
        m_app = std::make_unique<TestApp>(m_folder.Path() / "Orvane.xml");
        ASSERT_TRUE(m_app->InitInstance());
        m_frame = m_app->Frame();
        ASSERT_NE(m_frame, nullptr);
        m_view = dynamic_cast<COrvaneView*>(m_frame->centralWidget());
        ASSERT_NE(m_view, nullptr);
    }

    void TearDown() override
    {
        if (m_app)
            m_app->DestroyMainWindow();
        m_app.reset();
    }

    // Connects to the port and waits until the open has ended, connected.
    void Connect(const std::wstring& port, int baudRate)
    {
        m_frame->SetBaudRate(baudRate);
        m_frame->SetPortName(port);
        m_frame->ConnectDevice(true);
        ASSERT_TRUE(ProcessEventsUntil([&] { return !m_frame->IsConnecting(); }));
        ASSERT_TRUE(m_app->Doc()->m_bConnected);
    }

    TempFolder m_folder;
    std::unique_ptr<TestApp> m_app;
    TestFrame* m_frame = nullptr;
    COrvaneView* m_view = nullptr;
};

} // namespace frametest
