// The whole run as main() does it: the application makes its own QApplication from the command
// line, starts, runs the event loop until File, Exit, and shuts down.

#include "ui/FrameTestSupport.h"

#include "framework/core/CommandIds.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QSettings>

using namespace frametest;

namespace
{

TEST(Run, UnknownArgumentsStartTheProgramAndFileExitEndsItSavingTheSettings)
{
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    ::setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
    const std::filesystem::path config = folder.Path() / "Orvane.xml";
    ASSERT_EQ(QCoreApplication::instance(), nullptr);

    char program[] = "orvane";
    char option[] = "--no-such-option";
    char shortOption[] = "-z";
    char file[] = "track.gpx";
    char* argv[] = {program, option, shortOption, file, nullptr};
    int argc = 4;

    int code = -1;
    bool visible = false;
    QString title;
    AppSettings loaded;
    {
        TestApp app(config);
        app.m_afterStart = [&](OrvaneTestApp& started) {
            visible = started.m_pMainWnd->isVisible();
            title = started.m_pMainWnd->windowTitle();
            loaded = started.m_settings;
            started.m_settings.port = L"ttyUSB1";
            started.Frame()->FindCommand(ID_APP_EXIT)->trigger();
        };
        code = app.Run(argc, argv);
        EXPECT_TRUE(app.m_bStarted);
        EXPECT_TRUE(app.m_seen.initialUpdate);
        EXPECT_TRUE(app.m_seen.destroyed);
        EXPECT_TRUE(app.m_messages.empty());
        EXPECT_EQ(app.m_pMainWnd, nullptr);
        EXPECT_EQ(app.GetDocument(), nullptr);
    }

    EXPECT_EQ(code, 0);
    EXPECT_TRUE(visible);
    EXPECT_EQ(title, "Orvane");
    EXPECT_EQ(loaded.baudRate, L"4800");
    AppSettings saved;
    ASSERT_TRUE(LoadSettings(config.wstring(), saved));
    EXPECT_EQ(saved.port, L"ttyUSB1");
    // The application made and removed its own QApplication.
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    // Window state went to the user's configuration folder under the application's key.
    EXPECT_TRUE(std::filesystem::exists(folder.Path() / "Local AppWizard-Generated Applications" / "Orvane.conf"));
}

} // namespace
