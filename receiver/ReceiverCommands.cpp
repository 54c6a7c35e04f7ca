#include "receiver/ReceiverCommands.h"

#include "gps/NmeaFraming.h"

#include <cstdio>
#include <cctype>

namespace
{

// The fields of the SiRF reset message before its reset configuration: position 0,0,0 (the
// receiver keeps its own), clock offset, time of week, week number and channel count.
constexpr std::string_view kSirfResetPrefix = "PSRF101,0,0,0,96000,497260,921,12,";

constexpr std::uint8_t kUbxCfg = 0x06;
constexpr std::uint8_t kUbxCfgRst = 0x04;
constexpr std::uint8_t kUbxMon = 0x0A;
constexpr std::uint8_t kUbxMonVer = 0x04;
constexpr std::uint8_t kUbxCfgMsg = 0x01;
constexpr std::uint8_t kUbxCfgValset = 0x8A;
constexpr std::uint8_t kUbxNav = 0x01;
// CFG-RST reset mode: stop and start the GNSS part only.
constexpr char kUbxGnssOnly = 0x02;

// The families whose commands are NMEA sentences without fields to fill: hot, warm, cold.
struct NmeaRestarts
{
    ReceiverFamily family;
    std::string_view bodies[3];
};
constexpr NmeaRestarts kNmeaRestarts[] = {
    {ReceiverFamily::MediaTek, {"PMTK101", "PMTK102", "PMTK103"}},
    {ReceiverFamily::Airoha, {"PAIR004", "PAIR005", "PAIR006"}},
    {ReceiverFamily::Quectel, {"PQTMHOT", "PQTMWARM", "PQTMCOLD"}},
    {ReceiverFamily::ST, {"PSTMHOT", "PSTMWARM", "PSTMCOLD"}},
    {ReceiverFamily::CASIC, {"PCAS10,0", "PCAS10,1", "PCAS10,2"}},
};

int Index(RestartKind kind)
{
    return static_cast<int>(kind);
}

std::string UbxRestart(RestartKind kind)
{
    // navBbrMask (little endian): what is cleared from battery-backed memory.
    static constexpr std::uint16_t kMasks[] = {0x0000, 0x0001, 0xFFFF};
    const std::uint16_t mask = kMasks[Index(kind)];
    const char payload[] = {static_cast<char>(mask & 0xFF), static_cast<char>(mask >> 8),
                            kUbxGnssOnly, 0};
    return UbxMessage(kUbxCfg, kUbxCfgRst, std::string_view(payload, sizeof payload));
}

std::string_view Body(std::string_view line)
{
    const auto star = line.find('*');
    return line.substr(0, star);
}

bool IsValidSentence(std::string_view line)
{
    std::string whole(line);
    if (!whole.ends_with('\n'))
        whole += "\r\n";
    return IsChecksumValid(whole);
}

} // namespace

std::string NmeaCommand(std::string_view body)
{
    std::string line = "$";
    line += body;
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", static_cast<unsigned>(ComputeChecksum(line)));
    return line + tail;
}

std::string UbxMessage(std::uint8_t messageClass, std::uint8_t messageId, std::string_view payload)
{
    std::string message = "\xB5\x62";
    message += static_cast<char>(messageClass);
    message += static_cast<char>(messageId);
    message += static_cast<char>(payload.size() & 0xFF);
    message += static_cast<char>((payload.size() >> 8) & 0xFF);
    message += payload;
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    for (std::size_t i = 2; i < message.size(); ++i)
    {
        a = static_cast<std::uint8_t>(a + static_cast<std::uint8_t>(message[i]));
        b = static_cast<std::uint8_t>(b + a);
    }
    message += static_cast<char>(a);
    message += static_cast<char>(b);
    return message;
}

std::optional<std::string> RestartCommand(ReceiverFamily family, RestartKind kind)
{
    const int k = Index(kind);
    switch (family)
    {
    case ReceiverFamily::Unknown:
    case ReceiverFamily::SiRF:
    {
        static constexpr char kResetConfig[] = {'1', '2', '4'};
        return NmeaCommand(std::string(kSirfResetPrefix) + kResetConfig[k]);
    }
    case ReceiverFamily::UBlox:
        return UbxRestart(kind);
    default:
        for (const NmeaRestarts& row : kNmeaRestarts)
            if (row.family == family)
                return NmeaCommand(row.bodies[k]);
    }
    return std::nullopt;
}

