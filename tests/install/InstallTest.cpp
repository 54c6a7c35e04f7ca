// `cmake --install` into a temporary prefix, as a packager runs it, and what the desktop makes of
// the result: desktop-file-validate, appstreamcli, the icons' real sizes, the programs' answers,
// their manual pages; then the .deb, through lintian when it is there.
#include "discovery/ReceiverRecognition.h"
#include "support/Child.h"
#include "support/Files.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fnmatch.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
const std::string kAppId = "org.orvane.Orvane";

std::string Quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

std::vector<std::string> Programs()
{
    std::vector<std::string> programs = {"orvane", "orvane-gpssim"};
    if (ORVANE_HAS_NMEA_TOOL)
        programs.push_back("orvane-nmea");
    return programs;
}

// A manual page as a reader sees it: plain text, lines long enough that nothing is hyphenated.
RunResult RenderManualPage(const fs::path& page)
{
    return RunShell("gzip -dc " + Quoted(page) + " | groff -man -Tascii -P-cbou -rHY=0 -rLL=400n");
}

// The long options a program's --help names, such as "--baud".
std::vector<std::string> LongOptions(const std::string& help)
{
    std::vector<std::string> options;
    const std::regex option("(^|[ \\[,])(--[a-z][a-z-]*)");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
        options.push_back((*it)[2]);
    return options;
}

// The network sources the README lists, such as "tcp://HOST:PORT".
std::vector<std::string> ReadmeSources()
{
    std::vector<std::string> sources;
    const std::string readme = ReadFile(fs::path(ORVANE_SOURCE_DIR) / "README.md");
    const std::regex item("\n- `([a-z]+://[^`]+)`");
    for (auto it = std::sregex_iterator(readme.begin(), readme.end(), item); it != std::sregex_iterator(); ++it)
        sources.push_back((*it)[1]);
    return sources;
}

// Width and height from a PNG's header chunk.
bool PngSize(const fs::path& file, int& width, int& height)
{
    const std::string bytes = ReadFile(file);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return false;
    const auto word = [&](std::size_t at) {
        return (static_cast<unsigned char>(bytes[at]) << 24) | (static_cast<unsigned char>(bytes[at + 1]) << 16) |
               (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
    };
    width = static_cast<int>(word(16));
    height = static_cast<int>(word(20));
    return true;
}

// The value of `key=` in a desktop entry.
std::string DesktopValue(const std::string& entry, const std::string& key)
{
    std::istringstream lines(entry);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(key + "="))
            return line.substr(key.size() + 1);
    return {};
}

class InstallTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_prefix = new TempFolder("orvane-install");
        s_install = RunShell(std::string(ORVANE_CMAKE) + " --install " + Quoted(ORVANE_BINARY_DIR) +
                               " --prefix " + Quoted(s_prefix->Path()));
    }
    static void TearDownTestSuite()
    {
        delete s_prefix;
        s_prefix = nullptr;
    }
    void SetUp() override { ASSERT_EQ(s_install.status, 0) << s_install.output; }

    static fs::path Prefix() { return s_prefix->Path(); }

    static TempFolder* s_prefix;
    static RunResult s_install;
};

TempFolder* InstallTest::s_prefix = nullptr;
RunResult InstallTest::s_install;

TEST_F(InstallTest, PutsEveryPieceWhereTheDesktopLooks)
{
    std::vector<std::string> files = {
        "share/applications/" + kAppId + ".desktop",
        "share/metainfo/" + kAppId + ".metainfo.xml",
        "lib/udev/rules.d/70-orvane-receivers.rules",
        "share/doc/orvane/copyright",
        "share/doc/orvane/changelog.gz",
    };
    for (const std::string& program : Programs())
    {
        files.push_back("bin/" + program);
        files.push_back("share/man/man1/" + program + ".1.gz");
    }
    for (const std::string& file : files)
        EXPECT_TRUE(fs::is_regular_file(Prefix() / file)) << file;
    for (const char* program : {"bin/orvane", "bin/orvane-gpssim"})
        EXPECT_NE(fs::status(Prefix() / program).permissions() & fs::perms::owner_exec, fs::perms::none) << program;
}

