#pragma once

#include "gps/GpsData.h"

#include <string_view>

// Decodes one received line (up to and including its LF) into the live record. GGA, RMC, GSA
// and GSV are decoded from the talkers GP, GN, GL, GA, GB, BD, GQ, QZ and GI; lines with an
// invalid checksum, no comma or any other identifier change nothing. Never throws.
//
// Combined and single-constellation fixes. Some receivers send a GN fix beside GP and GL ones
// in the same second. The position (with speed and course) follows one talker at a time:
// GN outranks GP, GP outranks the other single constellations; a talker of lower rank than
// the one the position follows changes none of it, unless that talker has been silent for 3 s
// or more by the sentence's own UTC time. The altitude follows its GGA talker by the same
// rule. Time and date are taken from every talker.
//
// Satellites in view. GSV listings are kept per constellation, each in a run of slots of its
// own (GPS first), so a GLONASS listing never touches the GPS satellites; within a run the
// slot is 4 x (message - 1) + position, as the receiver lists them. An empty SNR means "not
// tracked" (0). When the last message of a cycle arrives, the slots of messages the cycle did
// not send, and those past its last message, are emptied. NMEA 4.10 receivers repeat a
// listing once per signal (the signal id after the last satellite): the first signal seen
// lays out the slots, the others only raise a satellite's SNR to its strongest signal (or add
// a satellite the first signal did not list).
//
// Satellites used. Each GSA speaks for one constellation: the system id of NMEA 4.10 (field
// 18) where the sentence has one, else its talker, else (GN) the PRN range of its first
// satellite. It recomputes the used flags of that constellation only. A GN GSA with no
// satellites and no system id clears every flag when it reports no fix, and none otherwise.
//
// Each decoder stores its fields one at a time; a field that does not convert abandons the
// rest of that sentence and keeps what was stored before it. A sentence that ends early skips
// every step that needs a field it does not carry; the steps it can feed still run.
void DecodeSentence(std::string_view line, GpsData& gps);

// Sentence decoders: no checksum test of their own (DecodeSentence makes it). Never throw.
void DecodeGGA(std::string_view line, GpsData& gps);
void DecodeRMC(std::string_view line, GpsData& gps);
void DecodeGSA(std::string_view line, GpsData& gps);
void DecodeGSV(std::string_view line, GpsData& gps);

// ddd.mmmmmm (degrees, point, minutes digits) to decimal degrees; works for negative values.
float NmeaCoordinateToDegrees(float value);
