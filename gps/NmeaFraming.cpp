#include "gps/NmeaFraming.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/lexical_cast/try_lexical_convert.hpp>

#include <cmath>

namespace
{

template <typename Number>
Number ConvertField(std::string_view field)
{
    Number value{};
    // The (pointer, count) form converts the view as it stands; it fails on empty text,
    // white space and leftover characters, which is the "whole text" rule.
    if (!boost::conversion::try_lexical_convert(field.data(), field.size(), value))
        throw ConversionError{};
    return value;
}

} // namespace

std::uint8_t ComputeChecksum(std::string_view line)
{
    std::uint8_t sum = 0;
    for (const char c : line)
    {
        if (c == '*')
            break;
        if (c != '$')
            sum ^= static_cast<std::uint8_t>(c);
    }
    return sum;
}

bool IsChecksumValid(std::string_view line)
{
    const std::size_t star = line.find('*');
    if (star == std::string_view::npos)
        return false;

    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::uint8_t sum = ComputeChecksum(line);
    const char expected[] = {kHex[sum >> 4], kHex[sum & 0x0F], '\r', '\n'};
    return line.substr(star + 1) == std::string_view(expected, sizeof expected);
}

std::vector<NmeaField> SplitFields(std::string_view text)
{
    std::vector<NmeaField> fields;
    boost::split(fields, text, boost::is_any_of(","), boost::token_compress_off);
    return fields;
}

std::int32_t FieldToInt(std::string_view field)
{
    return ConvertField<std::int32_t>(field);
}

std::uint16_t FieldToUShort(std::string_view field)
{
    if (!field.empty() && field.front() == '-')
        throw ConversionError{};
    return ConvertField<std::uint16_t>(field);
}

float FieldToFloat(std::string_view field)
{
    const float value = ConvertField<float>(field);
    if (!std::isfinite(value))
        throw ConversionError{};
    return value;
}
