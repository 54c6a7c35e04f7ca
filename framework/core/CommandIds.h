#pragma once

// Menu command identifiers, shared by the application, the main frame and the document that
// handle them.
inline constexpr unsigned ID_HOT_START = 32771;
inline constexpr unsigned ID_WARM_START = 32772;
inline constexpr unsigned ID_COLD_START = 32773;
inline constexpr unsigned ID_SAVE_KML = 32774;
inline constexpr unsigned ID_SAVE_NMEA = 32775;
inline constexpr unsigned ID_SAVE_GPX = 32776;
inline constexpr unsigned ID_SAVE_RAW = 32778;
inline constexpr unsigned ID_ENABLE_UBX = 32779;
// The connect button: connects, or disconnects when connected.
inline constexpr unsigned ID_CONNECT = 32777;
// Tools > Receiver: Automatic, then one item per known receiver family, in their order.
inline constexpr unsigned ID_RECEIVER_AUTOMATIC = 32800;
inline constexpr unsigned ID_RECEIVER_FIRST_FAMILY = 32801;
inline constexpr unsigned ID_RECEIVER_LAST_FAMILY = 32815;
inline constexpr unsigned ID_FILE_OPEN = 57601;
inline constexpr unsigned ID_APP_ABOUT = 57664;
inline constexpr unsigned ID_APP_EXIT = 57665;

// Private messages posted to the main frame start here.
inline constexpr unsigned WM_USER = 0x0400;
