#include "receiver/ReceiverIdentity.h"

#include "discovery/ReceiverRecognition.h"
#include "gps/NmeaFraming.h"
#include "gps/UbxDecoders.h"
#include "receiver/ReceiverCommands.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace
{

// USB-serial bridges found in receivers of every family: they name no family.
struct Bridge
{
    std::string_view vendor;
    std::string_view product;
    std::string_view name;
};
constexpr std::array kBridges = {
    Bridge{"067b", "2303", "PL2303"},
    Bridge{"10c4", "ea60", "CP210x"},
    Bridge{"0403", "6001", "FTDI"},
};

// u-blox generations by the hardware string of the TXT banner ("UBX-G5xxx") or of MON-VER
// ("00040005").
struct UBloxHardwareRow
{
    std::string_view prefix;
    std::string_view generation;
};
constexpr std::array kUBloxHardware = {
    UBloxHardwareRow{"UBX-G5", "5"},    UBloxHardwareRow{"00040005", "5"},
    UBloxHardwareRow{"UBX-G6", "6"},    UBloxHardwareRow{"00040007", "6"},
    UBloxHardwareRow{"UBX-G7", "7"},    UBloxHardwareRow{"00070000", "7"},
    UBloxHardwareRow{"UBX-M8", "M8"},   UBloxHardwareRow{"00080000", "M8"},
    UBloxHardwareRow{"UBX-M9", "M9"},   UBloxHardwareRow{"UBX-F9", "F9"},
    UBloxHardwareRow{"00190000", "9"},  UBloxHardwareRow{"000A0000", "M10"},
};

// SiRF chip generations by the start of their software version.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kSirfGenerations = {{
    {"GSW2", "SiRFstar II"},
    {"GSW3", "SiRFstar III"},
    {"GSD4", "SiRFstar IV"},
    {"GSD5", "SiRFstar V"},
}};

// Firmware sources, the better replacing the lesser.
enum FirmwareRank
{
    kRomBase = 1,
    kRomCore,
    kExtCore,
    kMonVer,
    kOwnAnswer,
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](unsigned char a, unsigned char b) {
               return std::tolower(a) == std::tolower(b);
           });
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\0'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// Up to the first of `stops`, trimmed.
std::string_view UpTo(std::string_view text, std::string_view stops)
{
    return Trim(text.substr(0, text.find_first_of(stops)));
}

std::string Joined(const std::vector<NmeaField>& fields, std::size_t from)
{
    std::string text;
    for (std::size_t i = from; i < fields.size(); ++i)
    {
        if (i > from)
            text += ',';
        text += fields[i];
    }
    return text;
}

// "LG290P03AANR01A01S" -> "LG290P", "LC29HBANR11A03S" -> "LC29H": letters, digits, one letter.
std::string_view QuectelModel(std::string_view version)
{
    std::size_t end = 0;
    while (end < version.size() && std::isalpha(static_cast<unsigned char>(version[end])))
        ++end;
    while (end < version.size() && std::isdigit(static_cast<unsigned char>(version[end])))
        ++end;
    if (end < version.size() && std::isalpha(static_cast<unsigned char>(version[end])))
        ++end;
    return version.substr(0, end);
}

} // namespace

std::string ReceiverIdentity::DisplayName() const
{
    if (family == ReceiverFamily::Unknown)
        return bridge.empty() ? std::string() : bridge + " bridge";
    const std::string_view name = FamilyName(family);
    std::string text;
    if (model.empty())
        text = name;
    else if (model.starts_with(name) || model.starts_with("Quectel "))
        text = model;
    else
        text = std::string(name) + " " + model;
    if (!firmware.empty())
        text += " (" + firmware + ")";
    return text;
}

bool ReceiverRecogniser::Claim(ReceiverFamily family, Sign sign)
{
    if (family == m_identity.family)
    {
        m_sign = std::max(m_sign, sign);
        return true;
    }
    // A sure sign is never overruled; a weak one only by a sure one.
    if (m_sign == Sign::Sure || (m_sign == Sign::Weak && sign == Sign::Weak))
        return false;
    m_identity.family = family;
    m_identity.model.clear();
    m_identity.firmware.clear();
    m_bModelSure = false;
    m_nFirmwareRank = 0;
    m_sign = sign;
    return true;
}

void ReceiverRecogniser::SetProtocolVersion(std::span<const std::string> texts)
{
    if (const std::optional<int> version = UbxProtocolVersion(texts))
        m_identity.protocolVersion = version;
}

void ReceiverRecogniser::SetModel(std::string_view model, bool bSure)
{
    model = Trim(model);
    if (model.empty() || (m_bModelSure && !bSure))
        return;
    m_identity.model = model;
    m_bModelSure = bSure;
}

