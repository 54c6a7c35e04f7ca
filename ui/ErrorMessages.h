#pragma once

#include "io/PortError.h"
#include "net/NtripClient.h"
#include "playback/LogPlayer.h"

#include <string>

// What the user is told when the receiver cannot be reached or goes away, or a file of
// Orvane's cannot be had, together so that the wording is read and changed in one place.

inline constexpr wchar_t kErrorCaption[] = L"Error";
// A receiver that went away is a warning under the program's name.
inline constexpr wchar_t kDeviceLostCaption[] = L"Orvane";

// The port at `devicePath`, or the network source written as gpsd://, tcp:// or udp://, could
// not be opened; baudRate is the rate it was opened at.
std::wstring DescribeOpenFailure(const std::wstring& devicePath, PortError error, int systemError, int baudRate);
// Connect was pressed with no port chosen.
std::wstring NoPortChosenText();
// Save could not write the settings file at `path`; systemError is the errno value.
std::wstring DescribeSettingsSaveFailure(const std::wstring& path, int systemError);
// The receiver on `path` (a device path or a network source) went away while connected.
std::wstring DescribeDeviceLost(const std::wstring& path);
// A recorded log that cannot be played, and why.
std::wstring DescribeLogFailure(const std::wstring& path, LogError error, int systemError);
// The player reached the end of the log at `path`.
std::wstring LogEndedText(const std::wstring& path);

// The corrections and the share, as the terminal and the panel say them. `where` is the
// caster's NtripDisplayName: never its credentials.
std::wstring CorrectionsAddressInvalidText();
std::wstring DescribeCorrectionsStatus(const std::string& where, const NtripStatus& status);
std::wstring ShareAddressInvalidText(const std::wstring& address);
std::wstring DescribeShareFailure(const std::wstring& address, int systemError);
