#include "net/GpsdQuery.h"

#include "net/SocketDevice.h"

#include <chrono>

namespace
{
constexpr std::string_view kDevicesClass = "{\"class\":\"DEVICES\"";
constexpr std::string_view kDeviceObject = "{\"class\":\"DEVICE\",";
// gpsd's reply is one line of a few hundred bytes per device; more is not gpsd talking.
constexpr std::size_t kMaxReply = 64 * 1024;

std::string_view StringField(std::string_view object, std::string_view name)
{
    const std::string key = "\"" + std::string(name) + "\":\"";
    const std::size_t at = object.find(key);
    if (at == std::string_view::npos)
        return {};
    const std::size_t start = at + key.size();
    const std::size_t end = object.find('"', start);
    return end == std::string_view::npos ? std::string_view{} : object.substr(start, end - start);
}
} // namespace

std::vector<std::string> ActivatedGpsdDevices(std::string_view line)
{
    std::vector<std::string> paths;
    if (!line.starts_with(kDevicesClass))
        return paths;
    for (std::size_t at = line.find(kDeviceObject); at != std::string_view::npos;)
    {
        const std::size_t next = line.find(kDeviceObject, at + kDeviceObject.size());
        const std::string_view object = line.substr(at, next - at);
        const std::string_view path = StringField(object, "path");
        if (!path.empty() && !StringField(object, "activated").empty())
            paths.emplace_back(path);
        at = next;
    }
    return paths;
}

bool AskGpsdForDevices(const SourceAddress& gpsd, int timeoutMs, std::vector<std::string>& paths)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    SourceAddress plain = gpsd;
    plain.kind = SourceAddress::Kind::Tcp;
    SocketDevice socket;
    if (!socket.Open(plain, OpenLimits{timeoutMs, timeoutMs, timeoutMs}))
        return false;
    const std::string_view request = "?DEVICES;\n";
    if (socket.Write(request.data(), request.size(), RemainingMs(deadline)).status !=
        ByteDevice::Status::Done)
        return false;

    std::string reply;
    char buffer[4096];
    while (reply.size() < kMaxReply)
    {
        const ByteDevice::Result read = socket.Read(buffer, sizeof buffer, RemainingMs(deadline));
        if (read.status != ByteDevice::Status::Done)
            return false;
        reply.append(buffer, read.count);
        // The VERSION greeting comes first; the DEVICES line is complete at its LF.
        std::size_t start = 0;
        for (std::size_t end; (end = reply.find('\n', start)) != std::string::npos; start = end + 1)
        {
            const std::string_view line(reply.data() + start, end - start);
            if (line.starts_with(kDevicesClass))
            {
                paths = ActivatedGpsdDevices(line);
                return true;
            }
        }
    }
    return false;
}
