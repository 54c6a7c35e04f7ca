// Port discovery from sysfs: /sys/class/tty lists every tty the kernel made, and the links
// under each entry lead to the hardware (and for USB bridges, to the USB ids).

#include "discovery/NaturalOrder.h"
#include "discovery/PortDiscoveryAt.h"
#include "discovery/PublishedPorts.h"
#include "discovery/ReceiverRecognition.h"
#include "discovery/SysfsTty.h"
#include "util/WideText.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

namespace
{

namespace fs = std::filesystem;

constexpr const char* kProbeFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};
constexpr int kProbeCount = 64;
// Deep enough for any USB hub chain; keeps a looping tree from walking forever.
constexpr int kMaxWalkDepth = 16;

// The first line of a sysfs attribute, without surrounding blanks; empty when unreadable.
std::string ReadAttribute(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!line.empty() && blank(line.back()))
        line.pop_back();
    std::size_t start = 0;
    while (start < line.size() && blank(line[start]))
        ++start;
    return line.substr(start);
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string DriverName(const fs::path& device)
{
    std::error_code ec;
    const fs::path driver = fs::canonical(device / "driver", ec);
    return ec ? std::string() : driver.filename().string();
}

bool IsWithin(const fs::path& path, const fs::path& root)
{
    const auto [rootEnd, pathIt] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return rootEnd == root.end();
}

// False when the class folder cannot be read at all: the caller falls back to probing.
bool ListTtyNames(const std::string& sysRoot, std::vector<std::string>& names)
{
    const std::string folder = sysRoot + "/class/tty";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir))
    {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), NaturalLess);
    return true;
}

TtyDeviceInfo Inspect(const fs::path& sysRoot, const std::string& name)
{
    TtyDeviceInfo info;
    info.name = FromUtf8(name);
    const fs::path entry = sysRoot / "class" / "tty" / name;
    std::error_code ec;
    const fs::path device = fs::canonical(entry / "device", ec);
    if (ec || !fs::is_directory(device, ec))
        return info;
    info.hasDevice = true;

    const std::string type = ReadAttribute(entry / "type");
    int value = -1;
    if (!type.empty())
    {
        const auto [end, err] = std::from_chars(type.data(), type.data() + type.size(), value);
        if (err != std::errc() || end != type.data() + type.size())
            value = -1;
    }
    info.uartType = value;
    info.driver = DriverName(device);

    // Up from the tty's device: the serial8250 platform device (older kernels bind it to the
    // port itself, newer ones put serial-base devices in between), or the USB device.
    const fs::path root = fs::canonical(sysRoot, ec);
    if (ec)
        return info;
    fs::path at = device;
    for (int depth = 0; depth < kMaxWalkDepth && IsWithin(at, root) && at != root; ++depth)
    {
        if (DriverName(at) == "serial8250")
            info.serial8250 = true;
        const std::string vendor = ReadAttribute(at / "idVendor");
        const std::string product = ReadAttribute(at / "idProduct");
        if (!vendor.empty() && !product.empty())
        {
            info.usbVendor = Lower(vendor);
            info.usbProduct = Lower(product);
            info.usbProductName = ReadAttribute(at / "product");
            break;
        }
        at = at.parent_path();
    }
    return info;
}

// A name counts unless the open says no such device; a port busy elsewhere is still listed.
// EIO is what an unpopulated serial8250 slot answers.
bool ProbeExists(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
    {
        ::close(fd);
        return true;
    }
    switch (errno)
    {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case EIO:
        return false;
    default:
        return true;
    }
}

void Probe(const std::string& devRoot, const PortNameSink& sink)
{
    for (const char* family : kProbeFamilies)
    {
        for (int n = 0; n < kProbeCount; ++n)
        {
            const std::string name = family + std::to_string(n);
            if (ProbeExists(devRoot + "/" + name) && sink)
                sink(FromUtf8(name));
        }
    }
}