// Each hicolor size folder holds the picture of that size: a 16 in the 256 folder looks blurred
// in the menu and is what a copy-paste slip in the install rules gives.
TEST_F(InstallTest, IconsAreInEveryHicolorSizeAtThatSize)
{
    for (const int size : {16, 32, 48, 64, 128, 256})
    {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        const fs::path icon = Prefix() / "share/icons/hicolor" / folder / "apps" / (kAppId + ".png");
        int width = 0;
        int height = 0;
        ASSERT_TRUE(PngSize(icon, width, height)) << icon;
        EXPECT_EQ(width, size) << icon;
        EXPECT_EQ(height, size) << icon;
    }
}

TEST_F(InstallTest, DesktopEntryPassesDesktopFileValidate)
{
    if (!OnPath("desktop-file-validate"))
        GTEST_SKIP() << "desktop-file-validate is not installed (apt: desktop-file-utils)";
    const fs::path entry = Prefix() / "share/applications" / (kAppId + ".desktop");
    const RunResult run = RunShell("desktop-file-validate " + Quoted(entry));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, "") << "hints and warnings count too";

    // What the entry names is there: the program on the prefix's bin, the icon by its name.
    const std::string text = ReadFile(entry);
    EXPECT_TRUE(fs::exists(Prefix() / "bin" / DesktopValue(text, "Exec")));
    EXPECT_TRUE(fs::exists(Prefix() / "share/icons/hicolor/48x48/apps" / (DesktopValue(text, "Icon") + ".png")));
}

TEST_F(InstallTest, MetainfoPassesAppstreamValidation)
{
    if (!OnPath("appstreamcli"))
        GTEST_SKIP() << "appstreamcli is not installed (apt: appstream)";
    const fs::path metainfo = Prefix() / "share/metainfo" / (kAppId + ".metainfo.xml");
    const RunResult run = RunShell("appstreamcli validate --no-net --pedantic " + Quoted(metainfo));
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string text = ReadFile(metainfo);
    EXPECT_NE(text.find("<launchable type=\"desktop-id\">" + kAppId + ".desktop</launchable>"), std::string::npos);
    // The README's picture.
    EXPECT_NE(text.find("/docs/screenshot.png</image>"), std::string::npos);
    EXPECT_TRUE(fs::exists(fs::path(ORVANE_SOURCE_DIR) / "docs/screenshot.png"));
}

// Answered on standard output with no display at all: a window would fail to open here.
TEST_F(InstallTest, VersionAndHelpAnswerWithoutAWindow)
{
    struct Row
    {
        const char* args;
        std::string starts;
    };
    const Row rows[] = {
        {"--version", std::string("Orvane ") + ORVANE_VERSION + "\n"},
        {"--help", "Usage: orvane [--version] [--help] [FILE]\n"},
        {"-platform offscreen --version", std::string("Orvane ") + ORVANE_VERSION + "\n"},
    };
    for (const fs::path& program : {Prefix() / "bin/orvane", fs::path(ORVANE_BUILT_ORVANE)})
        for (const Row& row : rows)
        {
            SCOPED_TRACE(program.string() + " " + row.args);
            const RunResult run = RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + Quoted(program) +
                                       " " + row.args);
            EXPECT_EQ(run.status, 0) << run.output;
            EXPECT_TRUE(run.output.starts_with(row.starts)) << run.output;
        }
}

// What --help says the program does today, and where to read more.
TEST_F(InstallTest, HelpNamesEverySourceAndRecordingAndTheManualPage)
{
    const RunResult help = RunShell(Quoted(Prefix() / "bin/orvane") + " --help");
    ASSERT_EQ(help.status, 0) << help.output;
    const std::vector<std::string> sources = ReadmeSources();
    ASSERT_EQ(sources.size(), 3u) << "the README's list of network sources changed";
    for (const std::string& source : sources)
        EXPECT_NE(help.output.find(source), std::string::npos) << source;
    for (const char* text : {"NMEA logs", "KML tracks", "GPX tracks", "man orvane"})
        EXPECT_NE(help.output.find(text), std::string::npos) << text;
}

