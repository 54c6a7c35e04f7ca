#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using NmeaField = std::string;

// XOR of every byte before the first '*', skipping every '$'.
std::uint8_t ComputeChecksum(std::string_view line);

// True only if the text after the first '*' is exactly the two uppercase hex digits of the
// checksum followed by CR LF.
bool IsChecksumValid(std::string_view line);

// Cuts at every comma; empty fields are kept.
std::vector<NmeaField> SplitFields(std::string_view text);

// Field conversions: the whole text must be the number. They throw ConversionError on failure;
// the decoders catch it at DecodeSentence.
struct ConversionError
{
};
std::int32_t FieldToInt(std::string_view field);
std::uint16_t FieldToUShort(std::string_view field);
float FieldToFloat(std::string_view field);
