#pragma once

#include <functional>
#include <string>

// Which serial ports exist, and which of them is the receiver. Port names are the ones OpenPort
// takes: COM3 on Windows; on Linux the stable /dev/serial/by-id/ path of a USB device, the
// kernel's name (ttyS0, ttyUSB0) for any other port, or the full path of a published link.

using PortNameSink = std::function<void(const std::wstring&)>;

// One port as the port list shows it.
struct PortInfo
{
    std::wstring name;       // what is opened and saved: /dev/serial/by-id/usb-..., ttyS0
    std::wstring kernelName; // ttyACM0; empty for a published link
    std::wstring label;      // for a person: "u-blox 7 GNSS receiver (ttyACM0)"; ttyS0
    bool receiver = false;   // a device recognised as a GPS receiver
};

using PortInfoSink = std::function<void(const PortInfo&)>;

// Reports each port present to the sink, in the order found (the caller sorts). An empty sink
// is allowed: the search still runs.
void EnumerateComPorts(const PortNameSink& sink);
void EnumeratePorts(const PortInfoSink& sink);

// Sets out to the first receiver's port name, or to an empty name when no receiver is present,
// and returns true. Returns false, leaving out untouched, only when the device list cannot be
// read.
bool FindReceiverPort(std::wstring& out);
