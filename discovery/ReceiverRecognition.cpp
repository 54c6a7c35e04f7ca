#include "discovery/ReceiverRecognition.h"

#include "util/WideText.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace
{
// gpsd's udev rules list the same devices; the SiRF row is the Prolific variant inside the
// SiRFstar III pucks (Pharos / Microsoft GPS-360).
constexpr std::array kReceiverIds = {
    ReceiverUsbId{"1546", "01a5", "u-blox 5 GNSS receiver"},
    ReceiverUsbId{"1546", "01a6", "u-blox 6 GNSS receiver"},
    ReceiverUsbId{"1546", "01a7", "u-blox 7 GNSS receiver"},
    ReceiverUsbId{"1546", "01a8", "u-blox 8 GNSS receiver"},
    ReceiverUsbId{"1546", "01a9", "u-blox 9 GNSS receiver"},
    ReceiverUsbId{"067b", "aaa0", "SiRF GPS receiver"},
    ReceiverUsbId{"0e8d", "3329", "MediaTek GPS receiver"},
    ReceiverUsbId{"067b", "2303", ""},
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::wstring WithKernelName(std::wstring text, const std::wstring& kernelName)
{
    text += L" (";
    text += kernelName;
    text += L')';
    return text;
}
} // namespace

std::span<const ReceiverUsbId> KnownReceiverIds()
{
    return kReceiverIds;
}

const ReceiverUsbId* FindReceiverId(std::string_view vendor, std::string_view product)
{
    for (const ReceiverUsbId& row : kReceiverIds)
        if (EqualsIgnoringCase(row.vendor, vendor) && EqualsIgnoringCase(row.product, product))
            return &row;
    return nullptr;
}

bool ProductNamesGnss(std::string_view productString)
{
    std::size_t pos = 0;
    while (pos < productString.size())
    {
        const auto isWordChar = [](unsigned char c) { return std::isalnum(c) != 0; };
        while (pos < productString.size() && !isWordChar(productString[pos]))
            ++pos;
        std::size_t end = pos;
        while (end < productString.size() && isWordChar(productString[end]))
            ++end;
        const std::string_view word = productString.substr(pos, end - pos);
        if (EqualsIgnoringCase(word, "GPS") || EqualsIgnoringCase(word, "GNSS"))
            return true;
        pos = end;
    }
    return false;
}

bool IsReceiverBridge(const TtyDeviceInfo& tty)
{
    if (tty.usbVendor == "067b" && tty.usbProduct == "2303")
        return true;
    return tty.driver == "pl2303";
}

bool IsReceiver(const TtyDeviceInfo& tty)
{
    if (FindReceiverId(tty.usbVendor, tty.usbProduct) || IsReceiverBridge(tty))
        return true;
    return !tty.usbVendor.empty() && ProductNamesGnss(tty.usbProductName);
}

std::wstring FriendlyNameOf(const TtyDeviceInfo& tty)
{
    if (!IsReceiverBridge(tty))
        return {};
    return WithKernelName(std::wstring(kReceiverFriendlyName), tty.name);
}

std::wstring PortLabelOf(const TtyDeviceInfo& tty)
{
    if (const ReceiverUsbId* row = FindReceiverId(tty.usbVendor, tty.usbProduct); row && !row->label.empty())
        return WithKernelName(FromUtf8(row->label), tty.name);
    if (std::wstring friendly = FriendlyNameOf(tty); !friendly.empty())
        return friendly;
    if (!tty.usbVendor.empty() && !tty.usbProductName.empty())
        return WithKernelName(FromUtf8(tty.usbProductName), tty.name);
    return tty.name;
}
