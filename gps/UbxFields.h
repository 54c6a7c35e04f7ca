#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// UBX payload fields: little-endian, at byte offsets the caller has checked are inside.
namespace ubx
{
inline std::uint32_t U1(std::string_view p, std::size_t at)
{
    return static_cast<std::uint8_t>(p[at]);
}
inline std::uint32_t U2(std::string_view p, std::size_t at)
{
    return U1(p, at) | (U1(p, at + 1) << 8);
}
inline std::uint32_t U4(std::string_view p, std::size_t at)
{
    return U2(p, at) | (U2(p, at + 2) << 16);
}
inline std::int32_t I1(std::string_view p, std::size_t at)
{
    return static_cast<std::int8_t>(U1(p, at));
}
inline std::int32_t I2(std::string_view p, std::size_t at)
{
    return static_cast<std::int16_t>(U2(p, at));
}
inline std::int32_t I4(std::string_view p, std::size_t at)
{
    return static_cast<std::int32_t>(U4(p, at));
}
} // namespace ubx
