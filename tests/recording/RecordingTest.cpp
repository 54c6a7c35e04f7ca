#include "recording/OrvaneDoc.h"

#include "framework/core/MessageBox.h"
#include "gps/EpochEnd.h"
#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"
#include "recording/RecordingFixtures.h"
#include "util/WideText.h"
#include "support/KmlText.h"
#include "support/Peers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cerrno>
#include <cstring>
#include <future>
#include <semaphore>
#include <sstream>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{
// 7 March 2010, 09:05:03 UTC.
constexpr std::time_t kMarch2010 = 1267952703;

const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const std::string kRmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

struct Box
{
    std::wstring text;
    std::wstring caption;
    MbIcon icon;
};

struct Hint
{
    long hint;
    int recording;

    bool operator==(const Hint&) const = default;
};

// A view that notes each hint with the recording flag the document showed at that moment.
class HintView : public CView
{
public:
    void OnUpdate(CView*, long lHint, const ViewHint&) override
    {
        const auto* doc = static_cast<const COrvaneDoc*>(GetDocument());
        m_hints.push_back({lHint, doc->m_bRecording});
    }
    std::vector<Hint> m_hints;
};

class TestDoc : public COrvaneDoc
{
public:
    std::time_t m_now = kMarch2010;
    FileCalls m_calls;

protected:
    std::time_t Now() const override { return m_now; }
    FileCalls Calls() const override { return m_calls; }
};

CCmdUI UpdateOf(COrvaneDoc& doc, unsigned id)
{
    CCmdUI ui(id);
    EXPECT_TRUE(doc.OnUpdateCommand(ui));
    return ui;
}

// The name part of a recording started at `when`, in the test's UTC.
std::string Stamp(std::time_t when)
{
    std::tm utc = {};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &utc);
    return text;
}

GpsData Fix(int mode, float longitude, float latitude, float altitude, int second = 0)
{
    GpsData gps;
    gps.decode.known = kKnownPosition;
    gps.second = second;
    gps.fixMode = mode;
    gps.longitude = longitude;
    gps.latitude = latitude;
    gps.altitude = altitude;
    return gps;
}
} // namespace

