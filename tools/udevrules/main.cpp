// Writes the udev rule that keeps ModemManager from probing the receivers Orvane recognises
// (it sends AT commands to every new ttyACM, which delays and confuses GPS receivers). The rule
// comes from the recognition table itself, so the two cannot drift apart.
#include "discovery/ReceiverRecognition.h"

#include <iostream>

int main()
{
    std::cout << "# Installed by Orvane: GPS receivers are not modems.\n"
                 "ACTION!=\"add|change\", GOTO=\"orvane_end\"\n"
                 "SUBSYSTEM!=\"usb|tty\", GOTO=\"orvane_end\"\n\n";
    for (const ReceiverUsbId& row : KnownReceiverIds())
    {
        std::cout << "# " << (row.label.empty() ? "Prolific PL2303 bridge" : row.label) << '\n'
                  << "ATTRS{idVendor}==\"" << row.vendor << "\", ATTRS{idProduct}==\"" << row.product
                  << "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n";
    }
    // IsReceiverBridge: any device the pl2303 driver serves (ATEN and other relabelled parts).
    std::cout << "DRIVERS==\"pl2303\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n";
    // ProductNamesGnss wants GPS or GNSS as a word; a glob cannot say "word", so here any
    // product string that holds them counts. Keeping ModemManager off a "GPSDO" costs nothing.
    std::cout << "\n# Any USB serial bridge whose product string names GPS or GNSS\n";
    for (const char* pattern : {"*[Gg][Pp][Ss]*", "*[Gg][Nn][Ss][Ss]*"})
        std::cout << "ATTRS{product}==\"" << pattern << "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n";
    std::cout << "\nLABEL=\"orvane_end\"\n";
    return 0;
}
