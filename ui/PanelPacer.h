#pragma once

#include "gps/EpochEnd.h"
#include "util/FloodMeter.h"

#include <cstdint>
#include <functional>
#include <utility>

// When the status panel shows what came. A receiver sends a fix as a run of sentences; drawing
// the panel for each of them costs a redraw a sentence and shows half-updated fixes. So the panel
// is drawn once a fix epoch is complete, at once for the first sentence after a silence, and no
// more often than every kFloodRepaintMs while sentences flood. Where an epoch ends is told by
// the lines' epoch marks; when the receiver changes its order, the start of a new epoch, a pause
// of kQuietMs, or kLatestMs since the first line not shown draw what waits.
// The clock is given, so that the rule is tested without waiting.
class PanelPacer
{
public:
    // No line for this long, and the next is drawn at once.
    static constexpr std::int64_t kSilenceMs = 1500;
    // Sentences of one epoch come back to back: at 4800 baud the longest takes 170 ms.
    static constexpr std::int64_t kQuietMs = 250;
    // A stream without times has no epochs: it is still drawn this often.
    static constexpr std::int64_t kLatestMs = 1000;
    static constexpr std::int64_t kFloodRepaintMs = 250;

    // Milliseconds on a steady clock.
    using Clock = std::function<std::int64_t()>;
    explicit PanelPacer(Clock now) : m_now(std::move(now)) {}

    // A line the document took, with where it stands in the epochs.
    void Line(EpochMarks marks);
    // Milliseconds until the panel should be drawn: 0 now, -1 when nothing waits.
    std::int64_t Due() const;
    // The panel was drawn with every line given so far.
    void Drawn();
    // The stream ended (disconnected): the next line starts afresh, as after a silence.
    void Reset();

private:
    Clock m_now;
    std::int64_t m_nLastLineMs = -1;
    std::int64_t m_nFirstWaitingMs = -1;
    std::int64_t m_nDrawnMs = -1;
    std::size_t m_nWaiting = 0;
    bool m_bComplete = false;
    FloodMeter m_flood;
};
