#include "gps/Accuracy.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr double kRadPerDeg = std::numbers::pi / 180.0;

// The longitude, give or take whole turns, that lies within half a turn of `around`: at the
// 180th meridian 179.9999 and -179.9999 are neighbours, not 360 degrees apart.
double Unwrapped(double longitude, double around)
{
    return longitude - 360.0 * std::round((longitude - around) / 360.0);
}

// Into [-180, 180].
double Wrapped(double longitude)
{
    return longitude > 180.0 || longitude < -180.0 ? Unwrapped(longitude, 0.0) : longitude;
}
} // namespace

GeoPoint MeanPosition(std::span<const GeoPoint> points)
{
    if (points.empty())
        return {};
    double lat = 0.0;
    double lon = 0.0;
    const double first = points.front().longitude;
    for (const GeoPoint& p : points) {
        lat += p.latitude;
        lon += Unwrapped(p.longitude, first);
    }
    const double n = static_cast<double>(points.size());
    return {lat / n, Wrapped(lon / n)};
}

Offset OffsetFrom(const GeoPoint& origin, const GeoPoint& point)
{
    const double east = Unwrapped(point.longitude, origin.longitude) - origin.longitude;
    return {east * kRadPerDeg * std::cos(origin.latitude * kRadPerDeg) * kEarthRadiusM,
            (point.latitude - origin.latitude) * kRadPerDeg * kEarthRadiusM};
}

double Median(const std::vector<double>& sorted)
{
    if (sorted.empty())
        return 0.0;
    const std::size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
}

double NearestRankPercentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0.0;
    // The smallest value with at least p% of the values at or below it.
    auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    rank = std::clamp<std::size_t>(rank, 1, sorted.size());
    return sorted[rank - 1];
}

CepResult ComputeCep(std::span<const GeoPoint> points)
{
    CepResult result;
    result.count = points.size();
    if (points.empty())
        return result;
    result.mean = MeanPosition(points);
    std::vector<double> distances;
    distances.reserve(points.size());
    for (const GeoPoint& p : points) {
        const Offset o = OffsetFrom(result.mean, p);
        distances.push_back(std::hypot(o.east, o.north));
    }
    std::sort(distances.begin(), distances.end());
    result.cep50 = Median(distances);
    result.cep95 = NearestRankPercentile(distances, 95.0);
    return result;
}
