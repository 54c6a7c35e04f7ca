#pragma once

// A point on WGS 84: latitude and longitude in degrees, height above the ellipsoid in metres.
struct Geodetic
{
    double latitude = 0.0;
    double longitude = 0.0;
    double height = 0.0;
};

// Earth-centred, earth-fixed coordinates in metres, as UBX NAV-SOL and RTCM3 1005/1006 send.
struct Ecef
{
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

Geodetic GeodeticOf(const Ecef& ecef);
Ecef EcefOf(const Geodetic& point);
// The straight-line distance between two points, in metres.
double DistanceBetween(const Ecef& a, const Ecef& b);
