#include "app/CommandLine.h"

#include <string_view>

std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::ostream& out)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string_view arg = argv[i];
        if (arg == "--version")
        {
            out << "Orvane " << kOrvaneVersion << '\n';
            return 0;
        }
        if (arg == "--help" || arg == "-h")
        {
            out << "Usage: orvane [--version] [--help]\n"
                   "\n"
                   "Shows what a GPS receiver on a serial port is doing: position, fix, satellites\n"
                   "and the raw NMEA sentences, on a map; records NMEA logs and KML tracks.\n"
                   "Choose the receiver's port and baud rate in the Setup tab, then click Connect.\n"
                   "\n"
                   "  --version  print the version and exit\n"
                   "  --help     print this help and exit\n";
            return 0;
        }
    }
    return std::nullopt;
}
