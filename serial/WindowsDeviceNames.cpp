#include "serial/WindowsDeviceNames.h"

#include <algorithm>

bool IsComPortName(std::wstring_view deviceName)
{
    return deviceName.starts_with(L"COM");
}

void ReportComPortNames(std::wstring_view nameList, const PortNameSink& sink)
{
    std::size_t pos = 0;
    while (pos < nameList.size())
    {
        std::size_t end = nameList.find(L'\0', pos);
        if (end == std::wstring_view::npos)
            end = nameList.size();
        const std::wstring_view name = nameList.substr(pos, end - pos);
        if (name.empty())
            break;
        if (IsComPortName(name) && sink)
            sink(std::wstring(name));
        pos = end + 1;
    }
}

bool IsReceiverFriendlyName(std::wstring_view friendlyName)
{
    return friendlyName.find(kReceiverFriendlyName) != std::wstring_view::npos;
}

bool ComPortFromFriendlyName(std::wstring_view friendlyName, std::wstring& port)
{
    const std::size_t open = friendlyName.find(L"(COM");
    if (open == std::wstring_view::npos)
        return false;
    // The closing mark is looked for after "(COM": a ")" earlier in the name ("(rev. B)")
    // would otherwise give a negative span.
    const std::size_t first = open + 1;
    const std::size_t close = friendlyName.find(L')', first);
    if (close == std::wstring_view::npos)
        return false;
    port.assign(friendlyName.substr(first, std::min(close - first, kMaxComNameLength)));
    return true;
}