// Kernel name -> /dev/serial/by-id/ link that udev made for it. Where a device has several
// links (one per interface of a composite device), the first in name order stands for it.
std::map<std::string, std::string> ByIdLinks(const std::string& devRoot)
{
    std::map<std::string, std::string> links;
    const std::string folder = devRoot + "/serial/by-id";
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
    {
        const fs::path target = fs::read_symlink(fs::path(folder) / name, ec);
        if (ec || target.filename().empty())
            continue;
        links.emplace(target.filename().string(), folder + "/" + name);
    }
    return links;
}

} // namespace

TtyDeviceInfo InspectTty(const std::string& sysRoot, const std::string& name)
{
    try
    {
        return Inspect(sysRoot, name);
    }
    catch (...)
    {
        TtyDeviceInfo info;
        info.name = FromUtf8(name);
        return info;
    }
}

bool IsPresentPort(const TtyDeviceInfo& tty)
{
    if (!tty.hasDevice)
        return false;
    if (tty.uartType == 0)
        return false;
    // Without the type attribute a serial8250 slot cannot be told from a real UART; such slots
    // are nearly always the unused placeholders.
    if (tty.serial8250 && tty.uartType < 0)
        return false;
    return true;
}

bool EnumeratePortsAt(const std::string& sysRoot, const std::string& devRoot, const PortInfoSink& sink)
{
    const auto report = [&](const PortInfo& info) {
        if (sink)
            sink(info);
    };
    try
    {
        std::vector<std::string> names;
        if (!ListTtyNames(sysRoot, names))
        {
            if (!devRoot.empty())
                Probe(devRoot, [&](const std::wstring& name) { report({name, name, name, false}); });
            return false;
        }
        const std::map<std::string, std::string> byId =
            devRoot.empty() ? std::map<std::string, std::string>() : ByIdLinks(devRoot);
        for (const std::string& name : names)
        {
            const TtyDeviceInfo tty = Inspect(sysRoot, name);
            if (!IsPresentPort(tty))
                continue;
            PortInfo info;
            info.kernelName = tty.name;
            const auto link = byId.find(name);
            info.name = link != byId.end() ? FromUtf8(link->second) : tty.name;
            info.label = PortLabelOf(tty);
            info.receiver = IsReceiver(tty);
            report(info);
        }
        return true;
    }
    catch (...)
    {
        // The list simply ends where the search broke off.
        return true;
    }
}

void EnumerateComPortsAt(const std::string& sysRoot, const std::string& devRoot,
                         const PortNameSink& sink)
{
    EnumeratePortsAt(sysRoot, devRoot, [&](const PortInfo& info) {
        if (sink)
            sink(info.name);
    });
}

bool FindReceiverPortAt(const std::string& sysRoot, const std::string& devRoot, std::wstring& out)
{
    // The name is taken whole: cutting ttyUSB10 to seven characters would name another port.
    std::wstring found;
    const bool bReadable = EnumeratePortsAt(sysRoot, devRoot, [&](const PortInfo& info) {
        if (info.receiver && found.empty())
            found = info.name;
    });
    if (!bReadable)
        return false;
    out = std::move(found);
    return true;
}

bool FindReceiverPortAt(const std::string& sysRoot, std::wstring& out)
{
    return FindReceiverPortAt(sysRoot, std::string(), out);
}

void EnumeratePorts(const PortInfoSink& sink)
{
    EnumeratePortsAt("/sys", "/dev", sink);
    EnumeratePublishedPortsAt(PublishedPortsFolder(), [&](const std::wstring& path) {
        if (sink)
            sink({path, std::wstring(), path, false});
    });
}

void EnumerateComPorts(const PortNameSink& sink)
{
    EnumeratePorts([&](const PortInfo& info) {
        if (sink)
            sink(info.name);
    });
}

bool FindReceiverPort(std::wstring& out)
{
    return FindReceiverPortAt("/sys", "/dev", out);
}
