#pragma once

#include "net/SourceAddress.h"

#include <string>
#include <string_view>
#include <vector>

// The device paths a gpsd reports as activated (held open) in one DEVICES reply line; the
// devices it only knows of are left out.
std::vector<std::string> ActivatedGpsdDevices(std::string_view devicesLine);

// Asks the gpsd at `gpsd` for its DEVICES within timeoutMs and puts the paths it holds open
// into `paths`. False when no gpsd answers there.
bool AskGpsdForDevices(const SourceAddress& gpsd, int timeoutMs, std::vector<std::string>& paths);
