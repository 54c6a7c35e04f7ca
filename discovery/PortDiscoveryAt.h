#pragma once

#include "discovery/PortDiscovery.h"

#include <string>

// The searches of PortDiscovery.h over another file-system root, so that tests can run them on
// a fake tree: sysRoot stands for /sys and devRoot for /dev. Published links are not included.

// False when sysRoot's tty class cannot be read; the names probed under devRoot are reported
// then, as plain kernel names.
bool EnumeratePortsAt(const std::string& sysRoot, const std::string& devRoot, const PortInfoSink& sink);
void EnumerateComPortsAt(const std::string& sysRoot, const std::string& devRoot,
                         const PortNameSink& sink);
// Kernel names only: no by-id folder is looked at.
bool FindReceiverPortAt(const std::string& sysRoot, std::wstring& out);
bool FindReceiverPortAt(const std::string& sysRoot, const std::string& devRoot, std::wstring& out);
