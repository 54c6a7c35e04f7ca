#pragma once

#include "gps/GpsData.h"
#include "recording/TrackFile.h"

#include <string>

// Writes a GPX 1.1 track, one `trkpt` per point added: lat, lon, ele, time (the receiver's
// UTC, with its fraction), fix, sat, hdop and pdop. Like the KML track, the file is a
// complete, valid document after every write.
class GpxTrackWriter
{
public:
    GpxTrackWriter() = default;
    explicit GpxTrackWriter(FileCalls calls) : m_file(std::move(calls)) {}
    GpxTrackWriter(const GpxTrackWriter&) = delete;
    GpxTrackWriter& operator=(const GpxTrackWriter&) = delete;

    // Creates the file (see ExclusiveFile::Open) holding an empty track.
    bool Open(const std::wstring& path, bool createNew = false);

    // One point from a record, unless it has no 2D or 3D fix. False when the point could not
    // be written; the file then holds the points before it.
    bool AddPoint(const GpsData& gps);

    bool Sync() { return m_file.Sync(); }
    // Syncs and closes.
    bool Finish();

    // One trkpt element, its lines indented for the track segment.
    static std::string PointText(const GpsData& gps);

    const std::wstring& GetPath() const { return m_file.GetPath(); }
    int GetLastError() const { return m_file.GetLastError(); }
    // Points in the file.
    long long PointCount() const { return m_file.EntryCount(); }

private:
    TrackFile m_file;
};
