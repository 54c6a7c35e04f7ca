#pragma once

#include <optional>
#include <span>
#include <string_view>

// The families of receivers whose commands differ. A Quectel module belongs to the family of
// its chip (L70/L76/L80: MediaTek; LC29H/LC79H: Airoha; L76K: CASIC); Quectel is the family of
// its own LG290P/LG580P.
enum class ReceiverFamily : unsigned char
{
    Unknown,
    SiRF,
    UBlox,
    MediaTek,
    Airoha,
    Quectel,
    ST,
    CASIC,
};

enum class RestartKind : unsigned char
{
    Hot,
    Warm,
    Cold,
};

// Every family but Unknown, in the order menus list them.
std::span<const ReceiverFamily> KnownFamilies();

// As people write it: "SiRF", "u-blox", "MediaTek", "Airoha", "Quectel", "ST", "CASIC"; empty
// for Unknown.
std::string_view FamilyName(ReceiverFamily family);

// The stable token of the settings file and of the simulator's --family: "sirf", "ublox",
// "mediatek", "airoha", "quectel", "st", "casic"; empty for Unknown.
std::string_view FamilyToken(ReceiverFamily family);
// The family of a token, letter case ignored; none for anything else (the empty text too).
std::optional<ReceiverFamily> ParseFamilyToken(std::string_view token);
