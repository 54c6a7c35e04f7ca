// Any bytes as received lines: framing, splitting and every decoder must cope, and the record
// must stay whole however the sentences of every talker follow one another.
#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace
{

// The record's own bookkeeping: runs of slots that fit the record, nothing past their end.
void CheckRecord(const GpsData& gps)
{
    int total = 0;
    for (const std::uint8_t slots : gps.decode.groupSlots)
        total += slots;
    if (total > kSatelliteSlots)
        __builtin_trap();
    for (int i = total; i < kSatelliteSlots; ++i)
    {
        const SatelliteInfo& sat = gps.satellites[i];
        if (sat.prn != 0 || sat.used || sat.talker != Talker::None)
            __builtin_trap();
    }
}

// The line with its checksum put right, so that DecodeSentence gets past the test.
std::string Sealed(std::string_view line)
{
    std::string body(line.substr(0, line.find('*')));
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
        body.pop_back();
    body += '*';
    char tail[8];
    std::snprintf(tail, sizeof tail, "%02X\r\n", ComputeChecksum(body));
    return body + tail;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // The live record persists across sentences in the device, so keep one across inputs.
    static GpsData gps;
    DecodeSentence(input, gps);

    // The decoders are public and make no checksum test: drive them past it as well.
    GpsData direct;
    DecodeGGA(input, direct);
    DecodeRMC(input, direct);
    DecodeGSA(input, direct);
    DecodeGSV(input, direct);

    // Every line of the input, sealed, into one record: GSV cycles of several talkers and
    // signals, GSAs per system and fixes of several talkers meet here.
    GpsData stream;
    for (std::size_t start = 0; start < input.size();)
    {
        const std::size_t lf = input.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? input.size() : lf + 1;
        DecodeSentence(Sealed(input.substr(start, end - start)), stream);
        CheckRecord(stream);
        start = end;
    }
    CheckRecord(gps);
    CheckRecord(direct);

    (void)IsChecksumValid(input);
    (void)ComputeChecksum(input);
    const auto fields = SplitFields(input);
    if (fields.empty())
        __builtin_trap();
    return 0;
}
