#pragma once

#include <string>

// The map page's text operations, kept free of the web engine so they can be tested alone.

// Great-circle distance in metres between two points given in degrees (haversine).
double DistanceMetres(double lat1, double lon1, double lat2, double lon2);

// Rewrites the page's first centring call ("map.setView(...);") into one centred 0.0005 degrees
// south and west of the position at zoom 17, followed by a marker on the position; every byte
// after the replaced call is kept. Numbers are written with six decimals and a point whatever
// the process locale. Returns false, leaving out alone, when the page has no centring call.
bool CentreMapPage(const std::string& page, float latitude, float longitude, std::string& out);

// Points the page's tile constant ("var tileUrl = '...';") at another server, e.g.
// "http://127.0.0.1:8080/{z}/{x}/{y}.png". Returns false when the page has no such constant or
// the address would break out of its quotes.
bool SetPageTileUrl(std::string& page, const std::string& urlTemplate);
