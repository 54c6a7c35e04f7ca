#include "net/SourceAddress.h"

#include "util/WideText.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace
{

struct Scheme
{
    std::string_view prefix;
    SourceAddress::Kind kind;
};

constexpr Scheme kSchemes[] = {
    {"gpsd://", SourceAddress::Kind::Gpsd},
    {"tcp://", SourceAddress::Kind::Tcp},
    {"udp://", SourceAddress::Kind::Udp},
};

std::string Lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const Scheme* SchemeOf(const std::string& text)
{
    const std::string lowered = Lowered(text.substr(0, 7));
    for (const Scheme& scheme : kSchemes)
        if (lowered.starts_with(scheme.prefix))
            return &scheme;
    return nullptr;
}

std::optional<std::uint16_t> ParsePort(std::string_view text)
{
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || value == 0 ||
        value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

bool IsHostName(std::string_view host)
{
    // Names and IPv4 numbers; IPv6 comes in brackets and is checked apart.
    return std::all_of(host.begin(), host.end(), [](unsigned char c)
                       { return std::isalnum(c) || c == '-' || c == '.' || c == '_'; });
}

} // namespace

bool ParseHostAndPort(std::string_view text, std::string& host, std::optional<std::uint16_t>& port)
{
    port.reset();
    std::string_view portText;
    bool bHasPort = false;
    if (text.starts_with('['))
    {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1)
            return false;
        host = std::string(text.substr(1, close - 1));
        if (host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return false;
        text.remove_prefix(close + 1);
        if (!text.empty())
        {
            if (text.front() != ':')
                return false;
            portText = text.substr(1);
            bHasPort = true;
        }
    }
    else
    {
        const std::size_t colon = text.rfind(':');
        host = std::string(text.substr(0, colon));
        if (colon != std::string_view::npos)
        {
            portText = text.substr(colon + 1);
            bHasPort = true;
        }
        if (!IsHostName(host))
            return false;
    }
    if (bHasPort)
    {
        port = ParsePort(portText);
        if (!port)
            return false;
    }
    return true;
}

bool IsNetworkSourceText(std::wstring_view text)
{
    return SchemeOf(ToUtf8(text.substr(0, 7))) != nullptr;
}

std::optional<SourceAddress> ParseSourceAddress(std::wstring_view wideText)
{
    const std::string text = ToUtf8(wideText);
    const Scheme* scheme = SchemeOf(text);
    if (!scheme)
        return std::nullopt;
    std::string_view rest(text);
    rest.remove_prefix(scheme->prefix.size());
    if (rest.ends_with('/'))
        rest.remove_suffix(1);

    SourceAddress source;
    source.kind = scheme->kind;
    std::optional<std::uint16_t> port;
    if (!ParseHostAndPort(rest, source.host, port))
        return std::nullopt;
    bool bHasPort = port.has_value();
    if (port)
        source.port = *port;

    // udp://10110 is the port on every address.
    if (source.kind == SourceAddress::Kind::Udp && !bHasPort && !source.host.empty() &&
        source.host.find_first_not_of("0123456789") == std::string::npos)
    {
        source.host.clear();
        bHasPort = true;
        const std::optional<std::uint16_t> number = ParsePort(rest);
        if (!number)
            return std::nullopt;
        source.port = *number;
    }

    switch (source.kind)
    {
    case SourceAddress::Kind::Gpsd:
        if (source.host.empty())
            source.host = "localhost";
        if (!bHasPort)
            source.port = SourceAddress::kGpsdPort;
        break;
    case SourceAddress::Kind::Tcp:
        if (source.host.empty() || !bHasPort)
            return std::nullopt;
        break;
    case SourceAddress::Kind::Udp:
        if (!bHasPort)
            source.port = SourceAddress::kNmeaUdpPort;
        break;
    }
    return source;
}

std::string HostAndPort(const SourceAddress& source)
{
    std::string host = source.host.empty() ? "*" : source.host;
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    return host + ":" + std::to_string(source.port);
}
