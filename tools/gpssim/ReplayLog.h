#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The sentences of one second of a log, as the receiver sent them together.
struct ReplayCycle
{
    double offset = 0.0;            // seconds after the first cycle of a pass
    std::optional<double> time;     // UTC seconds of the day the cycle's sentences carry
    std::vector<std::string> lines; // as in the file, line ends kept
};

// An NMEA log (an Orvane recording or a receiver capture) cut into cycles and timed from the
// sentences' own UTC times, for replay at the recorded pace. `#` lines are comments.
class ReplayLog
{
public:
    // Between two cycles when either has no time.
    static constexpr double kUntimedStep = 1.0;
    // A recorded gap longer than this, or time going backwards, is replayed as kUntimedStep.
    static constexpr double kLongestGap = 60.0;

    bool Load(const std::string& path, std::string& error);
    void Parse(std::string_view content);

    const std::vector<ReplayCycle>& Cycles() const { return m_cycles; }
    std::size_t LineCount() const;
    // Seconds from the start of one pass to the start of the next, when looping.
    double Period() const;
    // When cycle `index` of pass `pass` starts, in seconds after the first pass began.
    double Offset(std::size_t pass, std::size_t index) const;

private:
    void Schedule();

    std::vector<ReplayCycle> m_cycles;
};

// The UTC time a sentence carries, in seconds of the day; nullopt when it has none or its
// checksum is wrong (a damaged sentence is no clock). Any talker: GGA, RMC, GNS, GBS, GST, ZDA
// in field 1, GLL in field 5.
std::optional<double> SentenceTime(std::string_view line);