class Recording : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previousBox = SetMessageBoxHandler([this](const std::wstring& text, const std::wstring& caption, MbIcon icon) {
            m_boxes.push_back({text, caption, icon});
        });
        const char* tz = std::getenv("TZ");
        m_previousTz = tz ? std::optional<std::string>(tz) : std::nullopt;
        SetTimeZone("UTC0");
        m_doc = std::make_unique<TestDoc>();
        m_doc->m_strSaveFolder = Wide(m_dir.Path());
        m_doc->AddView(&m_view);
    }

    void TearDown() override
    {
        m_doc.reset();
        SetMessageBoxHandler(std::move(m_previousBox));
        if (m_previousTz)
            ::setenv("TZ", m_previousTz->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

    static void SetTimeZone(const char* tz)
    {
        ::setenv("TZ", tz, 1);
        ::tzset();
    }

    // One line handed over as the frame hands the device's lines, with the record right after
    // it; then, the batch done, what it met is shown.
    void Receive(const std::string& line, const GpsData& after)
    {
        const ReceivedLine received{line, after, {}, m_epochs.Feed(line, after)};
        m_doc->OnReceived({&received, 1});
        m_doc->ShowQueuedErrors();
    }
    // The same, the record decoded from the document's latest one.
    void Receive(const std::string& line)
    {
        GpsData after = m_doc->m_gps;
        DecodeSentence(line, after);
        Receive(line, after);
    }

    // Returns once the recording's writer thread has done all it was asked.
    void WaitForTheWriter()
    {
        ASSERT_NE(m_doc->m_pRecorder, nullptr);
        m_doc->m_pRecorder->WaitUntilWritten();
    }

    std::filesystem::path NmeaPath() const { return m_dir.Path() / "20100307-090503.txt"; }
    std::filesystem::path KmlPath() const { return m_dir.Path() / "20100307-090503.kml"; }

    TempFolder m_dir;
    HintView m_view;
    std::unique_ptr<TestDoc> m_doc;
    std::vector<Box> m_boxes;
    MessageBoxHandler m_previousBox;
    std::optional<std::string> m_previousTz;
    EpochEnd m_epochs;
};

TEST_F(Recording, FileNamesComeFromTheLocalStartTime)
{
    struct Row
    {
        const char* what;
        const char* tz;
        std::time_t when;
        const wchar_t* extension;
        const wchar_t* expected;
    };
    const Row rows[] = {
        {"NMEA log", "UTC0", kMarch2010, L".txt", L"/20100307-090503.txt"},
        {"KML track", "UTC0", kMarch2010, L".kml", L"/20100307-090503.kml"},
        {"local time, not UTC", "CET-1", kMarch2010, L".txt", L"/20100307-100503.txt"},
        {"local time crosses midnight back", "EST5", 1267401600, L".txt", L"/20100228-190000.txt"},
        {"hour past noon, all fields two digits", "UTC0", 1293839999, L".kml", L"/20101231-235959.kml"},
        {"a five-digit year keeps all its digits", "UTC0", 253402300800, L".txt", L"/100000101-000000.txt"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        SetTimeZone(row.tz);
        EXPECT_EQ(m_doc->MakeFileName(row.when, row.extension), m_doc->m_strSaveFolder + row.expected);
    }
}

namespace
{
// A folder of exactly `length` bytes under `base`, made of parts no longer than a name may be.
std::filesystem::path DeepFolder(const std::filesystem::path& base, std::size_t length, char fill)
{
    std::string path = base.string();
    while (path.size() < length)
    {
        const std::size_t left = length - path.size() - 1;
        // No part shorter than 2 is left for the end.
        const std::size_t part = left > 200 ? (left - 200 < 2 ? 150 : 200) : left;
        path += '/' + std::string(part, fill);
    }
    std::filesystem::create_directories(path);
    return path;
}
} // namespace

TEST_F(Recording, NameThatDoesNotFitIsRefusedRatherThanCut)
{
    // A cut name would lose its time and extension, and every cut name would be the same.
    const std::wstring folder = L"/" + std::wstring(250, L'd');
    m_doc->m_strSaveFolder = folder;
    EXPECT_EQ(m_doc->MakeFileName(kMarch2010, L".txt"), folder + L"/20100307-090503.txt");

    // The file system's limits, not another platform's 259 characters: the whole path at most
    // PATH_MAX bytes with its terminating zero, each name at most NAME_MAX. The whole name is
    // 20 bytes longer than the folder.
    constexpr std::size_t kLongest = PATH_MAX - 1;
    struct Row
    {
        const char* what;
        std::size_t folderLength;
        bool taken; // the plain name exists already, so "-1" must fit too
        bool starts;
    };
    const Row rows[] = {
        {"past 259 characters, well within the limit", 600, false, true},
        {"exactly PATH_MAX - 1 bytes", kLongest - 20, false, true},
        {"one byte over", kLongest - 19, false, false},
        {"fits, but its -1 does not", kLongest - 20, true, false},
        {"fits with its -1", kLongest - 22, true, true},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        m_boxes.clear();
        const auto sub = DeepFolder(m_dir.Path(), row.folderLength, static_cast<char>('a' + (&row - rows)));
        ASSERT_EQ(sub.string().size(), row.folderLength);
        m_doc->m_strSaveFolder = Wide(sub);
        if (row.taken)
        {
            std::ofstream(sub / "20100307-090503.txt") << "earlier";
        }
        m_doc->SetRecording(true);
        EXPECT_EQ(m_doc->m_bRecording, row.starts ? 1 : 0);
        if (row.starts)
        {
            EXPECT_TRUE(m_boxes.empty());
            EXPECT_GT(m_doc->m_pRecorder->Path().size(), 259u);
            EXPECT_LE(m_doc->m_pRecorder->Path().size(), kLongest);
        }
        else
        {
            ASSERT_EQ(m_boxes.size(), 1u);
            EXPECT_EQ(m_boxes[0].text.rfind(L"Please check path or file name.", 0), 0u);
            EXPECT_NE(m_boxes[0].text.find(Wide(sub)), std::wstring::npos);
            EXPECT_NE(m_boxes[0].text.find(L"File name too long"), std::wstring::npos);
        }
        m_doc->SetRecording(false);
        // Nothing cut was made, and an earlier file is untouched.
        for (const auto& entry : std::filesystem::directory_iterator(sub))
            EXPECT_LE(entry.path().string().size(), kLongest);
        if (row.taken)
        {
            EXPECT_EQ(ReadFile(sub / "20100307-090503.txt"), "earlier");
        }
    }

    // A folder name longer than NAME_MAX: refused with the same message, naming the folder.
    m_boxes.clear();
    const std::wstring tooLong = Wide(m_dir.Path()) + L"/" + std::wstring(NAME_MAX + 1, L'n');
    m_doc->m_strSaveFolder = tooLong;
    m_doc->SetRecording(true);
    EXPECT_EQ(m_doc->m_bRecording, 0);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text.rfind(L"Please check path or file name.", 0), 0u);
    EXPECT_NE(m_boxes[0].text.find(tooLong), std::wstring::npos);
    EXPECT_NE(m_boxes[0].text.find(L"File name too long"), std::wstring::npos);
}

TEST_F(Recording, NmeaLogHoldsExactlyTheLinesHandedToIt)
{
    // Real receiver lines, and the odd ones a receiver can send: a bare LF, bytes above 127,
    // the longest line the device keeps.
    std::vector<std::string> lines = CaptureLines("haicom-305N.nmea");
    ASSERT_GT(lines.size(), 100u);
    lines.push_back("$GPTXT,01,01,02,ANTSTATUS=OK*3B\n");
    lines.push_back("$GPTXT,01,01,02,\xb0\xff\x80*00\r\n");
    lines.push_back("$GPTXT," + std::string(1012, 'A') + "\r\n");

    m_doc->SetRecording(true);
    ASSERT_EQ(m_doc->m_bRecording, 1);
    std::string expected;
    for (const std::string& line : lines)
    {
        Receive(line);
        expected += line;
        // Each line is in the file once the writer has had it, not when the recording ends.
        WaitForTheWriter();
        ASSERT_EQ(std::filesystem::file_size(NmeaPath()), expected.size());
    }
    m_doc->SetRecording(false);

    EXPECT_EQ(m_doc->m_bRecording, 0);
    EXPECT_EQ(m_doc->m_pRecorder, nullptr);
    EXPECT_EQ(ReadFile(NmeaPath()), expected);
    EXPECT_EQ(m_dir.Entries().size(), 1u);
    EXPECT_EQ(m_view.m_hints, (std::vector<Hint>{{HINT_RECORDING_CHANGED, 1}, {HINT_RECORDING_CHANGED, 0}}));
    EXPECT_TRUE(m_boxes.empty());
}

// The device queues only checksum-valid lines and the status view hands over what it takes
// from that queue; the same test is applied here to a stream with damaged sentences.
TEST_F(Recording, SentenceWithAWrongChecksumNeverReachesTheLog)
{
    const std::vector<std::string> received = {
        kGga,
        "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*48\r\n", // checksum off by one
        kRmc,
        "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W\r\n", // no checksum
        "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6b\r\n", // lowercase, wrong
        "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a\r\n", // lowercase, right
    };
    m_doc->SetRecording(true);
    for (const std::string& line : received)
    {
        if (IsChecksumValid(line))
            Receive(line);
    }
    m_doc->SetRecording(false);
    // A lowercase checksum is valid, and the line is written as it came.
    EXPECT_EQ(ReadFile(NmeaPath()), kGga + kRmc + received.back());
}

TEST_F(Recording, MissingFolderShowsTheErrorAndLeavesTheDocumentIdle)
{
    for (int kind : {RecordNmea, RecordKml})
    {
        SCOPED_TRACE(kind == RecordNmea ? "NMEA" : "KML");
        m_boxes.clear();
        m_doc->m_nRecordKind = kind;
        m_doc->m_strSaveFolder = Wide(m_dir.Path() / "missing");
        m_doc->SetRecording(true);

        EXPECT_EQ(m_doc->m_bRecording, 0);
        ASSERT_EQ(m_boxes.size(), 1u);
        // The message, then which folder and why.
        EXPECT_EQ(m_boxes[0].text, L"Please check path or file name.\n\n" + m_doc->m_strSaveFolder +
                                       L"\nNo such file or directory");
        EXPECT_EQ(m_boxes[0].caption, L"Error");
        EXPECT_EQ(m_boxes[0].icon, MbIcon::Error);
        EXPECT_TRUE(m_view.m_hints.empty());
        EXPECT_TRUE(m_dir.Entries().empty());
        for (unsigned id : {ID_SAVE_NMEA, ID_SAVE_KML})
            EXPECT_TRUE(UpdateOf(*m_doc, id).m_bEnabled);
        // A line handed over now goes nowhere.
        Receive(kGga, Fix(3, 121.5654f, 25.033f, 100.5f));
    }
    m_doc.reset();
    EXPECT_TRUE(m_dir.Entries().empty());
    EXPECT_EQ(m_boxes.size(), 1u);
}

TEST_F(Recording, EmptyFolderIsRefusedRatherThanWritingIntoTheRoot)
{
    for (int kind : {RecordNmea, RecordKml})
    {
        m_boxes.clear();
        m_doc->m_nRecordKind = kind;
        m_doc->m_strSaveFolder.clear();
        m_doc->SetRecording(true);
        EXPECT_EQ(m_doc->m_bRecording, 0);
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_EQ(m_boxes[0].text, L"Please check path or file name.");
    }
    EXPECT_FALSE(std::filesystem::exists("/20100307-090503.txt"));
    EXPECT_FALSE(std::filesystem::exists("/20100307-090503.kml"));
}

TEST_F(Recording, SaveEntriesAreDisabledWhileRecordingAndShowTheRunningKind)
{
    const unsigned ids[] = {ID_SAVE_NMEA, ID_SAVE_KML, ID_SAVE_GPX};
    struct Row
    {
        unsigned choose;
        const char* extension;
    };
    for (const Row& row : {Row{ID_SAVE_NMEA, ".txt"}, Row{ID_SAVE_KML, ".kml"}, Row{ID_SAVE_GPX, ".gpx"}})
    {
        SCOPED_TRACE(row.choose);
        EXPECT_TRUE(m_doc->OnCommand(row.choose));
        // One radio group: only the chosen entry is checked.
        for (unsigned id : ids)
        {
            EXPECT_EQ(UpdateOf(*m_doc, id).m_bChecked, id == row.choose) << id;
            EXPECT_TRUE(UpdateOf(*m_doc, id).m_bEnabled) << id;
        }

        m_doc->SetRecording(true);
        ASSERT_EQ(m_doc->m_bRecording, 1);
        for (unsigned id : ids)
        {
            EXPECT_FALSE(UpdateOf(*m_doc, id).m_bEnabled);
            EXPECT_EQ(UpdateOf(*m_doc, id).m_bChecked, id == row.choose) << id;
        }

        // Even sent directly, a Save command cannot switch the kind under a running recording.
        for (unsigned id : ids)
            m_doc->OnCommand(id);
        EXPECT_TRUE(UpdateOf(*m_doc, row.choose).m_bChecked);

        m_doc->SetRecording(false);
        EXPECT_TRUE(UpdateOf(*m_doc, ID_SAVE_KML).m_bEnabled);
        EXPECT_TRUE(std::filesystem::exists(m_dir.Path() / (Stamp(m_doc->m_now) + row.extension)));
        ++m_doc->m_now;
    }
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(Recording, GpxRecordingTakesOnePointPerFixedCycleAndIsCompleteAtEveryStep)
{
    m_doc->OnCommand(ID_SAVE_GPX);
    // The state from before the start gives the fix mode and date until sentences bring them.
    GpsData before = Fix(3, 0.0f, 0.0f, 0.0f);
    before.year = 1994;
    before.month = 3;
    before.day = 23;
    m_doc->m_gps = before;
    m_doc->SetRecording(true);
    ASSERT_EQ(m_doc->m_bRecording, 1);
    const auto path = m_dir.Path() / "20100307-090503.gpx";
    const std::string empty = ReadFile(path);
    EXPECT_TRUE(empty.ends_with("<trkseg>\n    </trkseg>\n  </trk>\n</gpx>\n")) << empty;

    // Two sentences of one cycle: its point is written once the next cycle's time arrives.
    Receive(kGga);
    Receive(kRmc);
    WaitForTheWriter();
    EXPECT_EQ(ReadFile(path), empty);
    const std::string next = "$GPGGA,123520,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*4D\r\n";
    Receive(next);
    WaitForTheWriter();
    const std::string one = ReadFile(path);
    // 48 degrees 7.038 minutes north, 11 degrees 31 minutes east; the RMC's two-digit year 94 counts from 2000, as the record keeps it.
    EXPECT_NE(one.find("<trkpt lat=\"48.1173\" lon=\"11.516666667\">"), std::string::npos) << one;
    EXPECT_NE(one.find("<time>2094-03-23T12:35:19Z</time>"), std::string::npos) << one;
    EXPECT_EQ(one.find("<trkpt", one.find("<trkpt") + 1), std::string::npos);

    // Stopping writes the cycle under way.
    m_doc->SetRecording(false);
    const std::string done = ReadFile(path);
    EXPECT_NE(done.find("<time>2094-03-23T12:35:20Z</time>"), std::string::npos) << done;
    EXPECT_EQ(m_doc->m_pRecorder, nullptr);
    EXPECT_TRUE(m_boxes.empty());
    if (HaveTool("xmllint"))
    {
        const ToolResult valid = ValidateGpx(path);
        EXPECT_EQ(valid.status, 0) << valid.output;
    }
}

TEST_F(Recording, MissingDefaultFolderIsCreatedButNoOtherFolderIs)
{
    struct Row
    {
        const char* what;
        std::filesystem::path folder;
        bool isDefault;
        bool starts;
        const wchar_t* reason;
    };
    std::ofstream(m_dir.Path() / "a file") << "x";
    const Row rows[] = {
        {"default folder of a fresh account", m_dir.Path() / "home" / "Documents", true, true, nullptr},
        {"a chosen folder that is gone", m_dir.Path() / "gone", false, false, L"No such file or directory"},
        {"a file in the folder's place", m_dir.Path() / "a file", false, false, L"Not a directory"},
        {"the default, but a file is in the way", m_dir.Path() / "a file" / "Documents", true, false,
         L"Not a directory"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        m_boxes.clear();
        m_doc->m_strSaveFolder = Wide(row.folder);
        m_doc->m_strDefaultFolder = row.isDefault ? Wide(row.folder) : Wide(m_dir.Path() / "elsewhere");
        m_doc->SetRecording(true);
        EXPECT_EQ(m_doc->m_bRecording, row.starts ? 1 : 0);
        m_doc->SetRecording(false);
        if (row.starts)
        {
            EXPECT_TRUE(m_boxes.empty());
            EXPECT_TRUE(std::filesystem::exists(row.folder / "20100307-090503.txt"));
        }
        else
        {
            ASSERT_EQ(m_boxes.size(), 1u);
            EXPECT_EQ(m_boxes[0].text, L"Please check path or file name.\n\n" + Wide(row.folder) + L"\n" + row.reason);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "gone"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "elsewhere"));
}

TEST_F(Recording, FolderWithoutWritePermissionSaysSo)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    const auto folder = m_dir.Path() / "locked";
    std::filesystem::create_directory(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    m_doc->m_strSaveFolder = Wide(folder);
    m_doc->SetRecording(true);
    EXPECT_EQ(m_doc->m_bRecording, 0);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, L"Please check path or file name.\n\n" + Wide(folder) + L"\nPermission denied");
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
}

TEST_F(Recording, RestartEntriesFollowTheConnection)
{
    for (int connected : {0, 1})
    {
        m_doc->m_bConnected = connected;
        for (unsigned id : {ID_HOT_START, ID_WARM_START, ID_COLD_START})
        {
            const CCmdUI ui = UpdateOf(*m_doc, id);
            EXPECT_EQ(ui.m_bEnabled, connected == 1);
            EXPECT_FALSE(ui.m_bChecked);
            // The frame carries them out.
            EXPECT_FALSE(m_doc->OnCommand(id));
        }
    }
    CCmdUI other(57664);
    EXPECT_FALSE(m_doc->OnUpdateCommand(other));
}

TEST_F(Recording, KmlTrackTakesOnePointPerFixEpochWithTheValuesItEndedWith)
{
    // The second 0 is under way when the recording starts: its first lines came before, so it
    // is not taken.
    Receive(kGga, Fix(3, 7.0f, 8.0f, 9.0f, 0));
    m_doc->OnCommand(ID_SAVE_KML);
    m_doc->SetRecording(true);
    ASSERT_EQ(m_doc->m_bRecording, 1);
    // The file is a complete track from the start, and after every point.
    EXPECT_EQ(ReadFile(KmlPath()), ExpectedKml({}));
    Receive(kRmc, Fix(3, 7.0f, 8.0f, 9.0f, 0));
    // The second 1 moves while its sentences come: its point is where it ended, once, written
    // when the next second begins.
    Receive(kGga, Fix(3, 121.5654f, 25.033f, 100.5f, 1));
    Receive(kRmc, Fix(3, 121.5f, 25.25f, 101.0f, 1));
    WaitForTheWriter();
    EXPECT_EQ(ReadFile(KmlPath()), ExpectedKml({}));
    Receive(kGga, Fix(1, 1.0f, 2.0f, 3.0f, 2)); // fix lost: no point for second 2
    WaitForTheWriter();
    EXPECT_EQ(ReadFile(KmlPath()), ExpectedKml({"121.5,25.25,101"}));
    Receive(kGga, Fix(2, -58.5f, -34.25f, 12.0f, 3));
    WaitForTheWriter();
    EXPECT_EQ(ReadFile(KmlPath()), ExpectedKml({"121.5,25.25,101"}));
    GpsData noPosition = Fix(3, 5.0f, 6.0f, 7.0f, 4);
    noPosition.decode.known = 0;
    Receive(kGga, noPosition); // a fix no sentence placed yet: no point at 0,0
    // Stopping writes the epoch under way.
    Receive(kGga, Fix(3, 10.0f, 20.0f, 30.0f, 5));
    m_doc->SetRecording(false);

    EXPECT_EQ(ReadFile(KmlPath()), ExpectedKml({"121.5,25.25,101", "-58.5,-34.25,12", "10,20,30"}));
    EXPECT_EQ(m_doc->m_pRecorder, nullptr);
    EXPECT_EQ(m_view.m_hints, (std::vector<Hint>{{HINT_RECORDING_CHANGED, 1}, {HINT_RECORDING_CHANGED, 0}}));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(Recording, HistoryIsKeptWithoutARecordingOrAViewThatShowsIt)
{
    // Two lines a second for three seconds, the position moving within each.
    for (int second = 1; second <= 3; ++second)
    {
        for (float step : {0.0f, 0.5f})
        {
            GpsData gps = Fix(3, 11.0f, 48.0f + static_cast<float>(second) + step, 500.0f, second);
            gps.decode.known |= kKnownTime;
            Receive(kGga, gps);
        }
    }
    m_doc->MarkRestart(HistoryEventKind::WarmStart);

    const History& history = m_doc->m_history;
    EXPECT_EQ(history.Samples().Size(), 3u);
    // An epoch's position is where it ended; the one under way joins when it ends.
    const std::vector<GeoPoint> fixes = history.FixPositions();
    ASSERT_EQ(fixes.size(), 2u);
    EXPECT_EQ(fixes[0].latitude, 49.5);
    EXPECT_EQ(fixes[1].latitude, 50.5);
    ASSERT_EQ(history.Events().Size(), 1u);
    EXPECT_EQ(history.Events().Back().kind, HistoryEventKind::WarmStart);
    EXPECT_EQ(history.Events().Back().t, history.Now());
}

TEST_F(Recording, KmlRecordingWithoutAFixGivesAnEmptyCoordinatesElement)
{
    m_doc->OnCommand(ID_SAVE_KML);
    m_doc->SetRecording(true);
    for (const std::string& line : CaptureLines("holux-gm-210.nmea"))
        Receive(line, Fix(1, 121.5654f, 25.033f, 100.5f));
    m_doc->SetRecording(false);
    EXPECT_EQ(ReadFile(KmlPath()), ExpectedKml({}));
}

TEST_F(Recording, DestroyingTheDocumentCompletesARunningNmeaRecording)
{
    m_doc->SetRecording(true);
    Receive(kGga);
    Receive(kRmc);
    m_doc.reset();

    EXPECT_EQ(ReadFile(NmeaPath()), kGga + kRmc);
    // Closed: another program can take the file now.
    const int fd = ::open(NmeaPath().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(Recording, DestroyingTheDocumentWritesOutARunningKmlTrack)
{
    m_doc->OnCommand(ID_SAVE_KML);
    m_doc->SetRecording(true);
    Receive(kGga, Fix(3, 121.5654f, 25.033f, 100.5f, 1));
    m_doc.reset();
    EXPECT_EQ(ReadFile(KmlPath()), ExpectedKml({"121.565399169922,25.0330009460449,100.5"}));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(Recording, NamesThatExistAlreadyGetANumberAndAreNeverTruncated)
{
    struct Row
    {
        const char* what;
        const char* tz;
        std::time_t first;
        std::time_t second;
        const char* firstName;
        const char* secondName;
    };
    // 30 October 2022, 01:30 local time in Berlin, once in summer time and an hour later again.
    const Row rows[] = {
        {"two starts in one second", "UTC0", kMarch2010, kMarch2010, "20100307-090503", "20100307-090503-1"},
        {"the repeated hour of a clock change", "CET-1CEST,M3.5.0,M10.5.0/3", 1667089800, 1667093400,
         "20221030-023000", "20221030-023000-1"},
        {"different seconds", "UTC0", kMarch2010, kMarch2010 + 1, "20100307-090503", "20100307-090504"},
    };
    for (int kind : {RecordNmea, RecordKml, RecordGpx})
        for (const Row& row : rows)
        {
            SCOPED_TRACE(std::string(row.what) + " kind " + std::to_string(kind));
            TempFolder dir;
            SetTimeZone(row.tz);
            m_doc->m_strSaveFolder = Wide(dir.Path());
            m_doc->m_nRecordKind = kind;
            const std::string ext = kind == RecordNmea ? ".txt" : kind == RecordKml ? ".kml" : ".gpx";
            m_doc->m_now = row.first;
            m_doc->SetRecording(true);
            Receive(kGga, Fix(3, 1.0f, 2.0f, 3.0f));
            m_doc->SetRecording(false);
            const std::string first = ReadFile(dir.Path() / (std::string(row.firstName) + ext));
            ASSERT_FALSE(first.empty());

            m_doc->m_now = row.second;
            m_doc->SetRecording(true);
            Receive(kRmc);
            m_doc->SetRecording(false);
            EXPECT_EQ(ReadFile(dir.Path() / (std::string(row.firstName) + ext)), first);
            EXPECT_TRUE(std::filesystem::exists(dir.Path() / (std::string(row.secondName) + ext)));
            EXPECT_EQ(dir.Entries().size(), 2u);
        }
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(Recording, FreeNameSearchCreatesTheFileAndStopsAtAnyOtherError)
{
    for (const char* taken : {"20100307-090503.txt", "20100307-090503-1.txt", "20100307-090503-2.txt"})
        std::ofstream(m_dir.Path() / taken) << taken;
    // A dangling link counts as taken: opening through it would write elsewhere.
    std::filesystem::create_symlink(m_dir.Path() / "nowhere", m_dir.Path() / "20100307-090503.gpx");
    struct Row
    {
        const char* what;
        int kind;
        int failWith;   // errno the open returns for names not yet tried, 0 for none
        int failTimes;  // how many opens fail so
        const char* name; // made, or empty when the start fails
        const wchar_t* reason;
    };
    const Row rows[] = {
        {"past every taken name", RecordNmea, 0, 0, "20100307-090503-3.txt", nullptr},
        {"another kind's name is no collision", RecordKml, 0, 0, "20100307-090503.kml", nullptr},
        {"past a dangling link", RecordGpx, 0, 0, "20100307-090503-1.gpx", nullptr},
        // A network share that fails to answer: said at once, no endless search.
        {"I/O error", RecordNmea, EIO, 1000, "", L"Input/output error"},
        {"stale file handle", RecordKml, ESTALE, 1000, "", L"Stale file handle"},
        // Names taken by another program between tries: the search moves on, within its bound.
        {"a hundred names taken", RecordKml, EEXIST, 1000, "", L"File exists"},
        {"taken twice, then free", RecordKml, EEXIST, 2, "20100307-090503-2.kml", nullptr},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        m_boxes.clear();
        int opens = 0;
        m_doc->m_calls.open = [&row, &opens](const char* path, int flags, mode_t mode) {
            if (++opens <= row.failTimes)
            {
                errno = row.failWith;
                return -1;
            }
            return ::open(path, flags, mode);
        };
        m_doc->m_nRecordKind = row.kind;
        m_doc->SetRecording(true);
        EXPECT_EQ(m_doc->m_bRecording, *row.name ? 1 : 0);
        if (*row.name)
        {
            EXPECT_EQ(m_doc->m_pRecorder->Path(), Wide(m_dir.Path() / row.name));
            EXPECT_TRUE(m_boxes.empty());
        }
        else
        {
            EXPECT_LE(opens, COrvaneDoc::kMaxNameTries);
            ASSERT_EQ(m_boxes.size(), 1u);
            EXPECT_EQ(m_boxes[0].text.rfind(L"Please check path or file name.", 0), 0u);
            EXPECT_NE(m_boxes[0].text.find(row.reason), std::wstring::npos) << ToUtf8(m_boxes[0].text);
        }
        m_doc->SetRecording(false);
        if (*row.name)
            std::filesystem::remove(m_dir.Path() / row.name);
    }
    m_doc->m_calls.open = nullptr;
    // Taken files keep what they held.
    EXPECT_EQ(ReadFile(m_dir.Path() / "20100307-090503-1.txt"), "20100307-090503-1.txt");
}

TEST_F(Recording, SecondStartWhileRecordingKeepsTheRunningTrack)
{
    m_doc->OnCommand(ID_SAVE_KML);
    m_doc->SetRecording(true);
    Receive(kGga, Fix(3, 10.0f, 20.0f, 30.0f, 1));
    m_doc->m_now += 1;
    m_doc->SetRecording(true);
    EXPECT_EQ(m_doc->m_bRecording, 1);
    EXPECT_EQ(ReadFile(KmlPath()), ExpectedKml({"10,20,30"}));
    m_doc->SetRecording(false);
    EXPECT_EQ(ReadFile(m_dir.Path() / "20100307-090504.kml"), ExpectedKml({}));
}

TEST_F(Recording, DiskFullingUpStopsTheRecordingAndKeepsTheEarlierLines)
{
    // Room for two lines and part of a third.
    m_doc->m_calls.write = FillingDisk{kGga.size() + kRmc.size() + 20};
    m_doc->SetRecording(true);
    ASSERT_EQ(m_doc->m_bRecording, 1);
    Receive(kGga);
    Receive(kRmc);
    EXPECT_TRUE(m_boxes.empty());
    Receive(kGga);
    // The writer meets the full disk on its own thread; the next line handed over learns of it.
    WaitForTheWriter();
    EXPECT_EQ(m_doc->m_bRecording, 1);
    Receive(kRmc);

    EXPECT_EQ(m_doc->m_bRecording, 0);
    EXPECT_EQ(m_doc->m_pRecorder, nullptr);
    EXPECT_EQ(m_view.m_hints, (std::vector<Hint>{{HINT_RECORDING_CHANGED, 1}, {HINT_RECORDING_CHANGED, 0}}));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].caption, L"Error");
    EXPECT_EQ(m_boxes[0].icon, MbIcon::Error);
    EXPECT_EQ(m_boxes[0].text,
              L"The recording was stopped because its file could not be written:\n" + Wide(NmeaPath()) +
                  L"\nNo space left on device");

    // Later lines go nowhere, and the file holds the whole lines written before the failure.
    Receive(kRmc);
    EXPECT_EQ(ReadFile(NmeaPath()), kGga + kRmc);
    EXPECT_EQ(m_boxes.size(), 1u);
    for (unsigned id : {ID_SAVE_NMEA, ID_SAVE_KML})
        EXPECT_TRUE(UpdateOf(*m_doc, id).m_bEnabled);

    // The user can start again once there is room.
    m_doc->m_calls.write = nullptr;
    m_doc->m_now += 60;
    m_doc->SetRecording(true);
    EXPECT_EQ(m_doc->m_bRecording, 1);
}

TEST_F(Recording, SyncOfAQuietRecordingSyncsWhatIsLeftAndAFailedOneStopsIt)
{
    for (int kind : {RecordNmea, RecordKml, RecordGpx})
    {
        SCOPED_TRACE(kind);
        m_boxes.clear();
        int syncs = 0;
        int failWith = 0;
        m_doc->m_calls.sync = [&](int fd) {
            ++syncs;
            if (failWith != 0)
            {
                errno = failWith;
                return -1;
            }
            return ::fdatasync(fd);
        };
        m_doc->m_nRecordKind = kind;
        m_doc->m_now += 1;
        m_doc->SetRecording(true);
        ASSERT_EQ(m_doc->m_bRecording, 1);
        // The track's empty document is synced as it is made; a quiet stream adds nothing.
        const int atStart = syncs;
        m_doc->SyncRecording();
        WaitForTheWriter();
        EXPECT_EQ(syncs, atStart);
        Receive(kGga, Fix(3, 1.0f, 2.0f, 3.0f, 1));
        Receive(kGga, Fix(3, 1.0f, 2.0f, 3.0f, 2));
        // Written within the second, so not yet synced by the write itself.
        m_doc->SyncRecording();
        WaitForTheWriter();
        EXPECT_EQ(syncs, atStart + 1);
        m_doc->SyncRecording();
        WaitForTheWriter();
        EXPECT_EQ(syncs, atStart + 1);

        Receive(kGga, Fix(3, 1.0f, 2.0f, 3.0f, 3));
        WaitForTheWriter();
        failWith = EIO;
        m_doc->SyncRecording();
        WaitForTheWriter();
        // The writer's sync failed; the next second's call tells it.
        EXPECT_TRUE(m_boxes.empty());
        m_doc->SyncRecording();
        EXPECT_EQ(m_doc->m_bRecording, 0);
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_NE(m_boxes[0].text.find(L"could not be written"), std::wstring::npos);
        EXPECT_NE(m_boxes[0].text.find(L"Input/output error"), std::wstring::npos);
    }
    m_doc->m_calls.sync = nullptr;
}

TEST_F(Recording, DevicesAndLinksInTheFilesPlaceAreRefused)
{
    for (int kind : {RecordNmea, RecordKml, RecordGpx})
    {
        SCOPED_TRACE(kind);
        TempFolder dir;
        m_boxes.clear();
        m_doc->m_strSaveFolder = Wide(dir.Path());
        m_doc->m_nRecordKind = kind;
        const char* ext = kind == RecordNmea ? ".txt" : kind == RecordKml ? ".kml" : ".gpx";
        // Only a race puts one there after the name was chosen; the open still refuses it.
        std::filesystem::create_symlink("/dev/full", dir.Path() / (std::string("20100307-090503") + ext));
        m_doc->SetRecording(true);
        EXPECT_EQ(m_doc->m_bRecording, 1);
        m_doc->SetRecording(false);
        EXPECT_TRUE(std::filesystem::is_symlink(dir.Path() / (std::string("20100307-090503") + ext)));
        EXPECT_TRUE(std::filesystem::is_regular_file(dir.Path() / (std::string("20100307-090503-1") + ext)));
        EXPECT_TRUE(m_boxes.empty());
    }
}

namespace
{
// A tmpfs of a few pages, mounted for the test's life: a disk that really fills up.
class SmallDisk
{
public:
    explicit SmallDisk(const std::filesystem::path& at) : m_path(at)
    {
        std::filesystem::create_directory(at);
        m_bMounted = ::geteuid() == 0 && RunProgram({"mount", "-t", "tmpfs", "-o", "size=16k", "tmpfs", at.string()}).status == 0;
    }
    ~SmallDisk()
    {
        if (m_bMounted)
            RunProgram({"umount", m_path.string()});
    }
    bool Mounted() const { return m_bMounted; }

private:
    std::filesystem::path m_path;
    bool m_bMounted = false;
};

std::vector<std::string> KmlPointsOf(const std::string& text)
{
    std::vector<std::string> points;
    std::istringstream lines(text);
    std::string line;
    bool inside = false;
    while (std::getline(lines, line))
    {
        if (line == "          </coordinates>")
            inside = false;
        if (inside)
            points.push_back(line.substr(12));
        if (line == "          <coordinates>")
            inside = true;
    }
    return points;
}
} // namespace

TEST_F(Recording, ADiskThatFillsUpLeavesAWholeFileOfEveryKind)
{
    SmallDisk disk(m_dir.Path() / "small");
    if (!disk.Mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    for (int kind : {RecordNmea, RecordKml, RecordGpx})
    {
        SCOPED_TRACE(kind);
        m_boxes.clear();
        m_doc->m_strSaveFolder = Wide(m_dir.Path() / "small");
        m_doc->m_nRecordKind = kind;
        m_doc->m_now += 1;
        m_doc->m_gps = Fix(3, 121.5654f, 25.033f, 100.5f);
        m_doc->m_gps.year = 2010;
        m_doc->m_gps.month = m_doc->m_gps.day = 1;
        m_doc->SetRecording(true);
        ASSERT_EQ(m_doc->m_bRecording, 1);
        int cycle = 0;
        for (; cycle < 20000 && m_doc->m_bRecording; ++cycle)
        {
            char body[96];
            std::snprintf(body, sizeof body, "GPGGA,%02d%02d%02d,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
                          cycle / 3600 % 24, cycle / 60 % 60, cycle % 60);
            char sum[8];
            std::snprintf(sum, sizeof sum, "*%02X\r\n", ComputeChecksum(body));
            Receive(std::string("$") + body + sum);
        }
        ASSERT_EQ(m_doc->m_bRecording, 0) << "the disk never filled up";
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_NE(m_boxes[0].text.find(L"No space left on device"), std::wstring::npos);

        std::filesystem::path file;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path() / "small"))
            file = entry.path();
        const std::string text = ReadFile(file);
        ASSERT_FALSE(text.empty());
        if (kind == RecordNmea)
        {
            for (const std::string& line : DataLines(text))
                EXPECT_TRUE(IsChecksumValid(line)) << line;
        }
        else if (kind == RecordKml)
        {
            EXPECT_GT(KmlPointsOf(text).size(), 10u);
            // Compared whole, not printed: the track is long.
            EXPECT_TRUE(text == ExpectedKml(KmlPointsOf(text))) << text.substr(text.size() - 200);
        }
        else
        {
            EXPECT_TRUE(text.ends_with("</trkpt>\n    </trkseg>\n  </trk>\n</gpx>\n"));
            if (HaveTool("xmllint"))
            {
                const ToolResult valid = ValidateGpx(file);
                EXPECT_EQ(valid.status, 0) << valid.output;
            }
        }
        std::filesystem::remove(file);
    }
}

namespace
{
// A gate the test opens: the calls of a medium that hangs wait at it.
class Gate
{
public:
    void Wait() const { m_opened.wait(); }
    void Open() { m_open.set_value(); }

private:
    std::promise<void> m_open;
    std::shared_future<void> m_opened = m_open.get_future().share();
};

// A numbered GGA, so that a file shows which lines it holds and in what order.
std::string NumberedLine(int n)
{
    char body[96];
    std::snprintf(body, sizeof body, "GPGGA,%02d%02d%02d,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", n / 3600 % 24,
                  n / 60 % 60, n % 60);
    char sum[8];
    std::snprintf(sum, sizeof sum, "*%02X\r\n", ComputeChecksum(body));
    return std::string("$") + body + sum;
}
} // namespace

TEST_F(Recording, AMediumWhoseSyncHangsNeverHoldsTheWindow)
{
    for (int kind : {RecordNmea, RecordKml})
    {
        SCOPED_TRACE(kind);
        Gate gate;
        std::atomic<bool> hang{false};
        std::atomic<bool> inSync{false};
        std::binary_semaphore entered{0};
        m_doc->m_calls.sync = [&](int fd) {
            if (hang)
            {
                inSync = true;
                entered.release();
                gate.Wait();
                inSync = false;
            }
            return ::fdatasync(fd);
        };
        m_doc->m_nRecordKind = kind;
        m_doc->m_now += 1;
        m_doc->SetRecording(true);
        ASSERT_EQ(m_doc->m_bRecording, 1);
        hang = true;
        std::vector<std::string> lines;
        for (int n = 0; n < 100; ++n)
            lines.push_back(NumberedLine(n));
        // A track has a point to sync once the next second begins.
        Receive(lines[0], Fix(3, 1.0f, 2.0f, 3.0f, 1));
        Receive(lines[1], Fix(3, 1.0f, 2.0f, 3.0f, 2));
        m_doc->SyncRecording();
        entered.acquire();

        // The writer is held in the sync; the frame's calls go on and return all the same.
        for (int n = 2; n < 100; ++n)
        {
            Receive(lines[n], Fix(3, 1.0f, 2.0f, 3.0f, n + 1));
            if (n % 10 == 0)
                m_doc->SyncRecording();
        }
        EXPECT_TRUE(inSync);
        EXPECT_EQ(m_doc->m_bRecording, 1);
        EXPECT_TRUE(m_boxes.empty());

        hang = false;
        gate.Open();
        m_doc->SetRecording(false);
        EXPECT_TRUE(m_boxes.empty());
        if (kind == RecordNmea)
        {
            std::string expected;
            for (const std::string& line : lines)
                expected += line;
            EXPECT_EQ(ReadFile(m_dir.Path() / (Stamp(m_doc->m_now) + ".txt")), expected);
        }
        else
        {
            EXPECT_EQ(KmlPointsOf(ReadFile(m_dir.Path() / (Stamp(m_doc->m_now) + ".kml"))).size(), 100u);
        }
    }
}

TEST_F(Recording, AWriterStuckOnTheMediumStopsTheRecordingWithoutHoldingTheWindowOrLosingALine)
{
    Gate gate;
    std::atomic<bool> hang{false};
    m_doc->m_calls.write = [&](int fd, const void* data, size_t size) {
        if (hang)
            gate.Wait();
        return ::write(fd, data, size);
    };
    m_doc->SetRecording(true);
    ASSERT_EQ(m_doc->m_bRecording, 1);
    const std::wstring path = m_doc->m_pRecorder->Path();
    hang = true;

    // The first line holds the writer; the queue takes the next until it is full.
    std::string accepted;
    const int bound = 2 * static_cast<int>(QueuedRecorder::kDefaultCapacity) + 2;
    int n = 0;
    for (; n < bound && m_doc->m_bRecording; ++n)
    {
        const std::string line = NumberedLine(n);
        Receive(line);
        if (m_doc->m_bRecording)
            accepted += line;
    }
    ASSERT_EQ(m_doc->m_bRecording, 0);
    EXPECT_GT(n, static_cast<int>(QueuedRecorder::kDefaultCapacity));
    EXPECT_EQ(m_doc->m_pRecorder, nullptr);
    EXPECT_EQ(m_view.m_hints, (std::vector<Hint>{{HINT_RECORDING_CHANGED, 1}, {HINT_RECORDING_CHANGED, 0}}));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, L"The recording was stopped because its file could not be written:\n" + path +
                                   L"\nThe disk did not keep up with the receiver");

    // The window goes on while that writer waits: its calls return, and a new recording runs.
    Receive(NumberedLine(n));
    m_doc->SyncRecording();
    hang = false;
    m_doc->m_now += 1;
    m_doc->SetRecording(true);
    EXPECT_EQ(m_doc->m_bRecording, 1);
    m_doc->SetRecording(false);
    EXPECT_EQ(m_boxes.size(), 1u);

    // The medium answers again: what was accepted reaches the file, whole and in order.
    gate.Open();
    m_doc.reset();
    EXPECT_EQ(ReadFile(std::filesystem::path(ToUtf8(path))), accepted);
    EXPECT_EQ(m_boxes.size(), 1u);
}

TEST_F(Recording, AnErrorInABatchIsShownAfterItAndEachLineReachesTheHistoryOnce)
{
    // The frame's batch: a nested update refills it, and a larger batch frees the old elements.
    std::vector<ReceivedLine> batch;
    const auto fill = [&batch](int first) {
        std::vector<ReceivedLine> lines;
        for (int i = first; i < first + 50; ++i)
        {
            GpsData gps = Fix(3, 11.0f, 1.0f + static_cast<float>(i), 500.0f, i % 60);
            gps.minute = i / 60;
            gps.decode.known |= kKnownTime;
            // A second of its own: each line begins an epoch.
            lines.push_back({NumberedLine(i), gps, {}, EpochMarks{.began = true}});
        }
        batch = std::move(lines);
    };
    int boxes = 0;
    SetMessageBoxHandler([&](const std::wstring& text, const std::wstring& caption, MbIcon icon) {
        m_boxes.push_back({text, caption, icon});
        // While the box is open its event loop delivers the next update, as the frame's would.
        if (boxes++ == 0)
        {
            fill(100);
            m_doc->OnReceived(batch);
            m_doc->ShowQueuedErrors();
        }
    });

    std::atomic<bool> failing{false};
    m_doc->m_calls.sync = [&failing](int fd) {
        if (failing)
        {
            errno = EIO;
            return -1;
        }
        return ::fdatasync(fd);
    };
    m_doc->SetRecording(true);
    ASSERT_EQ(m_doc->m_bRecording, 1);
    fill(0);
    // The medium fails before the batch, so the batch's first line is the one refused.
    Receive(batch[0].text, batch[0].gps);
    // Handed again with the batch, inside the epoch it began.
    batch[0].epoch = {};
    WaitForTheWriter();
    failing = true;
    m_doc->SyncRecording();
    WaitForTheWriter();
    ASSERT_EQ(m_doc->m_bRecording, 1);

    m_doc->OnReceived(batch);
    EXPECT_EQ(m_doc->m_bRecording, 0);
    EXPECT_TRUE(m_boxes.empty());
    m_doc->ShowQueuedErrors();
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_NE(m_boxes[0].text.find(L"Input/output error"), std::wstring::npos);

    // Each epoch's position once, in the order received; the last one is still under way.
    std::vector<double> latitudes;
    for (const GeoPoint& fix : m_doc->m_history.FixPositions())
        latitudes.push_back(fix.latitude);
    std::vector<double> expected;
    for (int i : {0, 100})
        for (int n = i; n < i + 50; ++n)
            expected.push_back(1.0 + n);
    expected.pop_back();
    EXPECT_EQ(latitudes, expected);
    m_doc->ShowQueuedErrors();
    m_doc->SyncRecording();
    EXPECT_EQ(m_boxes.size(), 1u);
}
