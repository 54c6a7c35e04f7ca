// The real program under a real window manager (openbox on Xvfb), as a user sees it.
#include "support/Child.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{
// Ends the X server politely, so that it takes its lock file and socket with it.
struct Terminated
{
    Child& child;
    ~Terminated()
    {
        child.Signal(SIGTERM);
        child.Wait(5);
    }
};

std::string Output(const std::string& command)
{
    return RunShell(command).output;
}

// Starts an X server on a display it picks itself; its name (":N") once it takes clients.
std::string StartServer(Child& server)
{
    if (!server.Start({"Xvfb", "-displayfd", "1", "-screen", "0", "1366x768x24", "-nolisten", "tcp"}))
        return {};
    std::string number;
    return server.ReadLine(number, 30) && !number.empty() ? ":" + number : std::string();
}

// Whether a window manager has announced itself on the root window, as EWMH has it do once it
// manages windows. xprop -spy prints the root's properties now and at every change (all of
// them: the property's name means nothing to the server until someone uses it).
bool WaitForWindowManager(const std::string& display)
{
    Child spy;
    if (!spy.Start({"xprop", "-root", "-spy"}, {"DISPLAY=" + display}))
        return false;
    for (std::string line; spy.ReadLine(line, 30);)
        if (line.starts_with("_NET_SUPPORTING_WM_CHECK(WINDOW)"))
            return true;
    return false;
}

struct WindowFrame
{
    int width = 0, height = 0;             // the client, as X sees it
    int left = 0, right = 0, top = 0, bottom = 0; // the window manager's frame
    int WholeWidth() const { return width + left + right; }
    int WholeHeight() const { return height + top + bottom; }
};

bool ReadFrame(const std::string& display, const std::string& window, WindowFrame& frame)
{
    std::istringstream geometry(Output("DISPLAY=" + display + " xdotool getwindowgeometry --shell " + window));
    std::string line;
    bool bSize = false;
    while (std::getline(geometry, line))
    {
        if (line.starts_with("WIDTH="))
            frame.width = std::stoi(line.substr(6));
        else if (line.starts_with("HEIGHT="))
            frame.height = std::stoi(line.substr(7)), bSize = true;
    }
    // "_NET_FRAME_EXTENTS(CARDINAL) = 1, 1, 20, 1"
    const std::string extents = Output("DISPLAY=" + display + " xprop -id " + window + " _NET_FRAME_EXTENTS");
    const std::size_t eq = extents.find('=');
    return bSize && eq != std::string::npos &&
           std::sscanf(extents.c_str() + eq + 1, " %d, %d, %d, %d", &frame.left, &frame.right, &frame.top,
                       &frame.bottom) == 4;
}
} // namespace

TEST(WindowManager, TheWholeWindowFrameIncludedIs1280By768AndFitsALaptopScreen)
{
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xprop"})
        if (!OnPath(tool))
            GTEST_SKIP() << tool << " is not installed";
    TempFolder home("orvane-wm");
    ASSERT_FALSE(home.Path().empty());

    Child server;
    const Terminated serverEnds{server};
    const std::string display = StartServer(server);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";
    std::vector<std::string> environment = {
        "DISPLAY=" + display,
        "HOME=" + home.Path().string(),
        "XDG_CONFIG_HOME=" + (home.Path() / "config").string(),
        "XDG_CACHE_HOME=" + (home.Path() / "cache").string(),
        "XDG_RUNTIME_DIR=" + home.Path().string(),
        "QT_QPA_PLATFORM=xcb",
    };
    // The web engine refuses its sandbox as root.
    if (::geteuid() == 0)
        environment.push_back("QTWEBENGINE_DISABLE_SANDBOX=1");
    Child manager;
    ASSERT_TRUE(manager.Start({"openbox"}, environment));
    ASSERT_TRUE(WaitForWindowManager(display)) << "openbox did not take the screen";
    // A copy, so that the settings it saves beside itself stay in the temporary folder.
    const fs::path copy = home.Path() / "orvane";
    ASSERT_TRUE(fs::copy_file(ORVANE_PROGRAM, copy));
    Child program;
    ASSERT_TRUE(program.Start({copy.string()}, environment));

    std::string window;
    WindowFrame frame;
    bool bRead = false;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (window.empty())
        {
            std::istringstream found(
                Output("DISPLAY=" + display + " xdotool search --onlyvisible --name '^Orvane$' 2>/dev/null"));
            std::getline(found, window);
        }
        bRead = !window.empty() && ReadFrame(display, window, frame);
        if (bRead && frame.top > 0 && frame.WholeWidth() == 1280 && frame.WholeHeight() == 768)
            break;
        std::this_thread::sleep_for(200ms);
    }
    ASSERT_FALSE(window.empty()) << "no Orvane window appeared";
    ASSERT_TRUE(bRead);
    EXPECT_GT(frame.top, 0) << "the window manager gave the window a title bar";
    EXPECT_EQ(frame.WholeWidth(), 1280) << frame.width << " + " << frame.left << " + " << frame.right;
    EXPECT_EQ(frame.WholeHeight(), 768) << frame.height << " + " << frame.top << " + " << frame.bottom;
}
