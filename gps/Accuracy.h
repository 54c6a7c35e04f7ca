#pragma once

#include <cstddef>
#include <span>
#include <vector>

// How well a receiver holds still: its positions as metres east and north of their mean, and
// the circles around that mean that hold half and 95% of them. orvane-nmea --summary and the
// window's accuracy plot both use these, so they agree on the same log.
struct GeoPoint
{
    double latitude = 0.0; // decimal degrees
    double longitude = 0.0;
};

struct Offset
{
    double east = 0.0; // metres
    double north = 0.0;
};

struct CepResult
{
    std::size_t count = 0;
    GeoPoint mean{};
    double cep50 = 0.0; // metres; 0 when count is 0
    double cep95 = 0.0;
};

// The mean sphere's radius (IUGG), in metres.
inline constexpr double kEarthRadiusM = 6371008.8;

// The arithmetic mean of the latitudes and of the longitudes, the longitudes taken within half
// a turn of the first one's (so that the 180th meridian is an ordinary place) and the mean
// wrapped back into [-180, 180].
GeoPoint MeanPosition(std::span<const GeoPoint> points);
// One point as seen from `origin`: east = dlon * cos(origin latitude), on the sphere, dlon the
// shorter way round (at most 180 degrees either way).
Offset OffsetFrom(const GeoPoint& origin, const GeoPoint& point);
// CEP50 is the median horizontal distance from the mean (the mean of the two middle ones for
// an even count), CEP95 the nearest-rank 95th percentile.
CepResult ComputeCep(std::span<const GeoPoint> points);
// The nearest-rank percentile (0 < p <= 100) and the median of already sorted values.
double NearestRankPercentile(const std::vector<double>& sorted, double p);
double Median(const std::vector<double>& sorted);
