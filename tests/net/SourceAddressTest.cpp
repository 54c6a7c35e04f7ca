// Network sources as a person types them, gpsd's stream with its JSON taken out, and the
// devices gpsd says it holds.
#include "net/GpsdQuery.h"
#include "net/SocketDevice.h"
#include "net/SourceAddress.h"

#include <gtest/gtest.h>

#include <cwchar>

#include <string>
#include <vector>

namespace
{
using Kind = SourceAddress::Kind;
} // namespace

TEST(SourceAddress, TypedSourcesAndTheirDefaults)
{
    const struct
    {
        const wchar_t* text;
        Kind kind;
        const char* host;
        std::uint16_t port;
        const char* shown;
    } rows[] = {
        {L"gpsd://localhost", Kind::Gpsd, "localhost", 2947, "localhost:2947"},
        {L"gpsd://", Kind::Gpsd, "localhost", 2947, "localhost:2947"},
        {L"gpsd://127.0.0.1:2948", Kind::Gpsd, "127.0.0.1", 2948, "127.0.0.1:2948"},
        {L"gpsd://[::1]", Kind::Gpsd, "::1", 2947, "[::1]:2947"},
        {L"GPSD://Pi-Boat.local:2947/", Kind::Gpsd, "Pi-Boat.local", 2947, "Pi-Boat.local:2947"},
        {L"tcp://192.168.4.1:11123", Kind::Tcp, "192.168.4.1", 11123, "192.168.4.1:11123"},
        {L"tcp://[fe80::1]:10110", Kind::Tcp, "fe80::1", 10110, "[fe80::1]:10110"},
        {L"udp://:10110", Kind::Udp, "", 10110, "*:10110"},
        {L"udp://", Kind::Udp, "", 10110, "*:10110"},
        {L"udp://2000", Kind::Udp, "", 2000, "*:2000"},
        {L"udp://127.0.0.1", Kind::Udp, "127.0.0.1", 10110, "127.0.0.1:10110"},
        {L"Udp://127.0.0.1:5000", Kind::Udp, "127.0.0.1", 5000, "127.0.0.1:5000"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(std::string(row.text, row.text + std::wcslen(row.text)));
        EXPECT_TRUE(IsNetworkSourceText(row.text));
        const std::optional<SourceAddress> source = ParseSourceAddress(row.text);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->kind, row.kind);
        EXPECT_EQ(source->host, row.host);
        EXPECT_EQ(source->port, row.port);
        EXPECT_EQ(HostAndPort(*source), row.shown);
    }
}

TEST(SourceAddress, MalformedSourcesAndPortNames)
{
    const struct
    {
        const wchar_t* text;
        bool network; // written as a network source, whether or not well formed
    } rows[] = {
        {L"tcp://127.0.0.1", true},     // tcp needs a port
        {L"tcp://:5000", true},         // and a host
        {L"tcp://host:0", true},        // no port 0
        {L"tcp://host:65536", true},    // nor above 65535
        {L"gpsd://host:29x", true},     // digits only
        {L"gpsd://[::1", true},         // bracket left open
        {L"gpsd://[::1]x", true},       // something after the bracket
        {L"gpsd://[]", true},           // an empty address
        {L"udp://host name:10110", true},
        {L"ttyUSB0", false},
        {L"/dev/ttyUSB0", false},
        {L"pts/4", false},
        {L"http://127.0.0.1:2947", false},
        {L"", false},
    };
    for (const auto& row : rows)
    {
        const std::string text(row.text, row.text + std::wcslen(row.text));
        EXPECT_EQ(IsNetworkSourceText(row.text), row.network) << text;
        EXPECT_FALSE(ParseSourceAddress(row.text)) << text;
    }
}

TEST(GpsdJsonFilter, JsonLinesGoAndNmeaStaysHoweverTheStreamIsCut)
{
    const std::string version =
        "{\"class\":\"VERSION\",\"release\":\"3.22\",\"rev\":\"3.22\",\"proto_major\":3}\r\n";
    const std::string watch = "{\"class\":\"WATCH\",\"enable\":true,\"json\":false,\"nmea\":true}\r\n";
    const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    const std::string rmc = "$GPRMC,185244.000,A,4854.2575,N,00219.9816,E,0.00,296.61,210706,,,A*6C\r\n";
    const struct
    {
        const char* name;
        std::string stream;
        std::string kept;
    } rows[] = {
        {"greeting then sentences", version + watch + gga + rmc, gga + rmc},
        {"JSON between sentences", gga + watch + rmc, gga + rmc},
        {"only JSON", version + watch, ""},
        {"brace inside a sentence stays", "$GPTXT,{x}*00\r\n", "$GPTXT,{x}*00\r\n"},
        {"a partial last line", version + gga.substr(0, 10), gga.substr(0, 10)},
        {"empty lines stay", "\r\n" + version + "\n", "\r\n\n"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        // Whole, byte by byte, and in socket-sized pieces: the same bytes are kept.
        for (std::size_t piece : {row.stream.size() + 1, std::size_t{1}, std::size_t{7}, std::size_t{64}})
        {
            GpsdJsonFilter filter;
            std::string kept;
            for (std::size_t at = 0; at < row.stream.size(); at += piece)
            {
                std::string chunk = row.stream.substr(at, piece);
                chunk.resize(filter.Filter(chunk.data(), chunk.size()));
                kept += chunk;
            }
            EXPECT_EQ(kept, row.kept) << "pieces of " << piece;
        }
    }
}

TEST(GpsdDevices, OnlyActivatedDevicesAreHeld)
{
    const struct
    {
        const char* name;
        std::string line;
        std::vector<std::string> held;
    } rows[] = {
        {"one activated",
         R"({"class":"DEVICES","devices":[{"class":"DEVICE","path":"/dev/ttyUSB0","driver":"NMEA0183","activated":"2026-12-08T06:05:31.749Z","flags":1,"native":0,"bps":4800}]})",
         {"/dev/ttyUSB0"}},
        {"known but not open",
         R"({"class":"DEVICES","devices":[{"class":"DEVICE","path":"/dev/ttyUSB0","flags":0}]})",
         {}},
        {"two, one open",
         R"({"class":"DEVICES","devices":[{"class":"DEVICE","path":"/dev/ttyACM0","flags":0},{"class":"DEVICE","path":"/dev/pts/3","activated":"2026-12-08T06:05:31.749Z"}]})",
         {"/dev/pts/3"}},
        {"no devices", R"({"class":"DEVICES","devices":[]})", {}},
        {"another class", R"({"class":"DEVICE","path":"/dev/ttyUSB0","activated":"x"})", {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ActivatedGpsdDevices(row.line), row.held) << row.name;
}
