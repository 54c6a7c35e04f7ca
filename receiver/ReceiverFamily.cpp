#include "receiver/ReceiverFamily.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace
{

struct FamilyRow
{
    ReceiverFamily family;
    std::string_view name;
    std::string_view token;
};

constexpr std::array kFamilies = {
    FamilyRow{ReceiverFamily::SiRF, "SiRF", "sirf"},
    FamilyRow{ReceiverFamily::UBlox, "u-blox", "ublox"},
    FamilyRow{ReceiverFamily::MediaTek, "MediaTek", "mediatek"},
    FamilyRow{ReceiverFamily::Airoha, "Airoha", "airoha"},
    FamilyRow{ReceiverFamily::Quectel, "Quectel", "quectel"},
    FamilyRow{ReceiverFamily::ST, "ST", "st"},
    FamilyRow{ReceiverFamily::CASIC, "CASIC", "casic"},
};

constexpr std::array kKnown = [] {
    std::array<ReceiverFamily, kFamilies.size()> families{};
    for (std::size_t i = 0; i < kFamilies.size(); ++i)
        families[i] = kFamilies[i].family;
    return families;
}();

const FamilyRow* RowOf(ReceiverFamily family)
{
    const auto it = std::find_if(kFamilies.begin(), kFamilies.end(),
                                 [family](const FamilyRow& row) { return row.family == family; });
    return it == kFamilies.end() ? nullptr : &*it;
}

} // namespace

std::span<const ReceiverFamily> KnownFamilies()
{
    return kKnown;
}

std::string_view FamilyName(ReceiverFamily family)
{
    const FamilyRow* row = RowOf(family);
    return row ? row->name : std::string_view();
}

std::string_view FamilyToken(ReceiverFamily family)
{
    const FamilyRow* row = RowOf(family);
    return row ? row->token : std::string_view();
}

std::optional<ReceiverFamily> ParseFamilyToken(std::string_view token)
{
    for (const FamilyRow& row : kFamilies)
        if (std::equal(token.begin(), token.end(), row.token.begin(), row.token.end(),
                       [](unsigned char a, unsigned char b) { return std::tolower(a) == b; }))
            return row.family;
    return std::nullopt;
}
