// Sentences travel from the receiver's side of a pseudo-terminal through the device's reader
// thread and line queue, and are handed to the document the way the frame does it.
#include "recording/OrvaneDoc.h"

#include "framework/core/MessageBox.h"
#include "device/GPSDevice.h"
#include "gps/NmeaFraming.h"
#include "recording/RecordingFixtures.h"
#include "support/PseudoTerminal.h"
#include "support/Counter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace
{
// What the frame does on each update: the device's lines, each with its record, to the document.
void DrainIntoDocument(CGPSDevice& device, COrvaneDoc& doc)
{
    std::vector<ReceivedLine> batch;
    device.PopLines(batch);
    doc.OnReceived(batch);
}

// Flips one digit of the payload so the checksum no longer holds; empty if there is none.
std::string Damaged(std::string line)
{
    const std::size_t star = line.find('*');
    const std::size_t digit = line.find_first_of("0123456789", 7);
    if (digit == std::string::npos || digit >= star)
        return {};
    line[digit] = line[digit] == '9' ? '0' : static_cast<char>(line[digit] + 1);
    return line;
}

struct Streamed
{
    std::string expected;
    std::vector<std::string> damaged;
    std::string file;
};

Streamed StreamCapture(const char* capture, int kind)
{
    Streamed result;
    TempFolder dir;
    std::vector<std::wstring> boxes;
    MessageBoxHandler previous = SetMessageBoxHandler([&](const std::wstring& text, const std::wstring&, MbIcon) {
        boxes.push_back(text);
    });

    std::string bytes;
    int lineCount = 0;
    const std::vector<std::string> lines = CaptureLines(capture);
    for (std::size_t i = 0; i < lines.size(); ++i)
    {
        // A last line without its LF would never be handed on.
        if (!lines[i].ends_with('\n'))
            break;
        bytes += lines[i];
        ++lineCount;
        if (IsChecksumValid(lines[i]))
            result.expected += lines[i];
        if (i % 10 == 3 && IsChecksumValid(lines[i]))
        {
            const std::string damaged = Damaged(lines[i]);
            if (damaged.empty())
                continue;
            result.damaged.push_back(damaged);
            bytes += damaged;
            ++lineCount;
        }
    }

    PseudoTerminal pty;
    EXPECT_TRUE(pty.IsValid());
    Counter notifications;
    CGPSDevice device;
    boost::signals2::scoped_connection connection = device.ConnectNotification([&](int) { notifications.Raise(); });
    EXPECT_TRUE(device.OpenPort(pty.SlavePortName(), 115200));

    {
        COrvaneDoc doc;
        doc.m_strSaveFolder = dir.Path().wstring();
        doc.m_nRecordKind = kind;
        doc.SetRecording(true);
        EXPECT_EQ(doc.m_bRecording, 1);

        // Pieces of varying size, drained as they come.
        for (std::size_t at = 0, piece = 1; at < bytes.size(); at += piece)
        {
            piece = 1 + (at * 7 + 13) % 300;
            EXPECT_TRUE(pty.Write(std::string_view(bytes).substr(at, piece)));
            DrainIntoDocument(device, doc);
        }
        EXPECT_TRUE(notifications.WaitFor(lineCount, std::chrono::seconds(30)));
        device.Close();
        DrainIntoDocument(device, doc);
        doc.SetRecording(false);
    }
    const std::vector<std::filesystem::path> files = dir.Entries();
    EXPECT_EQ(files.size(), 1u);
    if (!files.empty())
        result.file = ReadFile(files[0]);
    EXPECT_TRUE(boxes.empty());
    SetMessageBoxHandler(std::move(previous));
    return result;
}
} // namespace

TEST(RecordingThroughDevice, NmeaLogHoldsEveryValidSentenceAndNoDamagedOne)
{
    for (const char* capture : {"haicom-305N.nmea", "sirfstarv-nmea.nmea", "ublox-lea-5h.nmea"})
    {
        SCOPED_TRACE(capture);
        const Streamed streamed = StreamCapture(capture, RecordNmea);
        ASSERT_FALSE(streamed.damaged.empty());
        EXPECT_EQ(streamed.file, streamed.expected);
        for (const std::string& damaged : streamed.damaged)
            EXPECT_EQ(streamed.file.find(damaged), std::string::npos) << damaged;
    }
}

TEST(RecordingThroughDevice, KmlTrackOfAMovingReceiverIsWrittenWhole)
{
    const Streamed streamed = StreamCapture("haicom-305N.nmea", RecordKml);
    EXPECT_EQ(streamed.file.rfind("<kml>\n", 0), 0u);
    EXPECT_NE(streamed.file.find("          <coordinates>\n"), std::string::npos);
    EXPECT_TRUE(streamed.file.ends_with("</kml>\n"));
    // The receiver was near 153E 27S.
    EXPECT_NE(streamed.file.find(",-27."), std::string::npos);
}
