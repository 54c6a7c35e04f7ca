#pragma once

#include "gps/GpsData.h"

#include <string_view>

// Decodes one received line (up to and including its LF) into the live record. Lines with an
// invalid checksum, no comma or an identifier not in this table change nothing. Never throws.
//
//   sentence  talkers          fields read (NMEA 2.3 to 4.11)               writes
//   GGA       any              time, lat..E/W, quality, used (7), alt (9)   time, position, altitude, mode, count,
//                                                                           RTK state (quality 4, 5)
//   RMC       any              time, status, lat..E/W, speed, course, date  time, date, position, motion, mode
//   GLL       any              lat, N/S, lon, E/W, time (5), status (6)     time, position, mode
//   GNS       satellite ones   time, lat..E/W, mode letters (6), alt (9)    time, position, altitude, mode
//   VTG       any              course (1), speed in knots (5; 3 before 2.3) speed, course
//   ZDA       any              time, day, month, four-digit year            time, date (the zone is not applied)
//   GSA       satellite ones   mode, 12 PRNs, PDOP, HDOP, system id (18)    mode, used flags, DOPs
//   GST       any              lat, lon, alt standard deviations (6-8)      accuracy estimates
//   GSV       satellite ones   total, number, 4 x (PRN, el, az, SNR),       satellites in view
//                              signal id, Quectel's system id
//
// "Satellite ones" are GP, GN, GL, GA, GB, BD, GQ, QZ and GI, and Quectel's PQ (BeiDou); "any"
// adds every other two-letter talker, which ranks below them (see Constellations.h).
//
// Combined and single-constellation fixes. Some receivers send a GN fix beside GP and GL ones
// in the same second. The position (with speed and course) follows one talker at a time,
// whichever of GGA, RMC, GLL and GNS carried it, the latest of the second winning: GN outranks
// GP, GP the other satellite systems, and they any other talker. A talker of lower rank than
// the one the position follows changes none of it while that talker keeps writing it: in its
// epoch (a time of day, to the millisecond) and the one after. Once it lets a whole epoch pass
// without, a fresh position of any talker replaces its older one, so a receiver that moves
// from GN to GP sentences is followed from its second GP epoch. The altitude follows its GGA
// or GNS talker by the same rule. Time and date are taken from every talker.
//
// The fix mode. A GSA states it. Until the first GSA, and once 3 s of the stream's UTC have
// passed without one, the position sentences give it, the best of each second counting: GGA
// quality 1-8 is 3D with an altitude and 2D without, RMC and GLL status A is 2D at least (it
// keeps a 3D that a GGA, GNS or GSA stated within the last 3 s), GNS mode letters other than N
// are 3D or 2D by the altitude; GGA quality 0, status V and letters all N are no fix. A GSA
// speaks for its own epoch: a position sentence of a newer one that reports a fix is not held
// back by its "no fix". A fix nothing has reported for 3 s is no fix.
//
// Satellites in view. GSV listings are kept per constellation, each in a run of slots of its
// own (GPS first), so a GLONASS listing never touches the GPS satellites; within a run the
// slot is 4 x (message - 1) + position, as the receiver lists them. A satellite with a PRN but
// no elevation or azimuth is in view without a position. An empty SNR means "not tracked" (0).
// When the last message of a cycle arrives, the slots of messages the cycle did not send, and
// those past its last message, are emptied; an emptied slot is used by none. NMEA 4.10
// receivers repeat a listing once per signal (the signal id after the last satellite): the
// first signal seen lays out the slots, the others only raise a satellite's SNR to its
// strongest signal (or add a satellite the first signal did not list). An empty listing of
// another signal leaves the first signal's listing alone.
//
// Satellites used. Each GSA speaks for one constellation: its talker's, else (GN) the system
// id of NMEA 4.10 (field 18), else each listed PRN's own, by the combined PRN ranges. It
// recomputes the used flags of those constellations only. A GN GSA with no satellites and no
// system id clears every flag when it reports no fix, and none otherwise. A PRN that no slot
// holds (no GSV has listed it) is counted as used all the same; without a GSA, the GGA's
// satellites-used field is the count (see SatellitesUsedBySystem).
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
double NmeaCoordinateToDegrees(double value);
