#pragma once

#include "discovery/PortDiscovery.h"

#include <string>

// Serial devices that exist only as links made by other programs (the simulated receiver,
// pseudo-terminal bridges, rfcomm binds) are not in sysfs. Links placed in this folder are
// offered as ports by their full path: $XDG_RUNTIME_DIR/orvane/ports, else
// /tmp/orvane-<uid>/ports.
std::string PublishedPortsFolder();

// Reports the full path of every entry of the folder that leads to a character device, in
// natural name order.
void EnumeratePublishedPortsAt(const std::string& folder, const PortNameSink& sink);
