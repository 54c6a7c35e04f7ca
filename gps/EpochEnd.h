#pragma once

#include "gps/EpochDetector.h"
#include "gps/GpsData.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Tells the last line of an epoch as it arrives. The epoch detector knows an epoch ended only
// when the next one begins; so this learns which sentence ended the last epoch (its address and
// how many of that address came before it in the epoch: "GPGSV" third, say) and takes that
// sentence as the end of the next. A receiver that changes its order is followed one epoch late.
class EpochEnd
{
public:
    // A line and the record right after it.
    EpochMarks Feed(std::string_view sentence, const GpsData& after);

private:
    // The sentence's address and its count among this epoch's lines of that address.
    std::string KeyOf(std::string_view sentence);

    EpochDetector m_epochs;
    std::string m_ender;
    std::string m_previousKey;
    std::vector<std::pair<std::string, int>> m_seen;
    bool m_bFirst = true;
};
