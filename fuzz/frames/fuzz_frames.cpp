// Any bytes as a receiver's stream: the framer must cut the same frames however the bytes are
// split, deliver only whole frames whose checksums hold, and every frame must decode and
// print without harm. The input's payload is also sealed into UBX frames of every NAV
// message, so that the decoders are reached past the checksum.
#include "gps/FrameText.h"
#include "gps/Framer.h"
#include "gps/Rtcm3.h"
#include "gps/UbxDecoders.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace
{

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// A frame as delivered: bounded, whole, its checksum right.
void CheckFrame(const Frame& frame)
{
    const std::string_view bytes = frame.bytes;
    switch (frame.kind)
    {
    case FrameKind::Nmea:
        Check(bytes.size() <= Framer::kMaxLineLength);
        Check(bytes.find('\0') == std::string_view::npos);
        break;
    case FrameKind::Ubx:
    {
        Check(bytes.size() >= 8 && bytes.size() <= Framer::kMaxUbxPayload + 8);
        Check(UbxPayload(bytes).size() == (std::size_t{static_cast<std::uint8_t>(bytes[4])} | std::size_t{static_cast<std::uint8_t>(bytes[5])} << 8));
        const std::uint16_t sum = UbxChecksum(bytes.substr(2, bytes.size() - 4));
        Check(static_cast<std::uint8_t>(bytes[bytes.size() - 2]) == (sum & 0xFF));
        Check(static_cast<std::uint8_t>(bytes[bytes.size() - 1]) == (sum >> 8));
        break;
    }
    case FrameKind::Rtcm3:
        Check(bytes.size() >= 6 && bytes.size() <= Framer::kMaxRtcm3Payload + 6);
        Check(Crc24q(bytes) == 0); // a CRC-24Q over data and its own CRC is zero
        break;
    }
}

std::vector<Frame> Cut(std::string_view input, std::size_t piece)
{
    Framer framer;
    std::vector<Frame> frames;
    Frame frame;
    for (std::size_t at = 0; at < input.size(); at += piece)
    {
        framer.Feed(input.substr(at, piece));
        while (framer.Next(frame))
            frames.push_back(frame);
    }
    framer.Finish();
    while (framer.Next(frame))
        frames.push_back(frame);
    std::size_t delivered = 0;
    for (const Frame& f : frames)
        delivered += f.bytes.size();
    Check(delivered + framer.SkippedBytes() <= input.size());
    return frames;
}

std::string Sealed(std::uint8_t cls, std::uint8_t id, std::string_view payload)
{
    std::string body;
    body += static_cast<char>(cls);
    body += static_cast<char>(id);
    body += static_cast<char>(payload.size() & 0xFF);
    body += static_cast<char>((payload.size() >> 8) & 0xFF);
    body += payload;
    const std::uint16_t sum = UbxChecksum(body);
    return "\xB5\x62" + body + static_cast<char>(sum & 0xFF) + static_cast<char>(sum >> 8);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses how the rest arrives.
    const std::size_t piece = 1 + data[0] % 97;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::vector<Frame> whole = Cut(input, input.size() + 1);
    const std::vector<Frame> pieces = Cut(input, piece);
    Check(whole.size() == pieces.size());
    static GpsData gps; // one live record across inputs, as in the device
    for (std::size_t i = 0; i < whole.size(); ++i)
    {
        Check(whole[i].kind == pieces[i].kind && whole[i].bytes == pieces[i].bytes);
        CheckFrame(whole[i]);
        DecodeFrame(whole[i], gps);
        (void)FrameText(whole[i]);
        (void)DecodeMonVer(whole[i].bytes);
        if (whole[i].kind == FrameKind::Rtcm3)
        {
            if (const auto station = DecodeStationPosition(whole[i].bytes))
                (void)StationDistance(*station, gps);
        }
    }

    // The input as the payload of every NAV message and of MON-VER, into one record.
    static constexpr std::uint8_t kIds[] = {0x02, 0x03, 0x04, 0x06, 0x07, 0x12, 0x20, 0x21, 0x30, 0x35, 0x43, 0x61};
    GpsData sealed;
    const std::string_view payload = input.substr(0, Framer::kMaxUbxPayload);
    for (const std::uint8_t id : kIds)
    {
        Frame frame{FrameKind::Ubx, Sealed(0x01, id, payload)};
        DecodeFrame(frame, sealed);
        (void)FrameText(frame);
    }
    (void)FrameText({FrameKind::Ubx, Sealed(0x0A, 0x04, payload)});
    (void)DecodeMonVer(Sealed(0x0A, 0x04, payload));
    for (const SatelliteInfo& sat : sealed.satellites)
        Check(sat.prn == 0 || sat.talker != Talker::None);
    return 0;
}
