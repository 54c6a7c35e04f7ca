#pragma once

#include "serial/PortDiscovery.h"

#include <cstddef>
#include <string>
#include <string_view>

// How Windows names serial devices: the MS-DOS device list (QueryDosDevice) and the friendly
// names of the device installation service (SetupAPI). These are the rules for those two
// sources only; Linux recognises receivers by their USB ids (ReceiverRecognition.h).

// The receiver's bridge as its Windows driver names it.
inline constexpr std::wstring_view kReceiverFriendlyName = L"Prolific USB-to-Serial Comm Port";
inline constexpr std::size_t kMaxComNameLength = 7;

// A device name that begins with "COM", letter case significant (COMPORTX passes, com1 not).
bool IsComPortName(std::wstring_view deviceName);

// Walks a list of NUL-terminated names ended by an empty name (QueryDosDevice's form) and
// reports each COM name. The walk also stops at the end of the view.
void ReportComPortNames(std::wstring_view nameList, const PortNameSink& sink);

// A friendly name containing kReceiverFriendlyName, letter case significant.
bool IsReceiverFriendlyName(std::wstring_view friendlyName);

// The text from the first "(COM" up to the next ")", at most kMaxComNameLength characters:
// "Prolific USB-to-Serial Comm Port (COM5)" gives COM5. False when either mark is missing.
bool ComPortFromFriendlyName(std::wstring_view friendlyName, std::wstring& port);
