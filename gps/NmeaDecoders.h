#pragma once

#include "gps/GpsData.h"

#include <string_view>

// Decodes one received line (up to and including its LF) into the live record. Lines with an
// invalid checksum, no comma or an identifier other than $GPGGA/$GPRMC/$GPGSA/$GPGSV change
// nothing. Never throws.
void DecodeSentence(std::string_view line, GpsData& gps);

void DecodeGGA(std::string_view line, GpsData& gps);
void DecodeRMC(std::string_view line, GpsData& gps);
void DecodeGSA(std::string_view line, GpsData& gps);
void DecodeGSV(std::string_view line, GpsData& gps);

float NmeaCoordinateToDegrees(float value);
