#pragma once

#include "gps/GpsData.h"

#include <kml/dom/kml_ptr.h>

#include <string>

namespace kmldom
{
class KmlFactory;
}

// Collects the positions of a recording and writes them, when it stops, as one KML document:
// a placemark "test" with a blue line 4 pixels wide through every point.
//
// The file is created empty and locked at Open (flock, so a second Orvane recording into the
// same name is refused instead of both writing it); nothing reaches it until Finish.
class KmlTrackWriter
{
public:
    KmlTrackWriter();
    // Closes a file still open, leaving it empty.
    ~KmlTrackWriter();
    KmlTrackWriter(const KmlTrackWriter&) = delete;
    KmlTrackWriter& operator=(const KmlTrackWriter&) = delete;

    // Creates (or truncates) the file. False when it cannot be created or another writer holds
    // it; such a writer never writes anything.
    bool Open(const std::wstring& path);

    void AddPoint(const GpsData& gps);

    // Writes the whole document and closes the file. False when there is no open file or the
    // text did not reach the disk whole (disk full, medium removed).
    bool Finish();

private:
    kmldom::KmlFactory* m_pFactory;
    kmldom::DocumentPtr m_pDocument;
    kmldom::FolderPtr m_pFolder;
    kmldom::CoordinatesPtr m_pCoordinates;
    std::wstring m_strPath;
    int m_nFile = -1;

    void CloseFile();
};
