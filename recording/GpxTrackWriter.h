#pragma once

#include "gps/GpsData.h"
#include "recording/TrackFile.h"

#include <string>
#include <string_view>

// Finds where one fix cycle of the receiver ends in its stream of sentences: a cycle is the run
// of sentences that share one UTC time (the time field of GGA, RMC, GNS or ZDA, fraction
// included). Sentences without a time belong to the cycle under way.
class FixCycle
{
public:
    // Call before decoding `line`: true when it opens a new cycle after one that was under
    // way, which is then complete in the record the caller decoded so far.
    bool Starts(std::string_view line);
    // Thousandths of the second of the cycle under way, from its time field.
    int Milliseconds() const { return m_nMilliseconds; }
    // Whether a sentence of the cycle under way said it has no fix (GGA quality 0, RMC status
    // V): GSA, the record's only fix statement, comes only every few cycles from some receivers.
    bool SaysNoFix() const { return m_bNoFix; }
    // Whether any cycle has begun.
    bool Running() const { return !m_strTime.empty(); }

private:
    std::string m_strTime;
    int m_nMilliseconds = 0;
    bool m_bNoFix = false;
};

// Writes a GPX 1.1 track, one `trkpt` per fix cycle with a 2D or 3D fix: lat, lon, ele, time
// (the receiver's UTC), fix, sat, hdop and pdop. Like the KML track, the file is a complete,
// valid document after every write.
//
// Two ways to feed it: AddSentence with every checksum-valid line (the writer decodes them
// and finds the cycles itself), or AddPoint once per cycle with a decoded record.
class GpxTrackWriter
{
public:
    GpxTrackWriter() = default;
    explicit GpxTrackWriter(ExclusiveFile::WriteFunction write) : m_file(std::move(write)) {}
    GpxTrackWriter(const GpxTrackWriter&) = delete;
    GpxTrackWriter& operator=(const GpxTrackWriter&) = delete;

    // Creates the file (see ExclusiveFile) holding an empty track. `known` is the receiver's
    // state before the first sentence (the date comes only with RMC).
    bool Open(const std::wstring& path, const GpsData& known = GpsData());

    // One line as received: adds the point of the cycle it ends, if that cycle had a fix.
    // False when a point could not be written; the file then holds the points before it.
    bool AddSentence(std::string_view line);
    // One point from a record, unless it has no 2D or 3D fix.
    bool AddPoint(const GpsData& gps, int milliseconds = 0);

    // Writes the point of the last cycle (its sentences are all in by now), syncs and closes.
    bool Finish();

    // One trkpt element, its lines indented for the track segment.
    static std::string PointText(const GpsData& gps, int milliseconds);

    const std::wstring& GetPath() const { return m_file.GetPath(); }
    int GetLastError() const { return m_file.GetLastError(); }
    // Points in the file.
    long long PointCount() const { return m_file.EntryCount(); }

private:
    TrackFile m_file;
    GpsData m_gps{};
    FixCycle m_cycle;
};
