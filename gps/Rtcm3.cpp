#include "gps/Rtcm3.h"

#include "gps/Framer.h"

#include <cstdint>
#include <iterator>

namespace
{

// Reads big-endian bit fields, most significant bit first, as RTCM 3 packs them.
class Bits
{
public:
    explicit Bits(std::string_view bytes) : m_bytes(bytes) {}

    bool Has(std::size_t count) const { return m_at + count <= m_bytes.size() * 8; }

    std::uint64_t Unsigned(std::size_t count)
    {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < count; ++i, ++m_at)
        {
            const auto byte = static_cast<std::uint8_t>(m_bytes[m_at / 8]);
            value = (value << 1) | ((byte >> (7 - m_at % 8)) & 1u);
        }
        return value;
    }

    std::int64_t Signed(std::size_t count)
    {
        const std::uint64_t value = Unsigned(count);
        const std::uint64_t sign = std::uint64_t{1} << (count - 1);
        return static_cast<std::int64_t>(value ^ sign) - static_cast<std::int64_t>(sign);
    }

    void Skip(std::size_t count) { m_at += count; }

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
};

struct NameRow
{
    int type;
    const char* name;
};

constexpr NameRow kNames[] = {
    {1001, "GPS L1 observations"},      {1002, "GPS L1 observations"},        {1003, "GPS L1/L2 observations"},
    {1004, "GPS L1/L2 observations"},   {1005, "station position"},           {1006, "station position and height"},
    {1007, "antenna"},                  {1008, "antenna and serial number"},  {1009, "GLONASS L1 observations"},
    {1010, "GLONASS L1 observations"},  {1011, "GLONASS L1/L2 observations"}, {1012, "GLONASS L1/L2 observations"},
    {1013, "system parameters"},        {1019, "GPS ephemeris"},              {1020, "GLONASS ephemeris"},
    {1029, "text"},                     {1033, "receiver and antenna"},       {1041, "NavIC ephemeris"},
    {1042, "BeiDou ephemeris"},         {1044, "QZSS ephemeris"},             {1045, "Galileo F/NAV ephemeris"},
    {1046, "Galileo I/NAV ephemeris"},  {1230, "GLONASS code-phase biases"},  {4072, "u-blox proprietary"},
};

// The MSM families, 1071 to 1137: the system by tens, MSM1 to MSM7 by units.
constexpr const char* kMsmSystems[] = {"GPS", "GLONASS", "Galileo", "SBAS", "QZSS", "BeiDou", "NavIC"};

} // namespace

int Rtcm3MessageType(std::string_view frame)
{
    const std::string_view payload = frame.size() >= 6 ? Rtcm3Payload(frame) : std::string_view();
    Bits bits(payload);
    return bits.Has(12) ? static_cast<int>(bits.Unsigned(12)) : 0;
}

std::string Rtcm3MessageName(int type)
{
    for (const NameRow& row : kNames)
    {
        if (row.type == type)
            return row.name;
    }
    const int family = (type - 1070) / 10;
    const int msm = (type - 1070) % 10;
    if (type > 1070 && family < static_cast<int>(std::size(kMsmSystems)) && msm >= 1 && msm <= 7)
        return std::string(kMsmSystems[family]) + " MSM" + std::to_string(msm);
    return {};
}

std::optional<Rtcm3Station> DecodeStationPosition(std::string_view frame)
{
    const int type = Rtcm3MessageType(frame);
    if (type != 1005 && type != 1006)
        return std::nullopt;
    Bits bits(Rtcm3Payload(frame));
    if (!bits.Has(type == 1005 ? 152 : 168))
        return std::nullopt;
    Rtcm3Station station;
    bits.Skip(12);
    station.stationId = static_cast<int>(bits.Unsigned(12));
    bits.Skip(6 + 4); // ITRF year, GPS, GLONASS, Galileo and reference-station indicators
    station.position.x = static_cast<double>(bits.Signed(38)) * 1e-4;
    bits.Skip(2); // oscillator indicator, reserved
    station.position.y = static_cast<double>(bits.Signed(38)) * 1e-4;
    bits.Skip(2); // quarter-cycle indicator
    station.position.z = static_cast<double>(bits.Signed(38)) * 1e-4;
    if (type == 1006)
        station.antennaHeight = static_cast<double>(bits.Unsigned(16)) * 1e-4;
    return station;
}

Geodetic StationGeodetic(const Rtcm3Station& station)
{
    return GeodeticOf(station.position);
}

std::optional<double> StationDistance(const Rtcm3Station& station, const GpsData& fix)
{
    if (!HasFixedPosition(fix))
        return std::nullopt;
    const bool altitude = (fix.decode.known & kKnownAltitude) != 0;
    const Ecef at = EcefOf({fix.latitude, fix.longitude, altitude ? static_cast<double>(fix.altitude) : 0.0});
    return DistanceBetween(at, station.position);
}
