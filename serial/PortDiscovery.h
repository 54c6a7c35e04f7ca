#pragma once

#include <functional>
#include <string>
#include <string_view>

// Which serial ports exist, and which of them is the receiver's USB bridge. Port names are the
// ones OpenPort takes: COM3 on Windows, the kernel's name (ttyUSB0, ttyACM0, ttyS0) on Linux.

using PortNameSink = std::function<void(const std::wstring&)>;

// Reports each port present to the sink, in the order found (the caller sorts). An empty sink
// is allowed: the search still runs.
void EnumerateComPorts(const PortNameSink& sink);

// Sets out to the receiver's port name, or to an empty name when no receiver is present, and
// returns true. Returns false, leaving out untouched, only when the device list cannot be read.
bool FindReceiverPort(std::wstring& out);

// The same two searches over another file-system root (tests build a fake sysfs tree):
// sysRoot stands for /sys and devRoot for /dev.
void EnumerateComPortsAt(const std::string& sysRoot, const std::string& devRoot,
                         const PortNameSink& sink);
bool FindReceiverPortAt(const std::string& sysRoot, std::wstring& out);

// Serial devices that exist only as links made by other programs (the simulated receiver,
// pseudo-terminal bridges, rfcomm binds) are not in sysfs. Links placed in this folder are
// offered as ports by their full path: $XDG_RUNTIME_DIR/orvane/ports, else
// /tmp/orvane-<uid>/ports.
std::string PublishedPortsFolder();
// Reports the full path of every entry of the folder that leads to a character device, in
// natural name order.
void EnumeratePublishedPortsAt(const std::string& folder, const PortNameSink& sink);

// ---- Matching rules, shared by every platform's source -------------------------------------

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

// What sysfs tells about one tty (/sys/class/tty/<name>).
struct TtyDeviceInfo
{
    std::wstring name;        // kernel name: ttyUSB0
    bool hasDevice = false;   // a "device" link that resolves: real hardware behind it
    int uartType = -1;        // serial core's "type" attribute, -1 when absent or unreadable
    bool serial8250 = false;  // the serial8250 platform driver sits on the device's path
    std::string driver;       // driver bound to the tty's device: pl2303, cdc_acm, ftdi_sio
    std::string usbVendor;    // idVendor/idProduct of the USB device above, lower-case hex,
    std::string usbProduct;   // empty when there is none
};

// A port worth listing: real hardware behind it, and no serial8250 placeholder (a slot the
// driver reserves whether or not a UART answers: type 0, or unknown type under serial8250).
bool IsPresentPort(const TtyDeviceInfo& tty);

// The Prolific PL2303 bridge: USB id 067b:2303, or any device the pl2303 driver serves.
bool IsReceiverBridge(const TtyDeviceInfo& tty);

// The name the bridge's Windows driver would show, with the kernel name in the parentheses:
// "Prolific USB-to-Serial Comm Port (ttyUSB0)". Empty for any other device.
std::wstring FriendlyNameOf(const TtyDeviceInfo& tty);
