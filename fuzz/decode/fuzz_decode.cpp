// Any bytes as one received line: framing, splitting and every decoder must cope.
#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);

    // The live record persists across sentences in the device, so keep one across inputs.
    static GpsData gps;
    DecodeSentence(line, gps);

    // The decoders are public and make no checksum test: drive them past it as well.
    GpsData direct;
    DecodeGGA(line, direct);
    DecodeRMC(line, direct);
    DecodeGSA(line, direct);
    DecodeGSV(line, direct);

    (void)IsChecksumValid(line);
    (void)ComputeChecksum(line);
    const auto fields = SplitFields(line);
    if (fields.empty())
        __builtin_trap();
    return 0;
}
