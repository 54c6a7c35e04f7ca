#pragma once

#include "io/RingBuffer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What a receiver's byte stream is cut into.
enum class FrameKind : std::uint8_t
{
    Nmea,  // one line, LF included, exactly as the line cutting of the port hands it on
    Ubx,   // B5 62, class, id, length (LE), payload, CK_A, CK_B; checksum verified
    Rtcm3, // D3, 6 zero bits and a 10-bit length, payload, CRC-24Q; CRC verified
};

struct Frame
{
    FrameKind kind = FrameKind::Nmea;
    std::string bytes; // the whole frame as received (an NMEA line cut at its first NUL)
};

// UBX's 8-bit Fletcher checksum over class, id, length and payload: CK_A in the low byte,
// CK_B in the high one.
std::uint16_t UbxChecksum(std::string_view classToPayload);
// RTCM3's CRC-24Q (Qualcomm) over the header and payload.
std::uint32_t Crc24q(std::string_view bytes);

// A UBX frame's class, id and payload; the frame must be a whole verified UBX frame.
std::uint8_t UbxClass(std::string_view frame);
std::uint8_t UbxId(std::string_view frame);
std::string_view UbxPayload(std::string_view frame);
// An RTCM3 frame's payload (without header and CRC).
std::string_view Rtcm3Payload(std::string_view frame);

// The length of the verified UBX or RTCM3 frame `bytes` begin with; 0 when they begin none
// (also when its bytes run past their end).
std::size_t BinaryFrameLength(std::string_view bytes);
// Whether a UBX or RTCM3 frame may begin at this byte.
constexpr bool IsBinarySyncByte(char c)
{
    return c == '\xB5' || c == '\xD3';
}

// The leading comment lines of a capture as gpsd stores one (each begins with '#' and ends
// with LF): how many bytes they take. Only the leading lines count; a later '#' is data.
std::size_t CaptureHeaderLength(std::string_view bytes);

// Cuts a byte stream, fed in pieces of any size, into NMEA lines, UBX frames and RTCM3 frames.
// No I/O, no clock: the same bytes give the same frames however they are split.
//
// Text is cut into lines as the port's line cutting does (see RingBuffer::ReadLine): every
// line up to its LF, at most RingBuffer::kMaxLineLength bytes (a longer one is dropped whole),
// cut at its first NUL; checksums are left to the NMEA layer. A binary frame is recognised at
// any byte, inside a line too, and one whose checksum holds wins: the unfinished line before it
// is skipped. Once a binary frame has come, bytes outside frames are skipped up to the next '$'
// or '!' that starts a line, so that junk between frames is never glued to a sentence. A sync byte
// that starts no valid frame is text inside a line; at a line's start it is skipped, and
// skipping goes on as after a binary frame. Frames are bounded (kMaxUbxPayload,
// kMaxRtcm3Payload), so a false sync holds the stream back by at most one frame's length.
class Framer
{
public:
    static constexpr std::size_t kMaxUbxPayload = 8192;
    static constexpr std::size_t kMaxRtcm3Payload = 1023;
    static constexpr std::size_t kMaxLineLength = RingBuffer::kMaxLineLength;

    // Appends received bytes.
    void Feed(std::string_view bytes);
    // The end of the stream: a frame still waiting for bytes will not get them. A last line
    // without its LF is not a line and is not delivered, as in the port.
    void Finish();
    // Takes the next complete frame into `frame` (its string's storage is reused); false while
    // more bytes are needed.
    bool Next(Frame& frame);

    // Bytes that belonged to no frame delivered so far (junk, broken frames, over-long lines).
    std::uint64_t SkippedBytes() const { return m_nSkipped; }

private:
    enum class Mode : std::uint8_t
    {
        Text,       // bytes from m_nStart to m_nAt are the line under way
        Junk,       // after binary: waiting for the '$' or '!' of a line
        Discarding, // the rest of an over-long line, up to its LF
    };
    void Skip(std::size_t count);
    Mode AfterLine() const;

    std::string m_buffer;
    std::size_t m_nStart = 0; // first byte not yet delivered or skipped
    std::size_t m_nAt = 0;    // first byte not yet looked at
    Mode m_mode = Mode::Text;
    bool m_bFinished = false;
    bool m_bBinarySeen = false; // a binary frame has come: lines start at '$' or '!'
    std::uint64_t m_nSkipped = 0;
};
