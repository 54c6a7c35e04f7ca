#pragma once

// The real application with its settings file where the test puts it and a message box that
// only takes notes; the frame and the document it makes can be the test's own.

#include "app/OrvaneApp.h"
#include "framework/core/MessageBox.h"
#include "recording/OrvaneDoc.h"
#include "ui/MainFrame.h"

#include <QCoreApplication>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct ShownMessage
{
    std::wstring text;
    std::wstring caption;
    MbIcon icon;
};

class OrvaneTestApp : public COrvaneApp
{
public:
    explicit OrvaneTestApp(std::filesystem::path configPath) : m_configPath(std::move(configPath))
    {
        SetMessageBoxHandler([this](const std::wstring& text, const std::wstring& caption, MbIcon icon) {
            m_messages.push_back({text, caption, icon});
        });
    }

    bool InitInstance() override
    {
        m_bStarted = COrvaneApp::InitInstance();
        if (m_bStarted && m_afterStart)
            QMetaObject::invokeMethod(QCoreApplication::instance(), [this] { m_afterStart(*this); },
                                      Qt::QueuedConnection);
        return m_bStarted;
    }

    CMainFrame* Frame() const { return dynamic_cast<CMainFrame*>(m_pMainWnd); }
    COrvaneDoc* Doc() const { return dynamic_cast<COrvaneDoc*>(GetDocument()); }

    std::vector<ShownMessage> m_messages;
    // Runs inside the event loop of Run, after start-up.
    std::function<void(OrvaneTestApp&)> m_afterStart;
    bool m_bStarted = false;
    // The frame and the document the application makes, when a test needs its own.
    std::function<std::unique_ptr<CMainFrame>()> m_makeFrame;
    std::function<std::unique_ptr<COrvaneDoc>()> m_makeDocument;

protected:
    std::wstring MakeConfigPath() const override { return m_configPath.wstring(); }
    std::unique_ptr<CMainFrame> CreateMainFrame() override
    {
        return m_makeFrame ? m_makeFrame() : COrvaneApp::CreateMainFrame();
    }
    std::unique_ptr<COrvaneDoc> CreateDocument() override
    {
        return m_makeDocument ? m_makeDocument() : COrvaneApp::CreateDocument();
    }

private:
    std::filesystem::path m_configPath;
};