void ReceiverRecogniser::SetFirmware(std::string_view firmware, int rank)
{
    firmware = Trim(firmware);
    if (firmware.empty() || rank < m_nFirmwareRank)
        return;
    m_identity.firmware = firmware;
    m_nFirmwareRank = rank;
}

void ReceiverRecogniser::UBloxHardware(std::string_view hardware)
{
    for (const UBloxHardwareRow& row : kUBloxHardware)
        if (StartsWithNoCase(Trim(hardware), row.prefix))
            return SetModel(row.generation);
}

// The text of a TXT sentence: u-blox's start-up banner, and CASIC's banner, antenna report and
// answer to $PCAS06.
void ReceiverRecogniser::UBloxText(std::string_view text)
{
    struct Core
    {
        std::string_view prefix;
        int rank;
    };
    static constexpr Core kCores[] = {{"EXT CORE", kExtCore}, {"ROM CORE", kRomCore}, {"ROM BASE", kRomBase}};

    if (StartsWithNoCase(text, "u-blox") || text.starts_with("PROTVER") || text.starts_with("ANTSUPERV="))
    {
        if (Claim(ReceiverFamily::UBlox, Sign::Sure) && text.starts_with("PROTVER"))
            SetProtocolVersion(std::array{std::string(text)});
        return;
    }
    if (text.starts_with("HW ") && Trim(text.substr(3)).starts_with("UBX-"))
    {
        if (!Claim(ReceiverFamily::UBlox, Sign::Sure))
            return;
        // "HW  UBX-G5xxx  00040005 ": the chip's name, then the hardware version.
        const std::string_view rest = Trim(text.substr(3));
        UBloxHardware(rest);
        return;
    }
    for (const Core& core : kCores)
    {
        if (text.starts_with(core.prefix))
        {
            if (Claim(ReceiverFamily::UBlox, Sign::Sure))
                SetFirmware(UpTo(text, "("), core.rank);
            return;
        }
    }
    if (text.starts_with("MOD=") || text.starts_with("MOD "))
    {
        if (m_identity.family == ReceiverFamily::UBlox)
            SetModel(text.substr(4), false);
        return;
    }
    if (text.starts_with("ANTSTATUS=") || text == "txbuf alloc")
    {
        Claim(ReceiverFamily::UBlox, Sign::Weak);
        return;
    }
    if (text.starts_with("MA=CASIC"))
    {
        Claim(ReceiverFamily::CASIC, Sign::Sure);
        return;
    }
    if (text.starts_with("IC=") && Claim(ReceiverFamily::CASIC, Sign::Sure))
    {
        // "IC=AT6558-5N-32-1C510800": the chip, then its variant and serial.
        SetModel(UpTo(text.substr(3), "-"));
        return;
    }
    if (text.starts_with("SW=") && Claim(ReceiverFamily::CASIC, Sign::Sure))
    {
        SetFirmware(text.substr(3), kOwnAnswer);
        return;
    }
    if (text.starts_with("ANTENNA "))
        Claim(ReceiverFamily::CASIC, Sign::Weak);
}

