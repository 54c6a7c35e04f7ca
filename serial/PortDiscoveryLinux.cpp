// Port discovery from sysfs: /sys/class/tty lists every tty the kernel made, and the links
// under each entry lead to the hardware (and for USB bridges, to the USB ids).

#include "serial/PortDiscovery.h"

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
#include <vector>

namespace
{

namespace fs = std::filesystem;

constexpr const char* kProbeFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};
constexpr int kProbeCount = 64;
// Deep enough for any USB hub chain; keeps a looping tree from walking forever.
constexpr int kMaxWalkDepth = 16;

// ttyS2 before ttyS10, so that "first" means the same thing on every machine.
bool NaturalLess(const std::string& a, const std::string& b)
{
    const auto split = [](const std::string& s) {
        std::size_t digits = s.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1])))
            --digits;
        return digits;
    };
    const std::size_t sa = split(a);
    const std::size_t sb = split(b);
    const int prefix = a.compare(0, sa, b, 0, sb);
    if (prefix != 0)
        return prefix < 0;
    const std::string_view na = std::string_view(a).substr(sa);
    const std::string_view nb = std::string_view(b).substr(sb);
    const auto trim = [](std::string_view n) {
        while (n.size() > 1 && n.front() == '0')
            n.remove_prefix(1);
        return n;
    };
    const std::string_view ta = trim(na);
    const std::string_view tb = trim(nb);
    if (ta.size() != tb.size())
        return ta.size() < tb.size();
    if (ta != tb)
        return ta < tb;
    return a < b;
}

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

} // namespace

void EnumerateComPortsAt(const std::string& sysRoot, const std::string& devRoot,
                         const PortNameSink& sink)
{
    try
    {
        std::vector<std::string> names;
        if (!ListTtyNames(sysRoot, names))
        {
            Probe(devRoot, sink);
            return;
        }
        for (const std::string& name : names)
        {
            const TtyDeviceInfo info = Inspect(sysRoot, name);
            if (IsPresentPort(info) && sink)
                sink(info.name);
        }
    }
    catch (...)
    {
        // The list simply ends where the search broke off.
    }
}

bool FindReceiverPortAt(const std::string& sysRoot, std::wstring& out)
{
    try
    {
        std::vector<std::string> names;
        if (!ListTtyNames(sysRoot, names))
            return false;
        std::wstring found;
        for (const std::string& name : names)
        {
            const TtyDeviceInfo info = Inspect(sysRoot, name);
            if (!IsPresentPort(info) || !IsReceiverFriendlyName(FriendlyNameOf(info)))
                continue;
            // The kernel name is taken whole: cutting ttyUSB10 to seven characters would name
            // another port.
            found = info.name;
            break;
        }
        out = std::move(found);
        return true;
    }
    catch (...)
    {
        return false;
    }
}

std::string PublishedPortsFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return std::string(runtime) + "/orvane/ports";
    return "/tmp/orvane-" + std::to_string(::getuid()) + "/ports";
}

void EnumeratePublishedPortsAt(const std::string& folder, const PortNameSink& sink)
{
    try
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end(), NaturalLess);
        for (const std::string& name : names)
        {
            const std::string path = folder + "/" + name;
            struct stat st{};
            if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && sink)
                sink(FromUtf8(path));
        }
    }
    catch (...)
    {
        // A folder that vanishes while it is read offers what was found.
    }
}

void EnumerateComPorts(const PortNameSink& sink)
{
    EnumerateComPortsAt("/sys", "/dev", sink);
    EnumeratePublishedPortsAt(PublishedPortsFolder(), sink);
}

bool FindReceiverPort(std::wstring& out)
{
    return FindReceiverPortAt("/sys", out);
}
