#include "net/NtripProtocol.h"

#include "gps/Ecef.h"
#include "gps/NmeaFraming.h"
#include "net/SourceAddress.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace
{

constexpr std::string_view kScheme = "ntrip://";

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> PercentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != '%')
        {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string Lowered(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<double> Number(std::string_view text)
{
    double value = 0.0;
    text = Trimmed(text);
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<NtripCaster> ParseNtripAddress(std::string_view text)
{
    text = Trimmed(text);
    if (!StartsWithNoCase(text, kScheme))
        return std::nullopt;
    text.remove_prefix(kScheme.size());

    NtripCaster caster;
    const std::size_t slash = text.find('/');
    std::string_view authority = text.substr(0, slash);
    if (slash != std::string_view::npos)
        caster.mountpoint = std::string(text.substr(slash + 1));
    if (caster.mountpoint.find_first_of("/ ?#") != std::string::npos)
        return std::nullopt;

    // The last '@' ends the credentials, so that a password may hold one.
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
    {
        const std::string_view credentials = authority.substr(0, at);
        const std::size_t colon = credentials.find(':');
        const auto user = PercentDecoded(credentials.substr(0, colon));
        const auto password =
            PercentDecoded(colon == std::string_view::npos ? std::string_view() : credentials.substr(colon + 1));
        if (!user || !password || user->empty())
            return std::nullopt;
        caster.user = *user;
        caster.password = *password;
        authority.remove_prefix(at + 1);
    }

    std::optional<std::uint16_t> port;
    if (!ParseHostAndPort(authority, caster.host, port) || caster.host.empty())
        return std::nullopt;
    if (port)
        caster.port = *port;
    return caster;
}

namespace
{
// Where the parts of an ntrip:// text lie, as ParseNtripAddress reads them: the password (empty
// span when there is none) and the mountpoint, which runs to the end.
struct AddressSpans
{
    std::size_t passwordBegin = 0;
    std::size_t passwordEnd = 0;
    std::size_t mountpointBegin = std::string_view::npos; // npos: no slash
};

std::optional<AddressSpans> SpansOf(std::string_view text)
{
    const std::size_t lead = text.find_first_not_of(" \t");
    if (lead == std::string_view::npos || !StartsWithNoCase(text.substr(lead), kScheme))
        return std::nullopt;
    const std::size_t start = lead + kScheme.size();
    const std::size_t slash = text.find('/', start);
    const std::size_t authorityEnd = slash == std::string_view::npos ? text.size() : slash;
    AddressSpans spans;
    if (slash != std::string_view::npos)
        spans.mountpointBegin = slash + 1;
    const std::size_t at = text.substr(0, authorityEnd).rfind('@');
    if (at != std::string_view::npos && at >= start)
    {
        const std::size_t colon = text.substr(0, at).find(':', start);
        if (colon != std::string_view::npos)
            spans = {colon + 1, at, spans.mountpointBegin};
    }
    return spans;
}
} // namespace

std::string MaskedNtripAddress(std::string_view text)
{
    const std::optional<AddressSpans> spans = SpansOf(text);
    if (!spans || spans->passwordBegin == spans->passwordEnd)
        return std::string(text);
    return std::string(text.substr(0, spans->passwordBegin)) + std::string(kPasswordMask) +
           std::string(text.substr(spans->passwordEnd));
}

std::string UnmaskedNtripAddress(std::string_view typed, std::string_view real)
{
    const std::optional<AddressSpans> typedSpans = SpansOf(typed);
    const std::optional<AddressSpans> realSpans = SpansOf(real);
    if (!typedSpans || !realSpans || realSpans->passwordBegin == realSpans->passwordEnd ||
        typed.substr(typedSpans->passwordBegin, typedSpans->passwordEnd - typedSpans->passwordBegin) != kPasswordMask)
        return std::string(typed);
    return std::string(typed.substr(0, typedSpans->passwordBegin)) +
           std::string(real.substr(realSpans->passwordBegin, realSpans->passwordEnd - realSpans->passwordBegin)) +
           std::string(typed.substr(typedSpans->passwordEnd));
}

std::string WithMountpoint(std::string_view text, std::string_view mountpoint)
{
    text = text.substr(0, text.find_last_not_of(" \t\r\n") + 1);
    const std::optional<AddressSpans> spans = SpansOf(text);
    if (!spans)
        return std::string(text);
    const std::string_view base =
        spans->mountpointBegin == std::string_view::npos ? text : text.substr(0, spans->mountpointBegin - 1);
    return std::string(base) + "/" + std::string(mountpoint);
}

std::string NtripDisplayName(const NtripCaster& caster)
{
    SourceAddress at;
    at.host = caster.host;
    at.port = caster.port;
    return HostAndPort(at) + "/" + caster.mountpoint;
}

std::string Base64(std::string_view bytes)
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3)
    {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<std::uint8_t>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

std::string NtripRequest(const NtripCaster& caster, NtripVersion version)
{
    std::string request = "GET /" + caster.mountpoint +
                          (version == NtripVersion::V2 ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n");
    if (version == NtripVersion::V2)
    {
        SourceAddress at;
        at.host = caster.host;
        at.port = caster.port;
        request += "Host: " + HostAndPort(at) + "\r\nNtrip-Version: Ntrip/2.0\r\n";
    }
    // Casters tell NTRIP clients from web browsers by this prefix.
    request += "User-Agent: NTRIP Orvane/1.0\r\n";
    if (!caster.user.empty())
        request += "Authorization: Basic " + Base64(caster.user + ":" + caster.password) + "\r\n";
    if (version == NtripVersion::V2)
        request += "Connection: close\r\n";
    request += "\r\n";
    return request;
}

bool ChunkedDecoder::Feed(std::string_view bytes, std::string& body)
{
    for (std::size_t i = 0; i < bytes.size(); ++i)
    {
        const char c = bytes[i];
        switch (m_state)
        {
        case State::Size:
            if (const int digit = HexValue(c); digit >= 0)
            {
                if (m_nLeft > (std::uint64_t{1} << 40))
                    m_state = State::Broken;
                m_nLeft = m_nLeft * 16 + static_cast<unsigned>(digit);
                m_bDigits = true;
            }
            else if (m_bDigits && (c == ';' || c == ' ' || c == '\t'))
                m_state = State::Extension;
            else if (m_bDigits && c == '\r')
                m_state = State::SizeLf;
            else
                m_state = State::Broken;
            break;
        case State::Extension:
            if (c == '\r')
                m_state = State::SizeLf;
            break;
        case State::SizeLf:
            if (c != '\n')
                m_state = State::Broken;
            else if (m_nLeft == 0)
            {
                m_state = State::Trailer;
                m_bTrailerLineEmpty = true;
            }
            else
                m_state = State::Data;
            break;
        case State::Data:
        {
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(m_nLeft, bytes.size() - i));
            body.append(bytes.substr(i, take));
            m_nLeft -= take;
            i += take - 1;
            if (m_nLeft == 0)
                m_state = State::DataCr;
            break;
        }
        case State::DataCr:
            m_state = c == '\r' ? State::DataLf : State::Broken;
            break;
        case State::DataLf:
            m_state = c == '\n' ? State::Size : State::Broken;
            m_bDigits = false;
            break;
        case State::Trailer:
            if (c == '\r')
                m_state = State::TrailerLf;
            else
                m_bTrailerLineEmpty = false;
            break;
        case State::TrailerLf:
            if (c != '\n')
                m_state = State::Broken;
            else if (m_bTrailerLineEmpty)
                m_state = State::Done;
            else
            {
                m_state = State::Trailer;
                m_bTrailerLineEmpty = true;
            }
            break;
        case State::Done:
            break; // what follows the last chunk is not the body's
        case State::Broken:
            return false;
        }
    }
    return m_state != State::Broken;
}

void NtripResponse::Feed(std::string_view bytes, std::string& body)
{
    if (m_kind == Kind::Pending)
    {
        m_head.append(bytes);
        ReadHead(body);
        return;
    }
    // A refusal's body, if any, says nothing the status line did not.
    if ((m_kind != Kind::Stream && m_kind != Kind::Sourcetable) || m_bBroken)
        return;
    if (m_bChunked)
    {
        m_bBroken = !m_chunks.Feed(bytes, body);
        return;
    }
    if (m_contentLength)
        bytes = bytes.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), *m_contentLength - m_nBody)));
    m_nBody += bytes.size();
    body.append(bytes);
}

