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
            out << "Usage: orvane [--version] [--help] [FILE]\n"
                   "\n"
                   "Shows what a GPS receiver is doing: position, fix, satellites and the raw NMEA\n"
                   "sentences, on a map; records NMEA logs, KML tracks and GPX tracks.\n"
                   "Choose the receiver in the Setup tab's ComPort list: a serial port, or one of\n"
                   "  gpsd://HOST[:PORT]   what gpsd relays (default localhost:2947)\n"
                   "  tcp://HOST:PORT      NMEA served over TCP\n"
                   "  udp://[HOST][:PORT]  NMEA datagrams received on that port (default 10110)\n"
                   "then its baud rate, and click Connect. Ctrl+C, SIGTERM and SIGHUP end it as\n"
                   "File > Exit does.\n"
                   "\n"
                   "  FILE       play this recorded NMEA log at the pace of its sentences' time,\n"
                   "             as File > Open Log does\n"
                   "  --version  print the version and exit\n"
                   "  -h, --help print this help and exit\n"
                   "Other arguments go to Qt (for example -platform offscreen).\n"
                   "\n"
                   "More in the manual page: man orvane\n";
            return 0;
        }
    }
    return std::nullopt;
}

std::optional<std::string> LogToPlay(const std::vector<std::string>& args)
{
    bool bOptionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i)
    {
        if (!bOptionsEnded && args[i] == "--")
        {
            bOptionsEnded = true;
            continue;
        }
        if (bOptionsEnded || !args[i].starts_with('-'))
            return args[i];
    }
    return std::nullopt;
}
