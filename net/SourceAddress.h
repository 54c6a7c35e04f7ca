#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A receiver reached over the network, written in the port list as a person would:
// gpsd://HOST[:PORT], tcp://HOST:PORT or udp://[HOST][:PORT].
struct SourceAddress
{
    enum class Kind
    {
        Gpsd, // gpsd's watch stream: its NMEA lines are the receiver's, its JSON is skipped
        Tcp,  // a TCP client: every byte is the receiver's
        Udp   // a listener on the port: each datagram's lines are the receiver's
    };

    static constexpr std::uint16_t kGpsdPort = 2947;
    static constexpr std::uint16_t kNmeaUdpPort = 10110;

    Kind kind = Kind::Tcp;
    // Without brackets for IPv6; empty for udp:// means every local address.
    std::string host;
    std::uint16_t port = 0;
};

// Splits "HOST", "HOST:PORT", "[IPv6]" or "[IPv6]:PORT" (the host may be empty); false when
// the host holds a character no host name has or the port is not 1 to 65535.
bool ParseHostAndPort(std::string_view text, std::string& host, std::optional<std::uint16_t>& port);
// True for a text that starts with gpsd://, tcp:// or udp:// in any letter case: a network
// source, whether or not the rest is well formed.
bool IsNetworkSourceText(std::wstring_view text);
// The source a text names; nullopt when it is no network source or is not well formed.
std::optional<SourceAddress> ParseSourceAddress(std::wstring_view text);
// "HOST:PORT" as the messages show it ("[::1]:2947" for IPv6; "*:10110" for every address).
std::string HostAndPort(const SourceAddress& source);
