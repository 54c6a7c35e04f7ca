#pragma once

#include "gps/EpochDetector.h"
#include "gps/EpochEnd.h"
#include "gps/Framer.h"
#include "gps/FixSummary.h"
#include "gps/GpsData.h"
#include "receiver/ReceiverIdentity.h"

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>

// The decoded state as one JSON object, with gpsd's field names: time (ISO 8601 UTC, only
// once the date is known), mode, lat, lon, alt (metres), speed (m/s), track, hdop, pdop and
// satellites (gnss: the talker, prn as sent, gpsd's gnssid and svid, el, az, ss, used;
// el and az only for a satellite with a position), and eph and epv (the receiver's horizontal
// and vertical accuracy estimates, m). Values no sentence has sent yet are left out, and
// so are position and motion while the receiver reports no fix.
std::string EpochJson(const GpsData& gps);

// What --summary prints after the last epoch: epochs, fixes (epochs per mode: unknown, none,
// 2d, 3d), ttff (s), cep50 and cep95 (m, to the millimetre), hdop (mean, min, max) and
// used_max and in_view_max (per constellation seen, and "all"). A value with nothing to
// measure is null. Then receiver: {"family","model","firmware"} once the log has said who the
// receiver is (absent otherwise; model and firmware absent when it did not say them).
std::string SummaryJson(const FixSummary& summary, const ReceiverIdentity& receiver = {});

// An epoch's JSON object with "receiver":"<its one-line name>" added, once the family is known.
std::string WithReceiver(std::string epochJson, const ReceiverIdentity& receiver);

// Decodes a log frame by frame, as the device decodes what it receives: each sentence and UBX
// frame goes to the line handler with the record right after it (what a recorder takes), and the record each
// epoch ended with to the epoch handler. NMEA epochs are found as the recorders find them;
// UBX epochs by the receiver's own word: a new time of week begins one, NAV-EOE ends one.
class EpochSplitter
{
public:
    using Handler = std::function<void(const GpsData&)>;
    using LineHandler =
        std::function<void(std::string_view bytes, FrameKind kind, const GpsData& after, EpochMarks marks)>;
    explicit EpochSplitter(Handler onEpoch, LineHandler onLine = {});

    // One line up to and including its LF. A bare LF (as many tools save logs) gets back the
    // CR that the receiver sent; lines longer than the device takes are skipped.
    void Feed(std::string_view line);
    // A frame from the framer: an NMEA line as Feed takes it, a UBX frame, an RTCM3 frame
    // (which says nothing of the fix).
    void Feed(const Frame& frame);
    void Finish();

    // Lines that were sentences with a valid checksum.
    int Sentences() const { return m_nSentences; }
    // UBX frames.
    int UbxFrames() const { return m_nUbxFrames; }

private:
    Handler m_onEpoch;
    LineHandler m_onLine;
    GpsData m_gps{};
    EpochDetector m_epochs;
    // The marks the device's reader would give each line.
    EpochEnd m_marks;
    int m_nSentences = 0;
    int m_nUbxFrames = 0;
    // The UBX epoch under way: its time of week, and whether a message of it has come.
    std::uint32_t m_nUbxTow = 0;
    bool m_bUbxPending = false;
};

// Reads a whole log (a file or standard input) through the framer into the splitter, the
// leading comment lines of gpsd's capture format left out. False on a read error.
bool FeedLog(std::istream& in, EpochSplitter& splitter);
