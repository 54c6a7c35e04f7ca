#include "gps/Ecef.h"

#include <cmath>
#include <numbers>

namespace
{
constexpr double kA = 6378137.0;             // WGS 84 semi-major axis
constexpr double kF = 1.0 / 298.257223563;   // flattening
constexpr double kE2 = kF * (2.0 - kF);      // first eccentricity squared
constexpr double kDegrees = 180.0 / std::numbers::pi;
} // namespace

Geodetic GeodeticOf(const Ecef& ecef)
{
    // Fixed-point iteration on the latitude: five rounds settle far below a millimetre near the ground.
    const double p = std::hypot(ecef.x, ecef.y);
    Geodetic point;
    point.longitude = std::atan2(ecef.y, ecef.x) * kDegrees;
    double latitude = std::atan2(ecef.z, p * (1.0 - kE2));
    double height = 0.0;
    for (int i = 0; i < 5; ++i)
    {
        const double sinLat = std::sin(latitude);
        const double n = kA / std::sqrt(1.0 - kE2 * sinLat * sinLat);
        height = p / std::cos(latitude) - n;
        if (p < 1.0)
            height = std::abs(ecef.z) - kA * std::sqrt(1.0 - kE2); // at a pole
        latitude = std::atan2(ecef.z, p * (1.0 - kE2 * n / (n + height)));
    }
    point.latitude = latitude * kDegrees;
    point.height = height;
    return point;
}

Ecef EcefOf(const Geodetic& point)
{
    const double lat = point.latitude / kDegrees;
    const double lon = point.longitude / kDegrees;
    const double n = kA / std::sqrt(1.0 - kE2 * std::sin(lat) * std::sin(lat));
    return {(n + point.height) * std::cos(lat) * std::cos(lon), (n + point.height) * std::cos(lat) * std::sin(lon),
            (n * (1.0 - kE2) + point.height) * std::sin(lat)};
}

double DistanceBetween(const Ecef& a, const Ecef& b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}