// Each program has its page, and the page describes every option the program's --help names.
TEST_F(InstallTest, ManualPagesDescribeEveryOption)
{
    if (!OnPath("groff"))
        GTEST_SKIP() << "groff is not installed (apt: groff-base)";
    const std::vector<std::string> sources = ReadmeSources();
    for (const std::string& program : Programs())
    {
        SCOPED_TRACE(program);
        const RunResult page = RenderManualPage(Prefix() / "share/man/man1" / (program + ".1.gz"));
        ASSERT_EQ(page.status, 0) << page.output;
        EXPECT_NE(page.output.find("\n       " + program + " - "), std::string::npos) << "the NAME line\n" << page.output;
        const RunResult help = RunShell(Quoted(Prefix() / "bin" / program) + " --help");
        ASSERT_EQ(help.status, 0) << help.output;
        const std::vector<std::string> options = LongOptions(help.output);
        EXPECT_GE(options.size(), 2u) << help.output;
        for (const std::string& option : options)
            EXPECT_NE(page.output.find(option), std::string::npos) << option;
        if (program == "orvane")
        {
            for (const std::string& source : sources)
                EXPECT_NE(page.output.find(source), std::string::npos) << source;
        }
    }
}

// The changelog's newest entry is this version; the copyright file is machine-readable.
TEST_F(InstallTest, ChangelogAndCopyrightSpeakForThisVersion)
{
    const fs::path docs = Prefix() / "share/doc/orvane";
    const RunResult changelog = RunShell("gzip -dc " + Quoted(docs / "changelog.gz"));
    ASSERT_EQ(changelog.status, 0) << changelog.output;
    EXPECT_TRUE(changelog.output.starts_with(std::string("orvane (") + ORVANE_VERSION + ") ")) << changelog.output;
    const std::string copyright = ReadFile(docs / "copyright");
    EXPECT_TRUE(copyright.starts_with("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"));
    EXPECT_NE(copyright.find("\nFiles: *\n"), std::string::npos);
    // The map's script library is compiled into the program, and its licence comes along.
    EXPECT_NE(copyright.find("Leaflet"), std::string::npos);
    EXPECT_NE(copyright.find("\nLicense: BSD-2-clause\n Redistribution"), std::string::npos);
}

// The rule that keeps ModemManager away covers every receiver the port list recognises.
TEST_F(InstallTest, UdevRuleCoversTheRecognisedReceivers)
{
    const std::string rules = ReadFile(Prefix() / "lib/udev/rules.d/70-orvane-receivers.rules");
    for (const ReceiverUsbId& row : KnownReceiverIds())
    {
        const std::string match = "ATTRS{idVendor}==\"" + std::string(row.vendor) + "\", ATTRS{idProduct}==\"" +
                                  std::string(row.product) + "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
        EXPECT_NE(rules.find(match), std::string::npos) << row.vendor << ':' << row.product;
    }
    std::vector<std::string> productGlobs;
    const std::regex productRule("ATTRS\\{product\\}==\"([^\"]+)\", ENV\\{ID_MM_DEVICE_IGNORE\\}=\"1\"");
    for (auto it = std::sregex_iterator(rules.begin(), rules.end(), productRule); it != std::sregex_iterator(); ++it)
        productGlobs.push_back((*it)[1]);
    ASSERT_FALSE(productGlobs.empty());
    for (const char* product : {"u-blox 7 - GPS/GNSS Receiver", "USB GPS", "gnss receiver", "BU-353S4 (Gps)"})
    {
        ASSERT_TRUE(ProductNamesGnss(product));
        bool covered = false;
        for (const std::string& glob : productGlobs)
            covered = covered || ::fnmatch(glob.c_str(), product, 0) == 0;
        EXPECT_TRUE(covered) << product;
    }
    EXPECT_NE(rules.find("DRIVERS==\"pl2303\", ENV{ID_MM_DEVICE_IGNORE}=\"1\""), std::string::npos);
    EXPECT_NE(rules.find("LABEL=\"orvane_end\""), std::string::npos);
}

// The .deb that CPack makes, packed once for the tests below.
class DebPackage : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!OnPath("dpkg-deb") || !OnPath("dpkg-shlibdeps"))
            return;
        s_out = new TempFolder("orvane-deb");
        s_pack = RunShell("cd " + Quoted(s_out->Path()) + " && " + ORVANE_CPACK + " -G DEB --config " +
                            Quoted(fs::path(ORVANE_BINARY_DIR) / "CPackConfig.cmake"));
        for (const auto& entry : fs::directory_iterator(s_out->Path()))
        {
            if (entry.path().extension() == ".deb")
                s_deb = entry.path();
            else if (entry.path().extension() == ".ddeb")
                s_ddeb = entry.path();
        }
    }
    static void TearDownTestSuite()
    {
        delete s_out;
        s_out = nullptr;
    }
    void SetUp() override
    {
        if (!s_out)
            GTEST_SKIP() << "dpkg-deb and dpkg-shlibdeps are needed (apt: dpkg-dev)";
        ASSERT_EQ(s_pack.status, 0) << s_pack.output;
        ASSERT_FALSE(s_deb.empty()) << s_pack.output;
    }

    static TempFolder* s_out;
    static RunResult s_pack;
    static fs::path s_deb;
    static fs::path s_ddeb;
};