bool ReceiverRecogniser::Recognise(std::string_view body)
{
    const std::vector<NmeaField> fields = SplitFields(body);
    const std::string_view id = fields.front();
    const auto field = [&fields](std::size_t i) { return i < fields.size() ? std::string_view(fields[i]) : std::string_view(); };

    if (id.size() == 6 && id.ends_with("TXT") && fields.size() >= 5)
    {
        const std::string text = Joined(fields, 4);
        UBloxText(Trim(text));
        return true;
    }
    if (id == "$PUBX")
        return Claim(ReceiverFamily::UBlox, Sign::Sure);
    if (id.starts_with("$PMTK"))
    {
        if (!Claim(ReceiverFamily::MediaTek, Sign::Sure) || id != "$PMTK705")
            return true;
        // $PMTK705,AXN_3.8_3333_16070500,<build>,<product>,<sdk>: release, chip in its third part.
        const std::string_view release = field(1);
        const auto first = release.find('_');
        const auto second = first == std::string_view::npos ? first : release.find('_', first + 1);
        SetFirmware(release.substr(0, second), kOwnAnswer);
        const std::string_view product = field(3);
        if (product.starts_with("QUECTEL-"))
            SetModel("Quectel " + std::string(product.substr(8)));
        else if (second != std::string_view::npos)
            SetModel("MT" + std::string(UpTo(release.substr(second + 1), "_")));
        return true;
    }
    if (id.starts_with("$PAIR"))
    {
        if (!Claim(ReceiverFamily::Airoha, Sign::Sure) || (id != "$PAIR021" && id != "$PAIR020"))
            return true;
        // $PAIR021,AG3335MN_V2.1.0_20231103,...: the chip, then the version.
        const std::string_view version = field(1);
        if (version.starts_with("AG"))
        {
            std::size_t end = 2;
            while (end < version.size() && std::isdigit(static_cast<unsigned char>(version[end])))
                ++end;
            SetModel(version.substr(0, end));
            const auto under = version.find('_');
            if (under != std::string_view::npos)
                SetFirmware(UpTo(version.substr(under + 1), "_,"), kOwnAnswer);
        }
        return true;
    }
    if (id == "$PQTMVERNO")
    {
        // The LC29H and LC79H answer too; their chip is Airoha's.
        const std::string_view version = field(1);
        const std::string_view model = QuectelModel(version);
        const bool bAiroha = model.size() == 5 && model.starts_with("LC") && model.ends_with('H');
        if (Claim(bAiroha ? ReceiverFamily::Airoha : ReceiverFamily::Quectel, Sign::Sure) && !version.empty())
        {
            SetModel("Quectel " + std::string(model));
            SetFirmware(version, kOwnAnswer);
        }
        return true;
    }
    if (id.starts_with("$PQTM"))
        return Claim(ReceiverFamily::Quectel, Sign::Weak);
    if (id.starts_with("$PSTM"))
    {
        if (!Claim(ReceiverFamily::ST, Sign::Sure))
            return true;
        SetModel("Teseo", false);
        // $PSTMVER,GNSSLIB_8.4.18.25_CP_ARM: the library's version is the firmware's.
        if (id == "$PSTMVER" && field(1).starts_with("GNSSLIB_"))
            SetFirmware("GNSSLIB " + std::string(UpTo(field(1).substr(8), "_")), kOwnAnswer);
        return true;
    }
    if (id.starts_with("$PSRF"))
    {
        if (!Claim(ReceiverFamily::SiRF, Sign::Sure) || id != "$PSRFTXT")
            return true;
        // $PSRFTXT,Version:GSW3.2.4_3.1.00.12-SDK003P1.00a
        const std::string text = Joined(fields, 1);
        if (!text.starts_with("Version:"))
            return true;
        const std::string_view version = UpTo(std::string_view(text).substr(8), " -");
        SetFirmware(version, kOwnAnswer);
        for (const auto& [prefix, generation] : kSirfGenerations)
            if (version.starts_with(prefix))
                SetModel(generation);
        return true;
    }
    return false;
}

bool ReceiverRecogniser::FeedLine(std::string_view line)
{
    std::string whole(Trim(line));
    whole += "\r\n";
    if (!whole.starts_with('$') || !IsChecksumValid(whole))
        return false;
    const ReceiverIdentity before = m_identity;
    Recognise(std::string_view(whole).substr(0, whole.find('*')));
    return m_identity != before;
}

bool ReceiverRecogniser::FeedMonVer(std::string_view software, std::string_view hardware,
                                    std::span<const std::string> extensions)
{
    const ReceiverIdentity before = m_identity;
    if (!Claim(ReceiverFamily::UBlox, Sign::Sure))
        return false;
    // "ROM CORE 3.01 (107888)": the build number says nothing to a person.
    SetFirmware(UpTo(software, "("), kMonVer);
    UBloxHardware(hardware);
    for (const std::string& extension : extensions)
        if (extension.starts_with("MOD="))
            SetModel(extension.substr(4), false);
    SetProtocolVersion(extensions);
    return m_identity != before;
}

bool ReceiverRecogniser::FeedFrame(FrameKind kind, std::string_view bytes)
{
    if (kind == FrameKind::Nmea)
        return FeedLine(bytes);
    if (kind != FrameKind::Ubx)
        return false;
    const std::optional<UbxVersion> version = DecodeMonVer(bytes);
    return version && FeedMonVer(version->software, version->hardware, version->extensions);
}

bool ReceiverRecogniser::FeedUsbId(std::string_view vendor, std::string_view product)
{
    const ReceiverIdentity before = m_identity;
    const ReceiverUsbId* row = FindReceiverId(vendor, product);
    if (row && !row->label.empty())
    {
        // The port list's label starts with the family's name: "u-blox 7 GNSS receiver".
        for (const ReceiverFamily family : KnownFamilies())
        {
            const std::string_view name = FamilyName(family);
            if (!row->label.starts_with(name) || !Claim(family, Sign::Sure))
                continue;
            // "u-blox 7 GNSS receiver": the generation, until the receiver says more.
            if (family == ReceiverFamily::UBlox)
                SetModel(UpTo(Trim(row->label.substr(name.size())), " "), false);
        }
        return m_identity != before;
    }
    for (const Bridge& bridge : kBridges)
        if (StartsWithNoCase(vendor, bridge.vendor) && vendor.size() == bridge.vendor.size() &&
            StartsWithNoCase(product, bridge.product) && product.size() == bridge.product.size())
            m_identity.bridge = bridge.name;
    return m_identity != before;
}
