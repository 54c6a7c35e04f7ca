#include "ui/ErrorMessages.h"

#include "net/SourceAddress.h"
#include "util/WideText.h"

#include <cerrno>
#include <cstring>
#include <optional>

namespace
{
std::wstring SystemErrorText(int systemError)
{
    if (systemError == 0)
        return {};
    const char* text = std::strerror(systemError);
    return std::wstring(text, text + std::strlen(text));
}

std::wstring SystemErrorSentence(int systemError)
{
    std::wstring text = L"The system reported an error";
    if (const std::wstring reason = SystemErrorText(systemError); !reason.empty())
        text += L": " + reason;
    return text + L".";
}

// The name the user chose: ttyUSB0 for /dev/ttyUSB0, a path outside /dev as it is.
std::wstring PortNameOf(const std::wstring& devicePath)
{
    const std::wstring dev = L"/dev/";
    return devicePath.starts_with(dev) ? devicePath.substr(dev.size()) : devicePath;
}

std::wstring DescribeSourceFailure(const std::wstring& sourceText, PortError error, int systemError)
{
    const std::optional<SourceAddress> source = ParseSourceAddress(sourceText);
    if (!source)
        return L"The source " + sourceText +
               L" is not written as Orvane reads it. Write gpsd://HOST[:PORT], tcp://HOST:PORT or "
               L"udp://[HOST][:PORT].";
    const std::wstring where = FromUtf8(HostAndPort(*source));
    std::wstring text = L"The source " + sourceText + L" could not be opened: ";
    const bool bGpsd = source->kind == SourceAddress::Kind::Gpsd;
    switch (error)
    {
    case PortError::ConnectionRefused:
    case PortError::NotGpsd:
        if (bGpsd)
            return text + L"gpsd is not running on " + where +
                   L".\n\nStart gpsd there, or choose the receiver's serial port.";
        return text + L"connection refused.\n\nCheck the address, and that the receiver or "
                      L"its app serves NMEA on " + where + L", then connect again.";
    case PortError::HostNotFound:
        return text +
               (systemError == ETIMEDOUT ? L"host not found: timed out" : L"host not found") +
               L".\n\nCheck the host name in " + sourceText + L".";
    case PortError::NoAnswer:
        return text + L"no answer from " + where +
               L".\n\nCheck that the host is on the network, then connect again.";
    case PortError::Busy:
        return text + L"the port is in use by another program.\n\nClose that program, or "
                      L"choose another port.";
    default:
        return text + L"\n\n" + SystemErrorSentence(systemError);
    }
}
} // namespace

std::wstring DescribeOpenFailure(const std::wstring& devicePath, PortError error, int systemError, int baudRate)
{
    if (IsNetworkSourceText(devicePath))
        return DescribeSourceFailure(devicePath, error, systemError);
    std::wstring text = L"The serial port " + devicePath + L" could not be opened.\n\n";
    switch (error)
    {
    case PortError::NotFound:
        text += L"The port does not exist (any more). Check that the receiver is plugged in, "
                L"or choose another port.";
        break;
    case PortError::Busy:
        text += L"The port is in use by another program. Close that program, then connect "
                L"again.";
        break;
    case PortError::PermissionDenied:
        text += L"Permission to use the port is denied. On Linux, your user must be in the "
                L"\"dialout\" group: run \"sudo usermod -aG dialout $USER\", then log out and "
                L"in again.";
        break;
    case PortError::NotSerialPort:
        text += L"It is not a serial port. Choose the receiver's port.";
        break;
    case PortError::Unsupported:
        text += L"The port does not accept " + std::to_wstring(baudRate) +
                L" baud. Choose another baud rate.";
        break;
    case PortError::Gone:
        text += L"The device stopped answering. Unplug the receiver, plug it in again, then "
                L"connect.";
        break;
    case PortError::HeldByGpsd:
        text += PortNameOf(devicePath) +
                L" is used by gpsd; choose gpsd://localhost to watch it through gpsd.";
        break;
    default:
        text += SystemErrorSentence(systemError);
        break;
    }
    return text;
}

std::wstring NoPortChosenText()
{
    return L"No serial port is chosen. Choose the receiver's port in the setup, then connect.";
}

std::wstring DescribeSettingsSaveFailure(const std::wstring& path, int systemError)
{
    return L"The settings could not be saved to " + path + L".\n\n" + SystemErrorSentence(systemError);
}

std::wstring DescribeDeviceLost(const std::wstring& path)
{
    const std::wstring advice = IsNetworkSourceText(path)
                                    ? L" The other end closed the connection; connect again "
                                      L"when it is back."
                                    : L" Plug it in again, then connect.";
    return L"The GPS receiver on " + path + L" was disconnected." + advice;
}

std::wstring DescribeLogFailure(const std::wstring& path, LogError error, int systemError)
{
    std::wstring text = L"The log " + path + L" cannot be played.\n\n";
    switch (error)
    {
    case LogError::NotFound:
        return text + L"There is no such file.";
    case LogError::Empty:
        return text + L"The file is empty.";
    case LogError::NotNmea:
        return text + L"It holds no NMEA sentence with a valid checksum: it is not an NMEA log.";
    case LogError::NotAFile:
        return text + L"It is not a file that can be played: a folder, a device or a named pipe is "
                      L"not a log.";
    default:
        return text + L"The file cannot be read. " + SystemErrorSentence(systemError);
    }
}

std::wstring LogEndedText(const std::wstring& path)
{
    return L"End of the log " + path + L": stopped at its last sentence.";
}

std::wstring CorrectionsAddressInvalidText()
{
    return L"Corrections: not an address of the form ntrip://[user[:password]@]host[:port]/MOUNTPOINT";
}

std::wstring DescribeCorrectionsStatus(const std::string& where, const NtripStatus& status)
{
    const std::wstring caster = FromUtf8(where);
    switch (status.state)
    {
    case NtripStatus::State::Connecting:
        return L"Corrections: connecting to " + caster + L"\u2026";
    case NtripStatus::State::Streaming:
        return L"Corrections: receiving from " + caster;
    case NtripStatus::State::Retrying:
        break;
    }
    return L"Corrections: " + FromUtf8(status.reason) + L"; trying again in " +
           std::to_wstring((status.retryInMs + 999) / 1000) + L" s";
}

std::wstring ShareAddressInvalidText(const std::wstring& address)
{
    return L"Share: \"" + address + L"\" is not HOST:PORT; the receiver is not shared";
}

std::wstring DescribeShareFailure(const std::wstring& address, int systemError)
{
    std::wstring text = L"Share: cannot listen on " + address;
    if (const std::wstring reason = SystemErrorText(systemError); !reason.empty())
        text += L": " + reason;
    return text;
}
