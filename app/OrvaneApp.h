#pragma once

#include "settings/Settings.h"
#include "framework/WinApp.h"

#include <memory>
#include <string>

class CMainFrame;
class COrvaneDoc;
class CShutdownSignals;

// The application object: owns the settings and the settings file's path for the whole run,
// creates the document, the main frame and its views, and saves the settings when the main
// window closes.
class COrvaneApp : public CWinApp
{
public:
    COrvaneApp();
    ~COrvaneApp() override;

    // Start-up: the settings path, then the document, the frame and its views; the settings are
    // loaded before the views' first update. Returns false when the window cannot be made.
    bool InitInstance() override;
    bool OnCommand(unsigned id) override;

    void OnAppAbout();
    // Writes the settings file now, as at exit; when it cannot be written, a message box names
    // the file and the reason. What Save does.
    bool SaveSettingsFile();

    // The program's own start (not a harness that reuses the application with arguments of its
    // own): the log named among the arguments the toolkit leaves is played once the window shows.
    bool m_bPlayLogArgument = false;

    AppSettings m_settings;
    std::wstring m_strConfigPath;

protected:
    // Hands the settings to the views that show and change them, before the file is read into
    // them and before the views' first update.
    void PreLoadState() override;
    bool LoadCustomState() override;
    bool SaveCustomState() override;

    // Seams for tests: where the settings file lives, and the frame to create.
    virtual std::wstring MakeConfigPath() const;
    virtual std::unique_ptr<CMainFrame> CreateMainFrame();
    virtual std::unique_ptr<COrvaneDoc> CreateDocument();

private:
    // Installed once the window is up, kept through the shutdown that follows the event loop.
    std::unique_ptr<CShutdownSignals> m_pSignals;
};

// The application object as the program's own class; null when there is none (or another).
COrvaneApp* GetOrvaneApp();
