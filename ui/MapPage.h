#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The map page's text operations, kept free of the web engine so they can be tested alone.

// Great-circle distance in metres between two points given in degrees (haversine).
double DistanceMetres(double lat1, double lon1, double lat2, double lon2);

// Rewrites the page's first centring call ("map.setView(...);") into one centred 0.0005 degrees
// south and west of the position at zoom 17, followed by a marker on the position; every byte
// after the replaced call is kept. Numbers are written with six decimals and a point whatever
// the process locale. Returns false, leaving out alone, when the page has no centring call.
bool CentreMapPage(const std::string& page, double latitude, double longitude, std::string& out);

// Points the page's tile constant ("var tileUrl = '...';") at another server, e.g.
// "http://127.0.0.1:8080/{z}/{x}/{y}.png". Returns false when the page has no such constant or
// the address would break out of its quotes.
bool SetPageTileUrl(std::string& page, const std::string& urlTemplate);

// A position put on the map.
struct MapPoint
{
    double latitude = 0.0;
    double longitude = 0.0;
};

// The scripts the view runs in the loaded map page. They carry only numbers written as above,
// and do nothing in a page without the map's functions (e.g. about:blank).

// Moves the marker to the position and adds it to the drawn track; while the map follows, it pans
// (keeping the user's zoom) to the same south-west centre as CentreMapPage.
std::string MovePositionScript(MapPoint position);
// Replaces the drawn track and puts the marker, without a new track point, on its last point
// (the centre follows as above). An empty track only clears the line.
std::string TrackScript(const std::vector<MapPoint>& track);
// Shows or hides the page's small offline banner.
std::string OfflineScript(bool offline);

// Keeps a track within maxPoints (at least 2) by dropping every second point of its older half;
// the newest half and the very first point stay. Returns whether anything was dropped.
bool ThinTrack(std::vector<MapPoint>& track, std::size_t maxPoints);
