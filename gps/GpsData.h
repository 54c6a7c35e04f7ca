#pragma once

#include <cstdint>
#include <type_traits>

// One satellite slot of GpsData. A slot whose prn is 0 is empty.
struct SatelliteInfo
{
    bool used = false;
    std::uint16_t prn = 0;
    std::uint16_t elevation = 0;
    std::uint16_t azimuth = 0;
    std::uint16_t snr = 0;
};

inline constexpr int kSatelliteSlots = 12;

// The receiver's latest known state. A plain record: copied only whole, zero when created.
struct GpsData
{
    std::int32_t fixMode = 0;
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t day = 0;
    float latitude = 0.0f;
    float longitude = 0.0f;
    float altitude = 0.0f;
    float speed = 0.0f;
    float course = 0.0f;
    float hdop = 0.0f;
    float pdop = 0.0f;
    SatelliteInfo satellites[kSatelliteSlots] = {};
};

static_assert(std::is_trivially_copyable_v<GpsData>);
static_assert(std::is_trivially_copyable_v<SatelliteInfo>);
static_assert(std::is_standard_layout_v<GpsData>);
