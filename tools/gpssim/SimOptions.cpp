#include "tools/gpssim/SimOptions.h"

#include <charconv>
#include <cmath>

namespace
{

template <typename T> bool ParseNumber(const std::string& text, T& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool ParseStart(const std::string& text, double& latitude, double& longitude)
{
    const auto comma = text.find(',');
    return comma != std::string::npos && ParseNumber(text.substr(0, comma), latitude) &&
           ParseNumber(text.substr(comma + 1), longitude) && std::fabs(latitude) <= 85.0 &&
           std::fabs(longitude) <= 180.0;
}

} // namespace

bool ParseOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error)
{
    options = SimOptions{};
    bool baudGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto equals = name.find('=');
            name.starts_with("--") && equals != std::string::npos)
        {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        const auto value = [&](std::string& out)
        {
            if (inlineValue)
                out = *inlineValue;
            else if (i + 1 < args.size())
                out = args[++i];
            else
            {
                error = name + " needs a value";
                return false;
            }
            return true;
        };
        const auto flag = [&]()
        {
            if (inlineValue)
                error = name + " takes no value";
            return !inlineValue;
        };

        std::string text;
        if (name == "--help" || name == "-h")
        {
            if (!flag())
                return false;
            options.bHelp = true;
        }
        else if (name == "--gnss")
        {
            if (!flag())
                return false;
            options.bGnss = true;
        }
        else if (name == "--fast-restarts")
        {
            if (!flag())
                return false;
            options.bFastRestarts = true;
        }
        else if (name == "--ubx")
        {
            if (!flag())
                return false;
            options.bUbx = true;
        }
        else if (name == "--no-banner")
        {
            if (!flag())
                return false;
            options.bNoBanner = true;
        }
        else if (name == "--family")
        {
            if (!value(text))
                return false;
            options.family = ParseFamilyToken(text);
            if (!options.family)
            {
                error = "--family must be sirf, ublox, mediatek, airoha, quectel, st or casic, not '" + text + "'";
                return false;
            }
        }
        else if (name == "--baud")
        {
            baudGiven = true;
            if (!value(text))
                return false;
            if (!ParseNumber(text, options.baud) || options.baud < kMinBaud ||
                options.baud > kMaxBaud)
            {
                error = "--baud must be a number from 1200 to 115200, not '" + text + "'";
                return false;
            }
        }
        else if (name == "--rate")
        {
            if (!value(text))
                return false;
            // Cycles that divide the second into whole milliseconds.
            if (!ParseNumber(text, options.rate) || options.rate < 1 || options.rate > 10 ||
                1000 % options.rate != 0)
            {
                error = "--rate must be 1, 2, 4, 5, 8 or 10 cycles a second, not '" + text + "'";
                return false;
            }
        }
        else if (name == "--seed")
        {
            std::uint32_t seed = 0;
            if (!value(text))
                return false;
            if (!ParseNumber(text, seed))
            {
                error = "--seed must be a number from 0 to 4294967295, not '" + text + "'";
                return false;
            }
            options.seed = seed;
        }
        else if (name == "--start")
        {
            double latitude = 0.0;
            double longitude = 0.0;
            if (!value(text))
                return false;
            if (!ParseStart(text, latitude, longitude))
            {
                error = "--start must be LAT,LON in decimal degrees (latitude within 85), not '" +
                        text + "'";
                return false;
            }
            options.startLatitude = latitude;
            options.startLongitude = longitude;
        }
        else if (name == "--replay")
        {
            if (!value(options.replayPath))
                return false;
        }
        else if (name == "--link")
        {
            if (!value(options.linkPath))
                return false;
        }
        else if (name == "--loop")
        {
            if (!flag())
                return false;
            options.bLoop = true;
        }
        else if (name == "--stay")
        {
            if (!flag())
                return false;
            options.bStay = true;
        }
        else
        {
            error = "unknown option '" + args[i] + "'";
            return false;
        }
    }
    if (options.bLoop && options.replayPath.empty())
    {
        error = "--loop needs --replay";
        return false;
    }
    if (!options.replayPath.empty() && (options.seed || options.startLatitude || options.bGnss ||
                                        options.rate != 1 || options.bFastRestarts || options.family ||
                                        options.bNoBanner))
    {
        error = "--seed, --start, --gnss, --rate, --fast-restarts, --family and --no-banner are for the "
                "generated receiver, not with --replay";
        return false;
    }
    if (options.bUbx && options.family != ReceiverFamily::UBlox)
    {
        error = "--ubx needs --family ublox";
        return false;
    }
    if (options.bNoBanner && !options.family)
    {
        error = "--no-banner needs --family";
        return false;
    }
    // UBX beside the NMEA needs the faster line too.
    if ((options.bGnss || options.bUbx) && !baudGiven)
        options.baud = kGnssDefaultBaud;
    return true;
}

std::string UsageText()
{
    return "Usage: orvane-gpssim [options]\n"
           "A simulated SiRF-class GPS receiver on a pseudo-terminal, for Orvane.\n"
           "\n"
           "  --baud N         line speed in bits per second, 1200 to 115200 (default 4800)\n"
           "  --seed N         seed of the generated receiver: the same seed, the same track\n"
           "  --start LAT,LON  start position in decimal degrees (default 48.1173,11.5167)\n"
           "  --replay FILE    send the sentences of an NMEA log at their recorded pace\n"
           "                   (starts when the port is opened; '#' lines are skipped)\n"
           "  --loop           with --replay: start again after the last sentence\n"
           "  --link PATH      make a symbolic link PATH to the device while running\n"
           "  --stay           keep running when the other side closes the port\n"
           "  --gnss           a multi-constellation receiver: GNRMC, GNGGA, one GNGSA per\n"
           "                   system, GPS, GLONASS, Galileo and BeiDou skies of 20 to 40\n"
           "                   satellites (default baud then 38400)\n"
           "  --rate N         fix cycles a second: 1, 2, 4, 5, 8 or 10 (default 1)\n"
           "  --fast-restarts  restarts take a tenth of their real time: hot 0.1-0.2 s,\n"
           "                   warm 2.5-3.5 s, cold 3-6 s to the first fix (for tests)\n"
           "  --family NAME    a receiver of that family: sirf, ublox, mediatek, airoha,\n"
           "                   quectel, st or casic. It prints its banner when the port is\n"
           "                   opened, answers its version query, obeys its own hot, warm and\n"
           "                   cold start commands only (a ublox reads binary UBX CFG-RST and\n"
           "                   MON-VER) and logs every message it receives. Without it: a\n"
           "                   SiRF-class receiver that sends nothing but its fixes\n"
           "  --no-banner      with --family: no banner, only the answer to the version query\n"
           "  --ubx            with --family ublox: NAV-PVT, NAV-SAT, NAV-DOP and NAV-EOE\n"
           "                   each cycle beside the NMEA (38400 baud unless --baud)\n"
           "                   tells who it is\n"
           "  --help           show this text\n"
           "\n"
           "It prints the device to open (for example /dev/pts/5; in Orvane type the whole\n"
           "path, or pts/5 as the port name) and runs until Ctrl+C, SIGTERM, or the other side\n"
           "closing the port. It obeys the $PSRF101 hot, warm and cold start commands (with\n"
           "--family, that family's own): the fix comes back after 1-2 s (hot), 25-35 s\n"
           "(warm) or 30-60 s (cold), drawn from the seed.\n";
}