bool AnswersRestart(ReceiverFamily family, RestartKind kind, std::string_view line)
{
    if (!IsValidSentence(line))
        return false;
    const std::string_view body = Body(line);
    switch (family)
    {
    case ReceiverFamily::MediaTek:
        // Sent by every start of the receiver, ours or any other.
        return body == "$PMTK010,001";
    case ReceiverFamily::Airoha:
    {
        // The acknowledgement names the command it answers: $PAIR001,006,<result>.
        static constexpr std::string_view kCommands[] = {"004", "005", "006"};
        const std::vector<NmeaField> fields = SplitFields(body);
        return fields.size() == 3 && fields[0] == "$PAIR001" && fields[1] == kCommands[Index(kind)] &&
               !fields[2].empty();
    }
    default:
        return false;
    }
}

std::string VersionQueries()
{
    return UbxMessage(kUbxMon, kUbxMonVer, {}) + NmeaCommand("PMTK605") + NmeaCommand("PQTMVERNO") +
           NmeaCommand("PCAS06,0");
}

namespace
{
// The NAV messages turned on, with their CFG-MSGOUT keys for UART1 and USB (u-blox
// generation 9 interface description) and the protocol version that brought them.
struct NavOutput
{
    std::uint8_t id;
    std::uint32_t uart1Key;
    std::uint32_t usbKey;
    int since;
    int until; // the CFG-MSG list stops at this version (the older set); 0: none
};
constexpr NavOutput kNavOutputs[] = {
    {0x07, 0x20910007, 0x20910009, 1400, 0}, // NAV-PVT
    {0x35, 0x20910016, 0x20910018, 1500, 0}, // NAV-SAT
    {0x43, 0x20910346, 0x20910348, 2700, 0}, // NAV-SIG
    {0x04, 0x20910039, 0x2091003B, 0, 0},    // NAV-DOP
    {0x61, 0x20910160, 0x20910162, 1800, 0}, // NAV-EOE
    {0x06, 0, 0, 0, 1500},                   // NAV-SOL
    {0x02, 0, 0, 0, 1500},                   // NAV-POSLLH
    {0x12, 0, 0, 0, 1500},                   // NAV-VELNED
    {0x30, 0, 0, 0, 1500},                   // NAV-SVINFO
};

void PutLittleEndian(std::string& out, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string NavValset()
{
    // Version 0, the RAM layer only, two reserved bytes, then key and one-byte rate pairs.
    std::string payload{'\x00', '\x01', '\x00', '\x00'};
    for (const NavOutput& output : kNavOutputs)
    {
        if (output.uart1Key == 0)
            continue;
        for (const std::uint32_t key : {output.uart1Key, output.usbKey})
        {
            PutLittleEndian(payload, key, 4);
            payload += '\x01';
        }
    }
    return UbxMessage(kUbxCfg, kUbxCfgValset, payload);
}

std::string NavCfgMsg(int protocol)
{
    std::string commands;
    for (const NavOutput& output : kNavOutputs)
    {
        if (protocol < output.since || (output.until != 0 && protocol >= output.until))
            continue;
        const char payload[] = {static_cast<char>(kUbxNav), static_cast<char>(output.id), 1};
        commands += UbxMessage(kUbxCfg, kUbxCfgMsg, std::string_view(payload, sizeof payload));
    }
    return commands;
}
} // namespace

std::optional<int> UbxProtocolVersion(std::span<const std::string> extensions)
{
    for (const std::string& extension : extensions)
    {
        if (!extension.starts_with("PROTVER"))
            continue;
        // Read by hand: strtod follows the locale, which the window sets from the user's.
        std::size_t at = extension.find_first_of("0123456789");
        if (at == std::string::npos)
            continue;
        int whole = 0;
        int digits = 0;
        for (; at < extension.size() && std::isdigit(static_cast<unsigned char>(extension[at])) && digits < 3; ++at, ++digits)
            whole = whole * 10 + (extension[at] - '0');
        int hundredths = 0;
        if (at + 1 < extension.size() && extension[at] == '.' && std::isdigit(static_cast<unsigned char>(extension[at + 1])))
        {
            hundredths = (extension[at + 1] - '0') * 10;
            if (at + 2 < extension.size() && std::isdigit(static_cast<unsigned char>(extension[at + 2])))
                hundredths += extension[at + 2] - '0';
        }
        if (whole > 0 && whole < 100)
            return whole * 100 + hundredths;
    }
    return std::nullopt;
}

std::optional<std::string> EnableUbxCommand(ReceiverFamily family, std::optional<int> protocolVersion)
{
    if (family != ReceiverFamily::UBlox)
        return std::nullopt;
    if (!protocolVersion)
        return NavValset() + NavCfgMsg(kUbxValsetProtocol - 1);
    if (*protocolVersion >= kUbxValsetProtocol)
        return NavValset();
    return NavCfgMsg(*protocolVersion);
}