bool NtripResponse::BodyEnded() const
{
    if (m_bChunked)
        return m_chunks.Ended();
    return m_contentLength && m_nBody >= *m_contentLength;
}

void NtripResponse::ReadHead(std::string& body)
{
    const std::size_t lineEnd = m_head.find('\n');
    if (lineEnd == std::string::npos)
    {
        if (m_head.size() > kMaxHead)
            m_kind = Kind::Malformed;
        return;
    }
    const std::string_view statusLine = Trimmed(std::string_view(m_head).substr(0, lineEnd));
    // "ICY 200 OK", "SOURCETABLE 200 OK", "HTTP/1.1 401 Unauthorized": a word, the code, the reason.
    const std::size_t space = statusLine.find(' ');
    const std::string_view protocol = statusLine.substr(0, space);
    const std::string_view rest = space == std::string_view::npos ? std::string_view() : Trimmed(statusLine.substr(space + 1));
    const bool bIcy = protocol == "ICY";
    const bool bTable = protocol == "SOURCETABLE";
    if (!bIcy && !bTable && !protocol.starts_with("HTTP/1.") && !protocol.starts_with("RTSP/1."))
    {
        m_kind = Kind::Malformed;
        return;
    }
    const std::string_view code = rest.substr(0, rest.find(' '));
    if (code.size() != 3 || !std::all_of(code.begin(), code.end(), [](unsigned char c) { return std::isdigit(c); }))
    {
        m_kind = Kind::Malformed;
        return;
    }
    m_status = std::string(rest);

    std::size_t bodyAt = lineEnd + 1;
    if (bIcy && code == "200")
    {
        // NTRIP 1 sends no headers: the stream follows the status line at once.
        m_kind = Kind::Stream;
    }
    else if (code != "200")
    {
        // A refusal is known by its status line; some casters send nothing after it and hold
        // the connection.
        m_kind = code == "401" ? Kind::Unauthorized : code == "404" ? Kind::NotFound : Kind::Refused;
        m_head.clear();
        return;
    }
    else
    {
        // The headers run to the first empty line.
        bool bSourcetableType = false;
        std::size_t at = lineEnd + 1;
        for (;;)
        {
            const std::size_t eol = m_head.find('\n', at);
            if (eol == std::string::npos)
            {
                if (m_head.size() > kMaxHead)
                    m_kind = Kind::Malformed;
                if (m_kind == Kind::Malformed)
                    return;
                m_bChunked = false;
                m_contentLength.reset();
                return;
            }
            const std::string_view line = Trimmed(std::string_view(m_head).substr(at, eol - at));
            at = eol + 1;
            if (line.empty())
                break;
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos)
                continue;
            const std::string name = Lowered(Trimmed(line.substr(0, colon)));
            const std::string value = Lowered(Trimmed(line.substr(colon + 1)));
            if (name == "transfer-encoding" && value.find("chunked") != std::string::npos)
                m_bChunked = true;
            else if (name == "content-type" && value.starts_with("gnss/sourcetable"))
                bSourcetableType = true;
            else if (name == "content-length")
            {
                if (const auto length = Number(value); length && *length >= 0)
                    m_contentLength = static_cast<std::uint64_t>(*length);
            }
        }
        bodyAt = at;
        m_kind = bTable || bSourcetableType ? Kind::Sourcetable : Kind::Stream;
    }
    const std::string after = m_head.substr(bodyAt);
    m_head.clear();
    m_head.shrink_to_fit();
    Feed(after, body);
}

