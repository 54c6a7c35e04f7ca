#pragma once

#include <string>

// What sysfs tells about one tty (/sys/class/tty/<name>) and the USB device above it.
struct TtyDeviceInfo
{
    std::wstring name;        // kernel name: ttyUSB0
    bool hasDevice = false;   // a "device" link that resolves: real hardware behind it
    int uartType = -1;        // serial core's "type" attribute, -1 when absent or unreadable
    bool serial8250 = false;  // the serial8250 platform driver sits on the device's path
    std::string driver;       // driver bound to the tty's device: pl2303, cdc_acm, ftdi_sio
    std::string usbVendor;    // idVendor/idProduct of the USB device above, lower-case hex,
    std::string usbProduct;   // empty when there is none
    std::string usbProductName; // the USB device's product string: "u-blox 7 - GPS/GNSS Receiver"
};

// A port worth listing: real hardware behind it, and no serial8250 placeholder (a slot the
// driver reserves whether or not a UART answers: type 0, or unknown type under serial8250).
bool IsPresentPort(const TtyDeviceInfo& tty);

// Reads /sys/class/tty/<name> under sysRoot (a fake tree in tests).
TtyDeviceInfo InspectTty(const std::string& sysRoot, const std::string& name);
