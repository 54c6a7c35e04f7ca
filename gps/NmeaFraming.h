#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using NmeaField = std::string;

// XOR of every byte before the first '*', skipping every '$'. Bytes before the first '$' count.
std::uint8_t ComputeChecksum(std::string_view line);

// True only if the text after the first '*' is exactly the two hex digits of the checksum
// (either case, as gpsd and minmea take them) followed by CR LF; extra CRs before the LF are
// allowed. The line itself is left as received.
bool IsChecksumValid(std::string_view line);

// Cuts at every comma; empty fields are kept, nothing is trimmed.
std::vector<NmeaField> SplitFields(std::string_view text);

// Field conversions: the whole text must be the number (no spaces, nothing left over, not
// empty). Integers are [+-]digits; floats [+-](digits[.[digits]] | .digits) with an optional
// exponent. On failure they throw ConversionError, which the decoders let through and each
// public decoder entry point catches, so that the rest of that sentence is abandoned.
struct ConversionError
{
};
std::int32_t FieldToInt(std::string_view field);
// A leading '-' is refused, even for zero.
std::uint16_t FieldToUShort(std::string_view field);
// NaN, infinity and values beyond float's range are refused.
float FieldToFloat(std::string_view field);
double FieldToDouble(std::string_view field);
