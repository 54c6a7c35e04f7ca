#pragma once

#include "gps/GpsData.h"

// Finds where the receiver's fix epochs end in its stream. An epoch is the run of sentences that
// share one UTC time of day, to the millisecond (10 Hz receivers send ten a second); sentences
// without a time belong to the epoch under way. It reads the record as it stood right after
// each line, so the window and orvane-nmea, fed the same lines, find the same epochs.
class EpochDetector
{
public:
    // The first line opens an epoch: for a stream read from its beginning.
    EpochDetector() = default;
    // Joined under way, with the record as it stood then: the epoch under way (whose start
    // was not seen, and whose values may be an earlier connection's) is not reported; the
    // first reported is the one the next new time opens.
    explicit EpochDetector(const GpsData& known) : m_last(known), m_bOpenOnFirst(false) {}

    // The record right after a line. True when that line began a new epoch after one under
    // way; `ended` then holds the record as that epoch left it.
    bool Feed(const GpsData& after, GpsData& ended);
    // The epoch under way at the end of the stream; false when none began.
    bool Finish(GpsData& ended);

private:
    GpsData m_last{};
    bool m_bOpenOnFirst = true;
    bool m_bPending = false;
};
