#include "ui/MapPage.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace
{
constexpr double kDegToRad = 0.017453292519943295;
constexpr double kEarthRadiusMetres = 6372797.560856;
constexpr std::string_view kCentringCall = "map.setView(";
constexpr std::string_view kTileConstant = "var tileUrl = '";

// "%f" without the locale: QApplication sets LC_NUMERIC from the user's environment, and a
// decimal comma would turn the coordinates into a different JavaScript call.
std::string Fixed6(double value)
{
    char buffer[128];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    if (ec != std::errc())
        return "0.000000";
    return std::string(buffer, end);
}

std::string LatLon(double latitude, double longitude)
{
    return Fixed6(latitude) + ", " + Fixed6(longitude);
}

// The view sits a little south-west of the fix, as it always has; the longitude's offset is
// the single-precision 0.0005.
std::string CentreOf(double latitude, double longitude)
{
    return Fixed6(latitude - 0.0005) + ", " + Fixed6(longitude - 0.0005f);
}

// A call of one of the map page's functions, skipped where the page lacks it.
std::string PageCall(std::string_view function, const std::string& arguments)
{
    std::string call = "if (typeof ";
    call += function;
    call += " === 'function') ";
    call += function;
    call += "(" + arguments + ");";
    return call;
}

// The tabs and spaces that open the line holding position pos.
std::string_view LineIndent(std::string_view text, std::size_t pos)
{
    std::size_t start = text.rfind('\n', pos);
    start = start == std::string_view::npos ? 0 : start + 1;
    std::size_t end = start;
    while (end < pos && (text[end] == '\t' || text[end] == ' '))
        ++end;
    return text.substr(start, end - start);
}
}

double DistanceMetres(double lat1, double lon1, double lat2, double lon2)
{
    const double sinLat = std::sin((lat1 - lat2) * kDegToRad * 0.5);
    const double sinLon = std::sin((lon1 - lon2) * kDegToRad * 0.5);
    const double a = sinLat * sinLat + std::cos(lat1 * kDegToRad) * std::cos(lat2 * kDegToRad) * sinLon * sinLon;
    return 2.0 * std::asin(std::sqrt(a)) * kEarthRadiusMetres;
}

bool CentreMapPage(const std::string& page, double latitude, double longitude, std::string& out)
{
    const std::size_t call = page.find(kCentringCall);
    if (call == std::string::npos)
        return false;
    const std::size_t end = page.find(';', call);
    if (end == std::string::npos)
        return false;

    const std::string_view indent = LineIndent(page, call);

    std::string result;
    result.reserve(page.size() + 128);
    result.append(page, 0, call);
    result += "map.setView([" + CentreOf(latitude, longitude) + "], 17);\n";
    result += indent;
    result += "var marker = L.marker([" + LatLon(latitude, longitude) + "]).addTo(map);";
    result.append(page, end + 1, std::string::npos);
    out = std::move(result);
    return true;
}

bool SetPageTileUrl(std::string& page, const std::string& urlTemplate)
{
    if (urlTemplate.find_first_of("'\\\r\n<>") != std::string::npos)
        return false;
    const std::size_t constant = page.find(kTileConstant);
    if (constant == std::string::npos)
        return false;
    const std::size_t start = constant + kTileConstant.size();
    const std::size_t end = page.find('\'', start);
    if (end == std::string::npos)
        return false;
    page.replace(start, end - start, urlTemplate);
    return true;
}

std::string MovePositionScript(MapPoint position)
{
    return PageCall("showPosition", LatLon(position.latitude, position.longitude) + ", " +
                                        CentreOf(position.latitude, position.longitude));
}

std::string TrackScript(const std::vector<MapPoint>& track)
{
    std::string points = "[";
    points.reserve(track.size() * 26 + 2);
    for (const MapPoint& point : track)
    {
        if (points.size() > 1)
            points += ", ";
        points += "[" + LatLon(point.latitude, point.longitude) + "]";
    }
    points += "]";
    if (track.empty())
        return PageCall("setTrack", points);
    const MapPoint& last = track.back();
    return PageCall("setTrack", points + ", " + LatLon(last.latitude, last.longitude) + ", " +
                                    CentreOf(last.latitude, last.longitude));
}

std::string OfflineScript(bool offline)
{
    return PageCall("setOffline", offline ? "true" : "false");
}

bool ThinTrack(std::vector<MapPoint>& track, std::size_t maxPoints)
{
    maxPoints = std::max<std::size_t>(maxPoints, 2);
    bool bThinned = false;
    while (track.size() > maxPoints)
    {
        // Odd indices of the older half go; with three points or more that is at least one.
        const std::size_t older = (track.size() + 1) / 2;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < track.size(); ++i)
        {
            if (i >= older || i % 2 == 0)
                track[kept++] = track[i];
        }
        track.resize(kept);
        bThinned = true;
    }
    return bThinned;
}