TempFolder* DebPackage::s_out = nullptr;
RunResult DebPackage::s_pack;
fs::path DebPackage::s_deb;
fs::path DebPackage::s_ddeb;

// The same files as the install, and the run-time packages as its dependencies.
TEST_F(DebPackage, HoldsTheProgramAndDependsOnItsRunTimePackages)
{
    const RunResult depends = RunShell("dpkg-deb -f " + Quoted(s_deb) + " Depends");
    ASSERT_EQ(depends.status, 0) << depends.output;
    for (const char* package : {"libqt6widgets6", "libqt6webenginewidgets6", "libqt6network6", "libpugixml1v5",
                                "libkmldom1", "libstdc++6", "qt6-qpa-plugins", "fonts-liberation2"})
        EXPECT_NE(depends.output.find(package), std::string::npos) << package << " in " << depends.output;

    const RunResult contents = RunShell("dpkg-deb -c " + Quoted(s_deb));
    std::vector<std::string> files = {"./usr/share/applications/" + kAppId + ".desktop",
                                      "./usr/lib/udev/rules.d/70-orvane-receivers.rules",
                                      "./usr/share/doc/orvane/copyright", "./usr/share/doc/orvane/changelog.gz"};
    for (const std::string& program : Programs())
    {
        files.push_back("./usr/bin/" + program);
        files.push_back("./usr/share/man/man1/" + program + ".1.gz");
    }
    for (const std::string& file : files)
        EXPECT_NE(contents.output.find(file + "\n"), std::string::npos) << file;
}

// Stripped programs, whose debug symbols are in the -dbgsym package under their build ids.
TEST_F(DebPackage, DebugSymbolsAreInTheDbgsymPackage)
{
    if (!OnPath("readelf"))
        GTEST_SKIP() << "readelf is not installed (apt: binutils)";
    ASSERT_FALSE(s_ddeb.empty()) << s_pack.output;
    const TempFolder unpacked("orvane-deb-files");
    const RunResult extract = RunShell("dpkg-deb -x " + Quoted(s_deb) + " " + Quoted(unpacked.Path()));
    ASSERT_EQ(extract.status, 0) << extract.output;
    const RunResult debug = RunShell("dpkg-deb -c " + Quoted(s_ddeb));
    ASSERT_EQ(debug.status, 0) << debug.output;
    const std::regex buildId("Build ID: ([0-9a-f]{2})([0-9a-f]+)");
    for (const std::string& program : Programs())
    {
        SCOPED_TRACE(program);
        const fs::path binary = unpacked.Path() / "usr/bin" / program;
        const RunResult sections = RunShell("readelf -S -W " + Quoted(binary));
        ASSERT_EQ(sections.status, 0) << sections.output;
        EXPECT_EQ(sections.output.find(".debug_info"), std::string::npos) << "not stripped";
        EXPECT_EQ(sections.output.find(".symtab"), std::string::npos) << "not stripped";
        const RunResult notes = RunShell("readelf -n " + Quoted(binary));
        std::smatch id;
        ASSERT_TRUE(std::regex_search(notes.output, id, buildId)) << notes.output;
        const std::string file = "./usr/lib/debug/.build-id/" + id[1].str() + "/" + id[2].str() + ".debug\n";
        EXPECT_NE(debug.output.find(file), std::string::npos) << file << " in\n" << debug.output;
    }
}

// No errors and no missing manual page, which is what lintian found before.
TEST_F(DebPackage, PassesLintian)
{
    if (!OnPath("lintian"))
        GTEST_SKIP() << "lintian is not installed (scripts/deps.sh installs it)";
    const RunResult lint = RunShell("lintian --no-cfg " + Quoted(s_deb));
    std::printf("lintian %s:\n%s", s_deb.filename().c_str(), lint.output.c_str());
    std::istringstream lines(lint.output);
    for (std::string line; std::getline(lines, line);)
    {
        EXPECT_FALSE(line.starts_with("E: ")) << line;
        EXPECT_EQ(line.find("no-manual-page"), std::string::npos) << line;
    }
    EXPECT_EQ(lint.status, 0) << lint.output;
}
} // namespace
