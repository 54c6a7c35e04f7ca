#pragma once

#include "gps/Ecef.h"
#include "gps/GpsData.h"

#include <optional>
#include <string>
#include <string_view>

// RTCM 3 correction frames, as the framer delivers them (whole, CRC verified).

// The message number: the payload's first 12 bits; 0 for a frame too short to carry one.
int Rtcm3MessageType(std::string_view frame);
// What the message is, for a terminal line: "GPS MSM7", "GPS ephemeris", "station position";
// empty for a number not known here.
std::string Rtcm3MessageName(int type);

// The reference station of 1005 and 1006: its antenna reference point in ECEF, and for 1006
// the antenna's height above the marker.
struct Rtcm3Station
{
    int stationId = 0;
    Ecef position;
    double antennaHeight = 0.0; // metres; 0 in 1005
};
std::optional<Rtcm3Station> DecodeStationPosition(std::string_view frame);

// The station's latitude, longitude and height above the ellipsoid.
Geodetic StationGeodetic(const Rtcm3Station& station);
// The straight-line distance (metres) from a fix to the station: the baseline that RTK
// accuracy falls off with. The fix's altitude is taken as its height above the ellipsoid (a
// geoid of at most about 100 m is nothing beside a baseline of kilometres); none without a
// position.
std::optional<double> StationDistance(const Rtcm3Station& station, const GpsData& fix);
