#pragma once

#include "gps/Framer.h"
#include "receiver/ReceiverFamily.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

// Who the receiver is, as far as it has said.
struct ReceiverIdentity
{
    ReceiverFamily family = ReceiverFamily::Unknown;
    std::string model;    // "M8", "MT3333", "Quectel L70", "AT6558"; empty when not said
    std::string firmware; // "ROM CORE 3.01", "AXN_3.8"; empty when not said
    std::string bridge;   // a USB-serial bridge that names no family: "PL2303", "CP210x", "FTDI"
    // A u-blox's UBX protocol version times 100 ("PROTVER=18.00" is 1800), from its banner or
    // MON-VER; it tells which commands the receiver takes.
    std::optional<int> protocolVersion;

    bool operator==(const ReceiverIdentity&) const = default;

    // One short line: "u-blox M8 (ROM CORE 3.01)", "MediaTek MT3333 (AXN_3.8)", "Quectel L70
    // (AXN_3.8)" (a product name stands alone), "CASIC"; a bridge alone: "PL2303 bridge";
    // empty when nothing is known.
    std::string DisplayName() const;
};

// Recognises the receiver from what it says of itself: start-up banners, TXT sentences,
// proprietary sentences, the answers to the version queries, and the USB id of its port. Weak
// signs (a CASIC antenna report, a u-blox buffer warning, a Quectel status sentence) name a
// family only until a sure one comes; the first sure sign decides the family for good. Model
// and firmware are taken from the family's own messages as they come.
class ReceiverRecogniser
{
public:
    // One line from the receiver, with or without its CR LF; lines with a wrong checksum are
    // ignored. True when the identity changed.
    bool FeedLine(std::string_view line);
    // The decoded strings of a UBX MON-VER answer.
    bool FeedMonVer(std::string_view software, std::string_view hardware,
                    std::span<const std::string> extensions);
    // A frame as the reader delivers it: an NMEA line as FeedLine takes it, a UBX MON-VER
    // answer as FeedMonVer; other frames say nothing of the receiver.
    bool FeedFrame(FrameKind kind, std::string_view bytes);
    // The USB vendor and product id of the port (lower- or upper-case hex, as sysfs writes).
    bool FeedUsbId(std::string_view vendor, std::string_view product);

    const ReceiverIdentity& Identity() const { return m_identity; }
    bool FamilyKnown() const { return m_identity.family != ReceiverFamily::Unknown; }
    // Forgets everything: another receiver, or the same one connected again.
    void Reset() { *this = ReceiverRecogniser(); }

private:
    enum class Sign : unsigned char
    {
        None,
        Weak,
        Sure,
    };

    // Claims the family; false when a surer sign already named another one.
    bool Claim(ReceiverFamily family, Sign sign);
    void UBloxText(std::string_view text);
    void UBloxHardware(std::string_view hardware);
    void SetModel(std::string_view model, bool bSure = true);
    void SetProtocolVersion(std::span<const std::string> texts);
    void SetFirmware(std::string_view firmware, int rank);
    bool Recognise(std::string_view body);

    ReceiverIdentity m_identity;
    Sign m_sign = Sign::None;
    bool m_bModelSure = false;
    int m_nFirmwareRank = 0; // a better source replaces a lesser one
};
