#pragma once

#include "gps/EpochDetector.h"
#include "gps/Framer.h"
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
    // Any frame and the record right after it. UBX messages take part by name, as sentences do
    // by address; NAV-EOE is the receiver's own word that its epoch is complete. RTCM3 frames
    // belong to no epoch.
    EpochMarks Feed(const Frame& frame, const GpsData& after);

private:
    static std::string_view AddressOf(std::string_view sentence);
    // The address and its count among this epoch's lines of that address.
    std::string KeyOf(std::string_view address);
    EpochMarks Marks(std::string_view address, const GpsData& after);

    EpochDetector m_epochs;
    std::string m_ender;
    std::string m_previousKey;
    std::vector<std::pair<std::string, int>> m_seen;
    bool m_bFirst = true;
};
