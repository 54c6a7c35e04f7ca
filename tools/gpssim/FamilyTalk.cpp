#include "tools/gpssim/FamilyTalk.h"

#include "gps/NmeaFraming.h"
#include "receiver/ReceiverCommands.h"

namespace family_talk
{
namespace
{

std::vector<std::string> Sentences(std::initializer_list<std::string_view> bodies)
{
    std::vector<std::string> sentences;
    for (const std::string_view body : bodies)
        sentences.push_back(NmeaCommand(body));
    return sentences;
}

std::string Joined(const std::vector<std::string>& sentences)
{
    std::string bytes;
    for (const std::string& sentence : sentences)
        bytes += sentence;
    return bytes;
}

// A MON-VER string field: the text padded with NULs to its width.
std::string Padded(std::string_view text, std::size_t width)
{
    std::string field(text.substr(0, width));
    field.resize(width, '\0');
    return field;
}

// The body of a valid NMEA line, up to its '*'; empty for anything else.
std::string_view NmeaBody(std::string_view message)
{
    if (!message.starts_with('$') || !IsChecksumValid(message))
        return {};
    return message.substr(0, message.find('*'));
}

constexpr std::string_view kUBloxSoftware = "ROM CORE 3.01 (107888)";
constexpr std::string_view kUBloxHardware = "00080000";
constexpr std::string_view kUBloxExtensions[] = {"FWVER=SPG 3.01", "PROTVER=18.00", "MOD=NEO-M8N-0",
                                                 "GPS;GLO;GAL;BDS", "SBAS;IMES;QZSS"};

constexpr std::string_view kSirfVersion = "PSRFTXT,Version:GSW3.5.0_3.5.00.00-SDK-3EP2.01 ";
constexpr std::string_view kMediaTekRelease = "PMTK705,AXN_3.8_3333_16070500,0000,,1.0";
constexpr std::string_view kAirohaVersion = "PAIR021,AG3335MN_V2.1.0_20231103,S,N";
// An LC29H, Airoha inside, answers Quectel's question too.
constexpr std::string_view kAirohaQuectelVersion = "PQTMVERNO,LC29HBANR11A03S,2023/05/12,15:55:03";
constexpr std::string_view kQuectelVersion = "PQTMVERNO,LG290P03AANR01A01S,2023/07/31,17:38:12";
constexpr std::string_view kCasicSoftware = "GPTXT,01,01,02,SW=URANUS5,V5.3.0.0";

} // namespace

std::string UBloxMonVer()
{
    std::string payload = Padded(kUBloxSoftware, 30) + Padded(kUBloxHardware, 10);
    for (const std::string_view extension : kUBloxExtensions)
        payload += Padded(extension, 30);
    return UbxMessage(0x0A, 0x04, payload);
}

std::vector<std::string> Banner(ReceiverFamily family)
{
    switch (family)
    {
    case ReceiverFamily::SiRF:
        return Sentences({kSirfVersion, "PSRFTXT,Version2:F-GPS-03-0701301",
                          "PSRFTXT,TOW:  258712", "PSRFTXT,WK:   1435", "PSRFTXT,POS:  6378137 0 0",
                          "PSRFTXT,CLK:  96250", "PSRFTXT,CHNL: 12", "PSRFTXT,Baud rate: 4800"});
    case ReceiverFamily::UBlox:
        return Sentences({"GNTXT,01,01,02,u-blox AG - www.u-blox.com", "GNTXT,01,01,02,HW UBX-M8030 00080000",
                          "GNTXT,01,01,02,ROM CORE 3.01 (107888)", "GNTXT,01,01,02,FWVER=SPG 3.01",
                          "GNTXT,01,01,02,PROTVER=18.00", "GNTXT,01,01,02,GPS;GLO;GAL;BDS",
                          "GNTXT,01,01,02,SBAS;IMES;QZSS", "GNTXT,01,01,02,ANTSUPERV=AC SD PDoS SR",
                          "GNTXT,01,01,02,ANTSTATUS=OK"});
    case ReceiverFamily::MediaTek:
        return Sentences({"PMTK011,MTKGPS", "PMTK010,001"});
    case ReceiverFamily::Airoha:
        return Sentences({kAirohaVersion});
    case ReceiverFamily::Quectel:
        return Sentences({kQuectelVersion});
    case ReceiverFamily::ST:
        return Sentences({"PSTMVER,GNSSLIB_8.4.18.25_CP_ARM", "PSTMVER,OS20LIB_4.4.0_ARM",
                          "PSTMVER,GPSAPP_2.10.0_CP_ARM", "PSTMVER,BINIMG_4.6.12.1_CP_LIV3FL_RTC_ARM"});
    case ReceiverFamily::CASIC:
        return Sentences({"GPTXT,01,01,02,MA=CASIC", "GPTXT,01,01,02,IC=AT6558-5N-32-1C510800", kCasicSoftware,
                          "GPTXT,01,01,02,TB=2020-03-26,13:25:12", "GPTXT,01,01,02,MO=GB",
                          "GPTXT,01,01,01,ANTENNA OK"});
    case ReceiverFamily::Unknown:
        break;
    }
    return {};
}

std::string Answer(ReceiverFamily family, std::string_view message)
{
    if (family == ReceiverFamily::UBlox)
    {
        if (message == UbxMessage(0x0A, 0x04, {}))
            return UBloxMonVer();
        // Configuration is answered as an M8 does: CFG-MSG acknowledged, CFG-VALSET (generation
        // 9 and later) refused.
        if (message.size() >= 8 && message.starts_with("\xB5\x62\x06"))
        {
            const char answered[] = {0x06, message[3]};
            if (message[3] == 0x01)
                return UbxMessage(0x05, 0x01, std::string_view(answered, 2));
            if (message[3] == static_cast<char>(0x8A))
                return UbxMessage(0x05, 0x00, std::string_view(answered, 2));
        }
        return {};
    }
    const std::string_view body = NmeaBody(message);
    if (body.empty())
        return {};
    switch (family)
    {
    case ReceiverFamily::SiRF:
        // Poll software version.
        return body == "$PSRF125" ? NmeaCommand(kSirfVersion) : std::string();
    case ReceiverFamily::MediaTek:
        return body == "$PMTK605" ? NmeaCommand(kMediaTekRelease) : std::string();
    case ReceiverFamily::Airoha:
    {
        if (body == "$PAIR021")
            return NmeaCommand("PAIR001,021,0") + NmeaCommand(kAirohaVersion);
        if (body == "$PQTMVERNO")
            return NmeaCommand(kAirohaQuectelVersion);
        // Every command is acknowledged with its number and a result, 0 for done.
        for (const RestartKind kind : {RestartKind::Hot, RestartKind::Warm, RestartKind::Cold})
        {
            const std::string command = *RestartCommand(family, kind);
            if (body == NmeaBody(command))
                return NmeaCommand("PAIR001," + std::string(body.substr(5)) + ",0");
        }
        return {};
    }
    case ReceiverFamily::Quectel:
        return body == "$PQTMVERNO" ? NmeaCommand(kQuectelVersion) : std::string();
    case ReceiverFamily::ST:
        return body == "$PSTMGETSWVER" || body.starts_with("$PSTMGETSWVER,") ? Joined(Banner(family))
                                                                              : std::string();
    case ReceiverFamily::CASIC:
        return body == "$PCAS06,0" ? NmeaCommand(kCasicSoftware) : std::string();
    case ReceiverFamily::UBlox:
    case ReceiverFamily::Unknown:
        break;
    }
    return {};
}

std::vector<std::string> AfterRestart(ReceiverFamily family)
{
    switch (family)
    {
    case ReceiverFamily::MediaTek:
    case ReceiverFamily::SiRF:
    case ReceiverFamily::CASIC:
        return Banner(family);
    default:
        return {};
    }
}

} // namespace family_talk
