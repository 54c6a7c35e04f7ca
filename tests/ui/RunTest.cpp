// The whole run as main() does it: the application makes its own QApplication from the command
// line, starts, runs the event loop until File, Exit, and shuts down.

#include "ui/FrameTestSupport.h"

#include "framework/core/CommandIds.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QSettings>

#include <cstdlib>
#include <fstream>
#include <string>

using namespace frametest;

namespace
{

TEST(Run, UnknownArgumentsStartTheProgramAndFileExitEndsItSavingTheSettings)
{
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    ::setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
    const std::filesystem::path config = folder.Path() / "Orvane.xml";
    // What an earlier Orvane left under the wizard's name: its window state and a cached tile.
    TempFolder cache;
    const char* const savedCache = std::getenv("XDG_CACHE_HOME");
    const std::string cacheBefore = savedCache ? savedCache : "";
    ::setenv("XDG_CACHE_HOME", cache.Path().c_str(), 1);
    const std::filesystem::path earlierState = folder.Path() / kEarlierFolderName / "Orvane.conf";
    const std::filesystem::path earlierTile = cache.Path() / kEarlierFolderName / "Orvane" / "web" / "cache" / "tile";
    std::filesystem::create_directories(earlierState.parent_path());
    std::filesystem::create_directories(earlierTile.parent_path());
    std::ofstream(earlierState) << "[General]\nearlier=1\n";
    std::ofstream(earlierTile) << "a tile";
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
    // Window state went to the user's configuration folder under Orvane's own name, with what
    // the earlier one kept; the tile moved to Orvane's cache folder; the old folders are gone.
    const std::filesystem::path state = folder.Path() / "orvane" / "Orvane.conf";
    ASSERT_TRUE(std::filesystem::exists(state));
    EXPECT_NE(ReadFile(state).find("earlier=1"), std::string::npos);
    EXPECT_EQ(ReadFile(cache.Path() / "orvane" / "web" / "cache" / "tile"), "a tile");
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / kEarlierFolderName));
    EXPECT_FALSE(std::filesystem::exists(cache.Path() / kEarlierFolderName));
    if (savedCache)
        ::setenv("XDG_CACHE_HOME", cacheBefore.c_str(), 1);
    else
        ::unsetenv("XDG_CACHE_HOME");
}

} // namespace
