#pragma once

#include "discovery/SysfsTty.h"

#include <span>
#include <string>
#include <string_view>

// Which USB serial devices are GPS receivers, and how the port list names them. Pure rules over
// what sysfs reports; the udev rule that keeps ModemManager away is written from the same table.

struct ReceiverUsbId
{
    std::string_view vendor;  // lower-case hex, as sysfs writes it
    std::string_view product;
    std::string_view label;   // what the port list calls it; empty: the product string
};

// u-blox 5 to 9, SiRF and MediaTek receivers, and the Prolific PL2303 bridge.
std::span<const ReceiverUsbId> KnownReceiverIds();

// The row for a USB id, letter case ignored; null for any other device.
const ReceiverUsbId* FindReceiverId(std::string_view vendor, std::string_view product);

// A product string that names GPS or GNSS as a word of its own ("u-blox 7 - GPS/GNSS Receiver",
// "USB GPS"), letter case ignored; "GPSDO" or "LoGNSSer" do not.
bool ProductNamesGnss(std::string_view productString);

// The Prolific PL2303 bridge: USB id 067b:2303, or any device the pl2303 driver serves.
bool IsReceiverBridge(const TtyDeviceInfo& tty);

// A known receiver id, the PL2303 bridge, or a USB device whose product string names GPS/GNSS.
bool IsReceiver(const TtyDeviceInfo& tty);

// The receiver's bridge as its Windows driver names it; the port list shows the same name.
inline constexpr std::wstring_view kReceiverFriendlyName = L"Prolific USB-to-Serial Comm Port";

// The name the bridge's Windows driver would show, with the kernel name in the parentheses:
// "Prolific USB-to-Serial Comm Port (ttyUSB0)". Empty for any other device.
std::wstring FriendlyNameOf(const TtyDeviceInfo& tty);

// What the port list shows: "u-blox 7 GNSS receiver (ttyACM0)" from the id table, the PL2303's
// friendly name, else "<product string> (ttyUSB0)" for a USB device, else the kernel name.
std::wstring PortLabelOf(const TtyDeviceInfo& tty);
