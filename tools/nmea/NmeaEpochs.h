#pragma once

#include "gps/GpsData.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

// The decoded state as one JSON object, with gpsd's field names: time (ISO 8601 UTC, only
// once the date is known), mode, lat, lon, alt (metres), speed (m/s), track, hdop, pdop and
// satellites (gnss: the talker, prn as sent, gpsd's gnssid and svid, el, az, ss, used;
// el and az only for a satellite with a position). Values no sentence has sent yet are left out, and
// so are position and motion while the receiver reports no fix.
std::string EpochJson(const GpsData& gps);

// Decodes a log line by line and hands on the state at the end of each epoch. An epoch ends
// when the UTC time of the fix changes, and at the end of the input.
class EpochSplitter
{
public:
    using Handler = std::function<void(const GpsData&)>;
    explicit EpochSplitter(Handler onEpoch);

    // One line up to and including its LF. A bare LF (as many tools save logs) gets back the
    // CR that the receiver sent; lines longer than the device takes are skipped.
    void Feed(std::string_view line);
    void Finish();

    // Lines that were sentences with a valid checksum.
    int Sentences() const { return m_nSentences; }

private:
    Handler m_onEpoch;
    GpsData m_gps{};
    bool m_bPending = false;
    int m_nSentences = 0;
};

// Where a log's track can go. Each kind writes through the same writer the window records
// with; another kind is one more class and one more row in the option table of main.
class TrackOutput
{
public:
    virtual ~TrackOutput() = default;
    virtual bool Open(const std::string& path) = 0;
    // Called once per epoch; only fixes of 2D or better become points, as in a recording.
    virtual void Add(const GpsData& gps) = 0;
    virtual bool Finish() = 0;
};

std::unique_ptr<TrackOutput> MakeKmlOutput();
std::unique_ptr<TrackOutput> MakeGpxOutput();
