// orvane-nmea: decodes an NMEA log with Orvane's decoder. See kUsage.
#include "recording/Recorder.h"
#include "tools/nmea/NmeaEpochs.h"
#include "util/WideText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace
{

const char kUsage[] =
    "Usage: orvane-nmea [--summary] [--kml FILE] [--gpx FILE] [LOG]\n"
    "Decodes an NMEA or raw log (LOG, or standard input when LOG is missing or \"-\"; NMEA,\n"
    "UBX and RTCM3 frames, after gpsd's leading \"#\" comment lines if any) and prints the\n"
    "decoded state once per epoch as one JSON object per line, with gpsd's field names\n"
    "(an epoch of which nothing is known yet prints no line); once the log has said who\n"
    "the receiver is, each line names it in \"receiver\".\n"
    "  --summary    print one JSON object for the whole log instead of the epochs' lines:\n"
    "               epochs, fixes (epochs per mode), ttff (s), cep50 and cep95 (m),\n"
    "               hdop (mean, min, max over the fixes), used_max and in_view_max\n"
    "               (satellites per constellation), and receiver (family, model,\n"
    "               firmware) once the log has said who the receiver is\n"
    "  --kml FILE   also write the log's track to FILE as KML\n"
    "  --gpx FILE   also write the log's track to FILE as GPX 1.1\n";

// Track outputs by option; each records through the recorder the window records with.
struct TrackOption
{
    const char* option;
    RecordKind kind;
};
const TrackOption kTrackOptions[] = {
    {"--kml", RecordKml},
    {"--gpx", RecordGpx},
};

struct Track
{
    std::unique_ptr<Recorder> recorder;
    std::string path;
    bool written = true;
};

int Fail(const std::string& message)
{
    std::fprintf(stderr, "orvane-nmea: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<Track> tracks;
    std::string input;
    bool haveInput = false;
    bool summaryOnly = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
        {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--summary")
        {
            summaryOnly = true;
            continue;
        }
        const TrackOption* track = nullptr;
        for (const TrackOption& option : kTrackOptions)
        {
            if (arg == option.option)
                track = &option;
        }
        if (track)
        {
            if (i + 1 >= argc)
                return Fail(arg + " needs a file name\n" + kUsage);
            tracks.push_back({MakeRecorder(track->kind), argv[++i]});
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-')
            return Fail("unknown option " + arg + "\n" + kUsage);
        if (haveInput)
            return Fail(std::string("only one log at a time\n") + kUsage);
        input = arg;
        haveInput = true;
    }

    std::ifstream file;
    const bool fromStdin = !haveInput || input == "-";
    const std::string name = fromStdin ? std::string("standard input") : input;
    if (!fromStdin)
    {
        std::error_code error;
        if (std::filesystem::is_directory(input, error))
            return Fail("cannot read " + input + ": " + std::strerror(EISDIR));
        file.open(input, std::ios::binary);
        if (!file)
            return Fail("cannot read " + input + ": " + std::strerror(errno));
    }
    std::istream& in = fromStdin ? std::cin : file;

    for (Track& track : tracks)
    {
        if (!track.recorder->Start(FromUtf8(track.path), false, GpsData{}))
            return Fail("cannot create " + track.path);
    }

    FixSummary summary;
    ReceiverRecogniser receiver;
    EpochSplitter splitter(
        [&summary, &receiver, summaryOnly](const GpsData& gps) {
            // An epoch of which nothing is known yet says nothing, and the summary counts the
            // epochs the lines would show.
            const std::string json = EpochJson(gps);
            if (json == "{}")
                return;
            if (summaryOnly)
            {
                summary.Add(gps);
                return;
            }
            std::fputs(WithReceiver(json, receiver.Identity()).c_str(), stdout);
            std::fputc('\n', stdout);
        },
        [&tracks, &receiver](std::string_view bytes, FrameKind kind, const GpsData& after, EpochMarks marks) {
            receiver.FeedFrame(kind, bytes);
            for (Track& track : tracks)
                if (track.recorder->Takes(kind))
                    track.written = track.recorder->Add(bytes, after, marks) && track.written;
        });
    if (!FeedLog(in, splitter))
        return Fail("cannot read " + name);

    bool written = true;
    for (Track& track : tracks)
    {
        if (!track.recorder->Finish() || !track.written)
        {
            std::fprintf(stderr, "orvane-nmea: cannot write %s\n", track.path.c_str());
            written = false;
        }
    }
    if (splitter.Sentences() == 0 && splitter.UbxFrames() == 0)
        return Fail("no NMEA sentences in " + name);
    if (summaryOnly)
    {
        const std::string json = SummaryJson(summary, receiver.Identity());
        std::fputs(json.c_str(), stdout);
        std::fputc('\n', stdout);
    }
    if (std::fflush(stdout) != 0)
        return Fail("cannot write the output");
    return written ? 0 : 1;
}
