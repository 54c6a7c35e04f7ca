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
// The connect button: connects, or disconnects when connected.
inline constexpr unsigned ID_CONNECT = 32777;
inline constexpr unsigned ID_FILE_OPEN = 57601;
inline constexpr unsigned ID_APP_ABOUT = 57664;
inline constexpr unsigned ID_APP_EXIT = 57665;

// Private messages posted to the main frame start here.
inline constexpr unsigned WM_USER = 0x0400;
