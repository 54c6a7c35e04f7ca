#pragma once

// The corpus's RTCM3 stream and the frames it holds, as the framer cuts them.

#include "gps/Framer.h"
#include "support/Files.h"

#include <string>
#include <vector>

// The capture without its leading comment lines.
inline std::string CorpusRtcm3Bytes()
{
    const std::string bytes = ReadFile(std::string(ORVANE_CORPUS_DIR) + "/rtcm3.2.rtcm3");
    return bytes.substr(CaptureHeaderLength(bytes));
}

inline std::vector<std::string> Rtcm3FramesOf(const std::string& bytes)
{
    Framer framer;
    framer.Feed(bytes);
    framer.Finish();
    std::vector<std::string> frames;
    for (Frame frame; framer.Next(frame);)
        if (frame.kind == FrameKind::Rtcm3)
            frames.push_back(frame.bytes);
    return frames;
}
