#include "gps/NmeaFraming.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/lexical_cast/try_lexical_convert.hpp>

#include <cmath>

namespace
{

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A hex digit in either case (Magellan receivers write theirs in lowercase); -1 for any other byte.
int HexDigit(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Skips a run of digits; returns how many there were.
std::size_t SkipDigits(std::string_view text, std::size_t& at)
{
    const std::size_t start = at;
    while (at < text.size() && IsDigit(text[at]))
        ++at;
    return at - start;
}

void SkipSign(std::string_view text, std::size_t& at)
{
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        ++at;
}

// [+-]digits
bool IsDecimalInteger(std::string_view text)
{
    std::size_t at = 0;
    SkipSign(text, at);
    return SkipDigits(text, at) > 0 && at == text.size();
}

// [+-](digits[.[digits]] | .digits)[(e|E)[+-]digits]
bool IsDecimalNumber(std::string_view text)
{
    std::size_t at = 0;
    SkipSign(text, at);
    std::size_t digits = SkipDigits(text, at);
    if (at < text.size() && text[at] == '.')
    {
        ++at;
        digits += SkipDigits(text, at);
    }
    if (digits == 0)
        return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E'))
    {
        ++at;
        SkipSign(text, at);
        if (SkipDigits(text, at) == 0)
            return false;
    }
    return at == text.size();
}

// The text is checked against the number grammar first: Boost 1.74's unsigned short parser
// multiplies before it rejects a non-digit, which overflows an int on bytes above 0x7F, and
// its float parser would take "nan" and "inf". Lexical Cast then does the conversion and the
// range check.
template <typename Number>
Number ConvertField(std::string_view field, bool (*wellFormed)(std::string_view))
{
    Number value{};
    if (!wellFormed(field) ||
        !boost::conversion::try_lexical_convert(field.data(), field.size(), value))
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

    const std::uint8_t sum = ComputeChecksum(line);
    const std::string_view tail = line.substr(star + 1);
    // CR LF ends a sentence; some receivers (Telit) send CR CR LF, and the extra CRs carry nothing.
    const bool lineEnd = tail.size() >= 4 && tail.back() == '\n' && tail.find_first_not_of('\r', 2) == tail.size() - 1;
    return lineEnd && HexDigit(tail[0]) == sum >> 4 && HexDigit(tail[1]) == (sum & 0x0F);
}

std::vector<NmeaField> SplitFields(std::string_view text)
{
    std::vector<NmeaField> fields;
    boost::split(fields, text, boost::is_any_of(","), boost::token_compress_off);
    return fields;
}

std::int32_t FieldToInt(std::string_view field)
{
    return ConvertField<std::int32_t>(field, IsDecimalInteger);
}

std::uint16_t FieldToUShort(std::string_view field)
{
    // Lexical Cast would wrap "-1" around to 65535 instead of failing.
    if (!field.empty() && field.front() == '-')
        throw ConversionError{};
    return ConvertField<std::uint16_t>(field, IsDecimalInteger);
}

double FieldToDouble(std::string_view field)
{
    const double value = ConvertField<double>(field, IsDecimalNumber);
    if (!std::isfinite(value))
        throw ConversionError{};
    return value;
}

float FieldToFloat(std::string_view field)
{
    const float value = ConvertField<float>(field, IsDecimalNumber);
    if (!std::isfinite(value))
        throw ConversionError{};
    return value;
}
