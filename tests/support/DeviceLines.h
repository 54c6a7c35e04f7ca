#pragma once

#include "device/GPSDevice.h"

#include <string>
#include <vector>

// The texts of the lines queued on the device now, oldest first, taken off its queue; `last`,
// when given and a line was queued, gets the record right after the last of them.
inline std::vector<std::string> PopTexts(CGPSDevice& device, GpsData* last = nullptr)
{
    std::vector<ReceivedLine> lines;
    device.PopLines(lines);
    std::vector<std::string> texts;
    texts.reserve(lines.size());
    for (ReceivedLine& line : lines)
        texts.push_back(std::move(line.text));
    if (last && !lines.empty())
        *last = lines.back().gps;
    return texts;
}
