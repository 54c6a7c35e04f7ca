#pragma once

#include "gps/GpsData.h"

#include <string_view>

// Decodes one received line (up to and including its LF) into the live record. Lines with an
// invalid checksum, no comma or an identifier other than $GPGGA/$GPRMC/$GPGSA/$GPGSV change
// nothing. Never throws.
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