std::optional<NtripStream> ParseStrLine(std::string_view line)
{
    line = Trimmed(line);
    // STR;mountpoint;identifier;format;format-details;carrier;nav-system;network;country;
    // latitude;longitude;nmea;solution;generator;compression;authentication;fee;bitrate;misc
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t semicolon = line.find(';', start);
        cells.emplace_back(line.substr(start, semicolon == std::string_view::npos ? std::string_view::npos : semicolon - start));
        if (semicolon == std::string_view::npos)
            break;
        start = semicolon + 1;
    }
    if (cells.size() < 2 || cells[0] != "STR" || cells[1].empty())
        return std::nullopt;
    const auto cell = [&](std::size_t i) { return i < cells.size() ? cells[i] : std::string(); };
    NtripStream stream;
    stream.mountpoint = cells[1];
    stream.identifier = cell(2);
    stream.format = cell(3);
    stream.formatDetails = cell(4);
    stream.systems = cell(6);
    stream.country = cell(8);
    const auto latitude = Number(cell(9));
    const auto longitude = Number(cell(10));
    if (latitude && longitude && std::abs(*latitude) <= 90.0)
    {
        stream.latitude = *latitude;
        // Some casters give 0 to 360 degrees east.
        stream.longitude = *longitude > 180.0 ? *longitude - 360.0 : *longitude;
        stream.hasPosition = true;
    }
    stream.wantsGga = cell(11) == "1";
    return stream;
}

std::vector<NtripStream> ParseSourcetable(std::string_view body)
{
    std::vector<NtripStream> streams;
    while (!body.empty())
    {
        const std::size_t eol = body.find('\n');
        const std::string_view line = body.substr(0, eol);
        body.remove_prefix(eol == std::string_view::npos ? body.size() : eol + 1);
        if (Trimmed(line) == "ENDSOURCETABLE")
            break;
        if (auto stream = ParseStrLine(line))
            streams.push_back(std::move(*stream));
    }
    return streams;
}

void SortByDistance(std::vector<NtripStream>& streams, std::optional<double> latitude,
                    std::optional<double> longitude)
{
    if (!latitude || !longitude)
        return;
    const Ecef here = EcefOf({*latitude, *longitude, 0.0});
    for (NtripStream& stream : streams)
        stream.distanceM = stream.hasPosition
                               ? std::optional<double>(DistanceBetween(here, EcefOf({stream.latitude, stream.longitude, 0.0})))
                               : std::nullopt;
    // Streams without a position go last, in the caster's order.
    std::stable_sort(streams.begin(), streams.end(),
                     [](const NtripStream& a, const NtripStream& b)
                     {
                         if (!a.distanceM || !b.distanceM)
                             return a.distanceM.has_value() && !b.distanceM.has_value();
                         return *a.distanceM < *b.distanceM;
                     });
}

bool IsGgaWithFix(std::string_view sentence)
{
    if (sentence.size() < 7 || sentence[0] != '$' || sentence.substr(3, 4) != "GGA," || !IsChecksumValid(sentence))
        return false;
    const std::vector<NmeaField> fields = SplitFields(sentence);
    return fields.size() > 6 && fields[6].size() == 1 && fields[6][0] >= '1' && fields[6][0] <= '8';
}
