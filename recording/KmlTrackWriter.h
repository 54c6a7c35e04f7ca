#pragma once

#include "gps/GpsData.h"
#include "recording/TrackFile.h"

#include <string>

// Writes the positions of a recording as one KML document: a placemark "test" with a blue line
// 4 pixels wide through every point.
//
// The file is a complete document from Open on: each point goes to disk as it is added, with
// the document's closing lines after it, so a crash or a kill loses nothing already added, and
// Finish leaves exactly the text libkml's pretty serialiser gives for the whole track.
class KmlTrackWriter
{
public:
    KmlTrackWriter() = default;
    explicit KmlTrackWriter(FileCalls calls) : m_file(std::move(calls)) {}
    // Closes a file still open; it holds every point added.
    ~KmlTrackWriter() = default;
    KmlTrackWriter(const KmlTrackWriter&) = delete;
    KmlTrackWriter& operator=(const KmlTrackWriter&) = delete;

    // Creates the file (see ExclusiveFile) with the empty track in it. False when it cannot be
    // created or another writer holds it; such a writer never writes anything.
    bool Open(const std::wstring& path, bool createNew = false);

    // False when the point could not be written (disk full, medium removed); the file then
    // still holds the track as it was before.
    bool AddPoint(const GpsData& gps);

    bool Sync() { return m_file.Sync(); }
    // Syncs and closes the file. False when there is no open file or the medium reported the
    // data not kept.
    bool Finish();

    // One coordinates line: longitude, latitude, altitude in the serialiser's number form.
    static std::string PointLine(const GpsData& gps);

    // Points in the file.
    long long PointCount() const { return m_file.EntryCount(); }
    const std::wstring& GetPath() const { return m_file.GetPath(); }
    int GetLastError() const { return m_file.GetLastError(); }

private:
    TrackFile m_file;
};
