#include "discovery/PortDiscoveryAt.h"
#include "discovery/PortWatcher.h"
#include "discovery/PublishedPorts.h"
#include "discovery/ReceiverRecognition.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_view_literals;

namespace
{

std::vector<std::wstring> Collect(const std::function<void(const PortNameSink&)>& run)
{
    std::vector<std::wstring> names;
    run([&](const std::wstring& name) { names.push_back(name); });
    return names;
}

// ---- Matching rules ------------------------------------------------------------------------

TtyDeviceInfo Tty(const wchar_t* name, bool device, int type, bool serial8250, const char* driver,
                  const char* vendor = "", const char* product = "")
{
    TtyDeviceInfo info;
    info.name = name;
    info.hasDevice = device;
    info.uartType = type;
    info.serial8250 = serial8250;
    info.driver = driver;
    info.usbVendor = vendor;
    info.usbProduct = product;
    return info;
}

TEST(PresentPort, RealHardwareOnly)
{
    const std::pair<TtyDeviceInfo, bool> rows[] = {
        {Tty(L"tty1", false, -1, false, ""), false},
        {Tty(L"ttyUSB0", true, -1, false, "pl2303", "067b", "2303"), true},
        {Tty(L"ttyACM0", true, -1, false, "cdc_acm", "1546", "01a7"), true},
        {Tty(L"ttyS0", true, 4, false, "port"), true},          // PNP UART, newer kernel
        {Tty(L"ttyS0", true, 4, true, "serial8250"), true},     // legacy ISA UART, found
        {Tty(L"ttyS3", true, 0, true, "serial8250"), false},    // placeholder slot
        {Tty(L"ttyS3", true, 0, false, "port"), false},         // unknown UART anywhere
        {Tty(L"ttyS3", true, -1, true, "serial8250"), false},   // cannot tell: placeholder
        {Tty(L"rfcomm0", true, -1, false, ""), true},
    };
    for (const auto& [tty, present] : rows)
        EXPECT_EQ(IsPresentPort(tty), present) << tty.uartType << ' ' << tty.driver;
}

TEST(ReceiverBridge, Pl2303ByUsbIdOrDriver)
{
    const std::pair<TtyDeviceInfo, bool> rows[] = {
        {Tty(L"ttyUSB0", true, -1, false, "pl2303", "067b", "2303"), true},
        {Tty(L"ttyUSB0", true, -1, false, "", "067b", "2303"), true},
        {Tty(L"ttyUSB0", true, -1, false, "pl2303", "0557", "2008"), true}, // ATEN, same chip
        {Tty(L"ttyUSB0", true, -1, false, "pl2303", "067b", "23a3"), true}, // PL2303GC
        {Tty(L"ttyUSB0", true, -1, false, "ftdi_sio", "0403", "6001"), false},
        {Tty(L"ttyUSB0", true, -1, false, "cp210x", "10c4", "ea60"), false},
        {Tty(L"ttyUSB0", true, -1, false, "", "067b", "23a3"), false},
        {Tty(L"ttyS0", true, 4, false, "port"), false},
    };
    for (const auto& [tty, receiver] : rows)
    {
        EXPECT_EQ(IsReceiverBridge(tty), receiver) << tty.driver << ' ' << tty.usbVendor;
        EXPECT_EQ(FriendlyNameOf(tty).find(kReceiverFriendlyName) != std::wstring::npos, receiver);
    }
}

TEST(ReceiverBridge, FriendlyNameCarriesTheWholeKernelName)
{
    EXPECT_EQ(FriendlyNameOf(Tty(L"ttyUSB10", true, -1, false, "pl2303", "067b", "2303")),
              L"Prolific USB-to-Serial Comm Port (ttyUSB10)");
    EXPECT_EQ(FriendlyNameOf(Tty(L"ttyUSB0", true, -1, false, "ftdi_sio", "0403", "6001")), L"");
}

// ---- Recognising receivers by USB id and product string ------------------------------------

struct UsbIdRow
{
    const char* vendor;
    const char* product;
    const char* label; // nullptr: not a known receiver
};

TEST(ReceiverUsbIds, KnownReceiversAndNothingNextToThem)
{
    const UsbIdRow rows[] = {
        {"1546", "01a4", nullptr},
        {"1546", "01a5", "u-blox 5 GNSS receiver"},
        {"1546", "01a7", "u-blox 7 GNSS receiver"},
        {"1546", "01A8", "u-blox 8 GNSS receiver"}, // sysfs writes lower case; a rule must not care
        {"1546", "01a9", "u-blox 9 GNSS receiver"},
        {"1546", "01aa", nullptr},
        {"1547", "01a7", nullptr},
        {"067b", "aaa0", "SiRF GPS receiver"},
        {"0e8d", "3329", "MediaTek GPS receiver"},
        {"0e8d", "2000", nullptr}, // a MediaTek phone in download mode
        {"067b", "2303", ""},
        {"10c4", "ea60", nullptr}, // CP210x: a bridge, recognised by its product string only
        {"1a86", "7523", nullptr}, // CH340
        {"0403", "6001", nullptr}, // FTDI
        {"", "", nullptr},
    };
    for (const auto& row : rows)
    {
        const ReceiverUsbId* found = FindReceiverId(row.vendor, row.product);
        ASSERT_EQ(found != nullptr, row.label != nullptr) << row.vendor << ':' << row.product;
        if (found)
        {
            EXPECT_EQ(found->label, row.label);
        }
    }
}

TEST(ReceiverProductString, NamesGpsOrGnssAsAWord)
{
    const std::pair<const char*, bool> rows[] = {
        {"u-blox 7 - GPS/GNSS Receiver", true},
        {"USB GPS", true},
        {"gnss receiver", true},
        {"GPS", true},
        {"BU-353S4 (Gps)", true},
        {"CP2102 USB to UART Bridge Controller", false},
        {"USB-Serial Controller", false},
        {"GPSDO reference", false},
        {"LoGNSSer", false},
        {"", false},
    };
    for (const auto& [product, names] : rows)
        EXPECT_EQ(ProductNamesGnss(product), names) << product;
}

TtyDeviceInfo UsbTty(const wchar_t* name, const char* driver, const char* vendor, const char* product,
                     const char* productString)
{
    TtyDeviceInfo info;
    info.name = name;
    info.hasDevice = true;
    info.driver = driver;
    info.usbVendor = vendor;
    info.usbProduct = product;
    info.usbProductName = productString;
    return info;
}

struct RecogniseRow
{
    TtyDeviceInfo tty;
    bool receiver;
    const wchar_t* label;
};

TEST(ReceiverRecognition, WhichPortsAreReceiversAndHowTheyAreLabelled)
{
    const RecogniseRow rows[] = {
        {UsbTty(L"ttyACM0", "cdc_acm", "1546", "01a7", "u-blox 7 - GPS/GNSS Receiver"), true,
         L"u-blox 7 GNSS receiver (ttyACM0)"},
        {UsbTty(L"ttyACM3", "cdc_acm", "1546", "01a9", ""), true, L"u-blox 9 GNSS receiver (ttyACM3)"},
        {UsbTty(L"ttyUSB0", "pl2303", "067b", "2303", "USB-Serial Controller"), true,
         L"Prolific USB-to-Serial Comm Port (ttyUSB0)"},
        {UsbTty(L"ttyUSB4", "pl2303", "067b", "aaa0", ""), true, L"SiRF GPS receiver (ttyUSB4)"},
        {UsbTty(L"ttyACM1", "cdc_acm", "0e8d", "3329", "GPS Receiver"), true, L"MediaTek GPS receiver (ttyACM1)"},
        {UsbTty(L"ttyUSB1", "ch341-uart", "1a86", "7523", "USB GNSS Receiver"), true,
         L"USB GNSS Receiver (ttyUSB1)"},
        {UsbTty(L"ttyUSB2", "cp210x", "10c4", "ea60", "CP2102 USB to UART Bridge Controller"), false,
         L"CP2102 USB to UART Bridge Controller (ttyUSB2)"},
        {UsbTty(L"ttyUSB3", "ftdi_sio", "0403", "6001", ""), false, L"ttyUSB3"},
        {UsbTty(L"ttyACM2", "cdc_acm", "1199", "9071", "Sierra Wireless EM7455"), false,
         L"Sierra Wireless EM7455 (ttyACM2)"},
        // No USB device above: a product string cannot come from anywhere, and is not trusted.
        {UsbTty(L"ttyS0", "port", "", "", "GPS"), false, L"ttyS0"},
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(IsReceiver(row.tty), row.receiver) << row.tty.usbVendor << ':' << row.tty.usbProduct;
        EXPECT_EQ(PortLabelOf(row.tty), row.label);
    }
}

// ---- The Linux source over a fake sysfs tree ------------------------------------------------

void WriteFile(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

void Link(const fs::path& at, const fs::path& target)
{
    fs::create_directories(at.parent_path());
    fs::create_directory_symlink(target, at);
}

// Lays out /sys the way the kernel does: class/tty/<name> links to the tty's own folder, whose
// "device" link leads to the hardware, whose "driver" link names the driver.
class FakeSysfs
{
public:
    FakeSysfs()
        : m_sys(m_temp.Path() / "sys"), m_dev(m_temp.Path() / "dev")
    {
        fs::create_directories(m_sys / "class" / "tty");
        fs::create_directories(m_dev);
    }

    std::string Sys() const { return m_sys.string(); }
    std::string Dev() const { return m_dev.string(); }
    const fs::path& SysPath() const { return m_sys; }
    const fs::path& DevPath() const { return m_dev; }

    fs::path Driver(const std::string& bus, const std::string& name)
    {
        const fs::path driver = m_sys / "bus" / bus / "drivers" / name;
        fs::create_directories(driver);
        return driver;
    }

    // A USB bridge driven by usb-serial: usb device / interface / port / tty.
    void AddUsbSerial(const std::string& name, const std::string& vid, const std::string& pid,
                      const std::string& driver, const std::string& usbPath,
                      const std::string& productString = "")
    {
        const fs::path usb = m_sys / "devices/pci0000:00/0000:00:14.0/usb1" / usbPath;
        WriteFile(usb / "idVendor", vid + "\n");
        WriteFile(usb / "idProduct", pid + "\n");
        if (!productString.empty())
            WriteFile(usb / "product", productString + "\n");
        const fs::path iface = usb / (usbPath + ":1.0");
        WriteFile(iface / "bInterfaceNumber", "00\n");
        const fs::path port = iface / name;
        fs::create_directories(port);
        if (!driver.empty())
            Link(port / "driver", Driver("usb-serial", driver));
        AddTty(name, port, port / "tty" / name);
    }

    // A CDC ACM modem: the tty's device is the USB interface itself.
    void AddAcm(const std::string& name, const std::string& vid, const std::string& pid,
                const std::string& usbPath, const std::string& productString = "")
    {
        const fs::path usb = m_sys / "devices/pci0000:00/0000:00:14.0/usb1" / usbPath;
        WriteFile(usb / "idVendor", vid + "\n");
        WriteFile(usb / "idProduct", pid + "\n");
        if (!productString.empty())
            WriteFile(usb / "product", productString + "\n");
        const fs::path iface = usb / (usbPath + ":1.0");
        fs::create_directories(iface);
        Link(iface / "driver", Driver("usb", "cdc_acm"));
        AddTty(name, iface, iface / "tty" / name);
    }

    // A UART on a PNP node, as newer kernels show it (serial-base devices in between).
    void AddPnpUart(const std::string& name, int type)
    {
        const fs::path pnp = m_sys / "devices/pnp0/00:04";
        fs::create_directories(pnp);
        if (!fs::exists(pnp / "driver"))
            Link(pnp / "driver", Driver("pnp", "serial"));
        const fs::path port = pnp / "00:04:0" / ("00:04:0." + name.substr(4));
        fs::create_directories(port);
        Link(port / "driver", Driver("serial-base", "port"));
        const fs::path tty = port / "tty" / name;
        AddTty(name, port, tty);
        WriteFile(tty / "type", std::to_string(type) + "\n");
    }

    // A serial8250 slot; the older layout binds the platform device itself to the tty.
    void Add8250(const std::string& name, int type, bool newerKernel, bool withType = true)
    {
        const fs::path platform = m_sys / "devices/platform/serial8250";
        fs::create_directories(platform);
        if (!fs::exists(platform / "driver"))
            Link(platform / "driver", Driver("platform", "serial8250"));
        fs::path device = platform;
        if (newerKernel)
        {
            device = platform / "serial8250:0" / ("serial8250:0." + name.substr(4));
            fs::create_directories(device);
            Link(device / "driver", Driver("serial-base", "port"));
        }
        const fs::path tty = device / "tty" / name;
        AddTty(name, device, tty);
        if (withType)
            WriteFile(tty / "type", std::to_string(type) + "\n");
    }

    // Virtual consoles and the like: no device link.
    void AddVirtual(const std::string& name)
    {
        const fs::path tty = m_sys / "devices/virtual/tty" / name;
        fs::create_directories(tty);
        WriteFile(tty / "dev", "4:1\n");
        Link(m_sys / "class/tty" / name, tty);
    }

    // A device link that leads nowhere (hardware gone while the entry lingers).
    void AddDangling(const std::string& name)
    {
        const fs::path tty = m_sys / "devices/virtual/tty" / name;
        fs::create_directories(tty);
        fs::create_directory_symlink(m_sys / "devices/gone", tty / "device");
        Link(m_sys / "class/tty" / name, tty);
    }

    void AddDevNode(const std::string& name) { WriteFile(m_dev / name, ""); }

    // udev's stable name: /dev/serial/by-id/<link> -> ../../<kernel name>.
    fs::path AddById(const std::string& link, const std::string& kernelName)
    {
        const fs::path at = m_dev / "serial" / "by-id" / link;
        fs::create_directories(at.parent_path());
        fs::create_symlink(fs::path("../..") / kernelName, at);
        return at;
    }

private:
    void AddTty(const std::string& name, const fs::path& device, const fs::path& tty)
    {
        fs::create_directories(tty);
        WriteFile(tty / "dev", "188:0\n");
        Link(tty / "device", device);
        Link(m_sys / "class/tty" / name, tty);
    }

    TempFolder m_temp;
    fs::path m_sys;
    fs::path m_dev;
};

std::vector<std::wstring> Enumerate(const FakeSysfs& tree)
{
    return Collect([&](const PortNameSink& sink) { EnumerateComPortsAt(tree.Sys(), tree.Dev(), sink); });
}

TEST(LinuxEnumerate, ListsRealPortsInNaturalOrder)
{
    FakeSysfs tree;
    tree.AddVirtual("tty0");
    tree.AddVirtual("tty1");
    tree.AddVirtual("console");
    tree.AddVirtual("ptmx");
    tree.AddUsbSerial("ttyUSB10", "0403", "6001", "ftdi_sio", "1-4");
    tree.AddUsbSerial("ttyUSB2", "067b", "2303", "pl2303", "1-2");
    tree.AddAcm("ttyACM0", "1546", "01a7", "1-3");
    tree.AddPnpUart("ttyS0", 4);
    tree.Add8250("ttyS1", 0, true);
    tree.Add8250("ttyS2", 0, false);
    tree.Add8250("ttyS3", 0, false, false);
    tree.Add8250("ttyS4", 4, false);   // a legacy UART that answered the probe
    tree.AddDangling("ttyUSB7");
    tree.AddDevNode("ttyS1"); // /dev is not looked at while sysfs answers

    EXPECT_EQ(Enumerate(tree),
              (std::vector<std::wstring>{L"ttyACM0", L"ttyS0", L"ttyS4", L"ttyUSB2", L"ttyUSB10"}));
}

TEST(LinuxEnumerate, NoSinkStillRuns)
{
    FakeSysfs tree;
    tree.AddUsbSerial("ttyUSB0", "067b", "2303", "pl2303", "1-1");
    EXPECT_NO_THROW(EnumerateComPortsAt(tree.Sys(), tree.Dev(), PortNameSink()));
}

TEST(LinuxEnumerate, ReadableButEmptyListDoesNotProbe)
{
    FakeSysfs tree;
    tree.AddVirtual("tty0");
    tree.AddDevNode("ttyS0");
    tree.AddDevNode("ttyUSB0");
    EXPECT_TRUE(Enumerate(tree).empty());
}

TEST(LinuxEnumerate, ProbesDevWhenSysfsCannotBeRead)
{
    FakeSysfs tree;
    fs::remove_all(tree.SysPath() / "class" / "tty");
    tree.AddDevNode("ttyS0");
    tree.AddDevNode("ttyUSB3");
    tree.AddDevNode("ttyACM63");
    tree.AddDevNode("ttyACM64"); // beyond the probed range
    tree.AddDevNode("ttyXYZ0");
    tree.AddDevNode("rfcomm0");
    // An open that fails for another reason (here EISDIR, like EBUSY or EACCES on a real port)
    // still means the name exists.
    fs::create_directories(tree.DevPath() / "ttyUSB1");
    // A socket answers open() with ENXIO: no such device.
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (tree.DevPath() / "ttyS1").string();
    ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);

    EXPECT_EQ(Enumerate(tree),
              (std::vector<std::wstring>{L"ttyS0", L"ttyUSB1", L"ttyUSB3", L"ttyACM63"}));
    ::close(s);
}

TEST(LinuxEnumerate, ClassFolderThatIsAFileFallsBackToProbing)
{
    FakeSysfs tree;
    fs::remove_all(tree.SysPath() / "class" / "tty");
    WriteFile(tree.SysPath() / "class" / "tty", "not a folder\n");
    tree.AddDevNode("ttyUSB0");
    EXPECT_EQ(Enumerate(tree), (std::vector<std::wstring>{L"ttyUSB0"}));
}

TEST(LinuxEnumerate, NothingAnywhere)
{
    TempFolder empty;
    const auto names = Collect([&](const PortNameSink& sink) {
        EnumerateComPortsAt((empty.Path() / "sys").string(), (empty.Path() / "dev").string(), sink);
    });
    EXPECT_TRUE(names.empty());
}

TEST(LinuxReceiver, FindsThePl2303Bridge)
{
    FakeSysfs tree;
    tree.AddVirtual("tty0");
    // A mobile-broadband modem on ttyACM0 (a u-blox there is found first, see below).
    tree.AddAcm("ttyACM0", "1199", "9071", "1-3");
    tree.AddUsbSerial("ttyUSB0", "0403", "6001", "ftdi_sio", "1-1");
    tree.AddUsbSerial("ttyUSB1", "067b", "2303", "pl2303", "1-2");
    std::wstring port = L"old";
    EXPECT_TRUE(FindReceiverPortAt(tree.Sys(), port));
    EXPECT_EQ(port, L"ttyUSB1");
}

TEST(LinuxReceiver, FirstOfTwoBridgesInNaturalOrderWins)
{
    FakeSysfs tree;
    tree.AddUsbSerial("ttyUSB10", "067b", "2303", "pl2303", "1-1");
    tree.AddUsbSerial("ttyUSB2", "067b", "2303", "pl2303", "1-2");
    std::wstring port;
    EXPECT_TRUE(FindReceiverPortAt(tree.Sys(), port));
    EXPECT_EQ(port, L"ttyUSB2");
}

TEST(LinuxReceiver, LongKernelNameIsKeptWhole)
{
    FakeSysfs tree;
    tree.AddUsbSerial("ttyUSB10", "067b", "2303", "pl2303", "1-1");
    std::wstring port;
    EXPECT_TRUE(FindReceiverPortAt(tree.Sys(), port));
    EXPECT_EQ(port, L"ttyUSB10");
}

TEST(LinuxReceiver, ByUsbIdAloneAndByDriverAlone)
{
    {
        FakeSysfs tree;
        tree.AddUsbSerial("ttyUSB0", "067B", "2303", "", "1-1"); // no driver bound
        std::wstring port;
        EXPECT_TRUE(FindReceiverPortAt(tree.Sys(), port));
        EXPECT_EQ(port, L"ttyUSB0");
    }
    {
        FakeSysfs tree;
        tree.AddUsbSerial("ttyUSB3", "0557", "2008", "pl2303", "1-1");
        std::wstring port;
        EXPECT_TRUE(FindReceiverPortAt(tree.Sys(), port));
        EXPECT_EQ(port, L"ttyUSB3");
    }
}

TEST(LinuxReceiver, FtdiBridgeIsNoReceiver)
{
    FakeSysfs tree;
    tree.AddUsbSerial("ttyUSB0", "0403", "6001", "ftdi_sio", "1-1");
    tree.AddPnpUart("ttyS0", 4);
    std::wstring port = L"old";
    EXPECT_TRUE(FindReceiverPortAt(tree.Sys(), port));
    EXPECT_EQ(port, L"");
}

TEST(LinuxReceiver, BridgeWithoutDeviceIsSkipped)
{
    FakeSysfs tree;
    tree.AddDangling("ttyUSB0");
    tree.AddUsbSerial("ttyUSB1", "067b", "2303", "pl2303", "1-1");
    std::wstring port;
    EXPECT_TRUE(FindReceiverPortAt(tree.Sys(), port));
    EXPECT_EQ(port, L"ttyUSB1");
}

TEST(LinuxReceiver, UnreadableListLeavesOutputUntouched)
{
    FakeSysfs tree;
    tree.AddUsbSerial("ttyUSB0", "067b", "2303", "pl2303", "1-1");
    fs::remove_all(tree.SysPath() / "class");
    tree.AddDevNode("ttyUSB0");
    std::wstring port = L"keep";
    EXPECT_FALSE(FindReceiverPortAt(tree.Sys(), port));
    EXPECT_EQ(port, L"keep");

    WriteFile(tree.SysPath() / "class" / "tty", "a file\n");
    EXPECT_FALSE(FindReceiverPortAt(tree.Sys(), port));
    EXPECT_EQ(port, L"keep");
}

std::vector<PortInfo> Ports(const FakeSysfs& tree)
{
    std::vector<PortInfo> ports;
    EXPECT_TRUE(EnumeratePortsAt(tree.Sys(), tree.Dev(), [&](const PortInfo& info) { ports.push_back(info); }));
    return ports;
}

// A fake tree as udev leaves it with a u-blox, a PL2303 puck and an FTDI cable plugged in.
TEST(LinuxByIdNames, UsbDevicesGoByTheirStableNameWithALabel)
{
    FakeSysfs tree;
    tree.AddAcm("ttyACM0", "1546", "01a7", "1-3", "u-blox 7 - GPS/GNSS Receiver");
    tree.AddUsbSerial("ttyUSB0", "067b", "2303", "pl2303", "1-1", "USB-Serial Controller");
    tree.AddUsbSerial("ttyUSB1", "0403", "6001", "ftdi_sio", "1-2", "FT232R USB UART");
    tree.AddUsbSerial("ttyUSB2", "1a86", "7523", "ch341-uart", "1-4"); // udev has not named it yet
    tree.AddPnpUart("ttyS0", 4);
    const fs::path ublox = tree.AddById("usb-u-blox_AG_-_www.u-blox.com_u-blox_7_-_GPS_GNSS_Receiver-if00", "ttyACM0");
    const fs::path prolific = tree.AddById("usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0", "ttyUSB0");
    const fs::path ftdi = tree.AddById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB1");
    tree.AddById("usb-Gone_Device-if00-port0", "ttyUSB9"); // a link udev has not removed yet

    const std::vector<PortInfo> ports = Ports(tree);
    struct Expected
    {
        std::wstring name;
        const wchar_t* kernel;
        const wchar_t* label;
        bool receiver;
    };
    const Expected expected[] = {
        {ublox.wstring(), L"ttyACM0", L"u-blox 7 GNSS receiver (ttyACM0)", true},
        {L"ttyS0", L"ttyS0", L"ttyS0", false},
        {prolific.wstring(), L"ttyUSB0", L"Prolific USB-to-Serial Comm Port (ttyUSB0)", true},
        {ftdi.wstring(), L"ttyUSB1", L"FT232R USB UART (ttyUSB1)", false},
        {L"ttyUSB2", L"ttyUSB2", L"ttyUSB2", false},
    };
    ASSERT_EQ(ports.size(), std::size(expected));
    for (std::size_t i = 0; i < ports.size(); ++i)
    {
        EXPECT_EQ(ports[i].name, expected[i].name) << i;
        EXPECT_EQ(ports[i].kernelName, expected[i].kernel) << i;
        EXPECT_EQ(ports[i].label, expected[i].label) << i;
        EXPECT_EQ(ports[i].receiver, expected[i].receiver) << i;
    }

    std::wstring receiver;
    EXPECT_TRUE(FindReceiverPortAt(tree.Sys(), tree.Dev(), receiver));
    EXPECT_EQ(receiver, ublox.wstring());
}

// The receiver comes back from a replug under another kernel number: its name does not change.
TEST(LinuxByIdNames, AReplugKeepsTheName)
{
    const std::string link = "usb-u-blox_AG_-_www.u-blox.com_u-blox_7_-_GPS_GNSS_Receiver-if00";
    std::wstring before;
    {
        FakeSysfs tree;
        tree.AddAcm("ttyACM0", "1546", "01a7", "1-3");
        tree.AddById(link, "ttyACM0");
        EXPECT_TRUE(FindReceiverPortAt(tree.Sys(), tree.Dev(), before));
    }
    FakeSysfs tree;
    tree.AddAcm("ttyACM0", "1199", "9071", "1-2"); // a modem took the old number meanwhile
    tree.AddAcm("ttyACM1", "1546", "01a7", "1-3");
    tree.AddById("usb-Sierra_Wireless_EM7455-if03", "ttyACM0");
    tree.AddById(link, "ttyACM1");
    std::wstring after;
    EXPECT_TRUE(FindReceiverPortAt(tree.Sys(), tree.Dev(), after));
    EXPECT_EQ(fs::path(after).filename(), fs::path(before).filename());
    const std::vector<PortInfo> ports = Ports(tree);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[1].label, L"u-blox 7 GNSS receiver (ttyACM1)");
    EXPECT_EQ(ports[1].name, after);
}

// A composite device makes a link per interface; one entry stands for each tty.
TEST(LinuxByIdNames, OneEntryPerTtyWhateverTheLinks)
{
    FakeSysfs tree;
    tree.AddUsbSerial("ttyUSB0", "0403", "6010", "ftdi_sio", "1-1");
    tree.AddUsbSerial("ttyUSB1", "0403", "6010", "ftdi_sio", "1-2");
    tree.AddById("usb-FTDI_Dual_RS232-if00-port0", "ttyUSB0");
    tree.AddById("usb-FTDI_Dual_RS232-if01-port0", "ttyUSB1");
    tree.AddById("usb-FTDI_Dual_RS232-if00-port0-alias", "ttyUSB0");
    const std::vector<PortInfo> ports = Ports(tree);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(fs::path(ports[0].name).filename(), "usb-FTDI_Dual_RS232-if00-port0");
    EXPECT_EQ(fs::path(ports[1].name).filename(), "usb-FTDI_Dual_RS232-if01-port0");
}

// This machine's own sysfs: every kernel name reported has a device behind it in
// /sys/class/tty (published links, reported by full path, have their own test).
TEST(LinuxHost, ReportsOnlyEntriesWithDevices)
{
    const auto names = Collect([](const PortNameSink& sink) { EnumerateComPorts(sink); });
    for (const auto& name : names)
    {
        ASSERT_FALSE(name.empty());
        if (name.front() == L'/')
            continue;
        const fs::path entry = fs::path("/sys/class/tty") / std::string(name.begin(), name.end());
        EXPECT_TRUE(fs::exists(entry / "device")) << entry;
    }
    std::wstring port = L"untouched";
    if (fs::is_directory("/sys/class/tty"))
    {
        EXPECT_TRUE(FindReceiverPort(port));
        EXPECT_NE(port, L"untouched");
    }
}

} // namespace

// Links to pseudo-terminals and other character devices that other programs publish are
// offered by their full path; anything else in the folder is not a port.
TEST(PublishedPorts, OffersLinksToCharacterDevicesInNaturalOrder)
{
    const TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const std::filesystem::path& dir = folder.Path();
    std::filesystem::create_symlink("/dev/null", dir / "gps10");
    std::filesystem::create_symlink("/dev/zero", dir / "gps2");
    std::filesystem::create_symlink(dir / "missing", dir / "dangling");
    std::ofstream(dir / "notes.txt") << "not a port";
    std::filesystem::create_directory(dir / "folder");

    std::vector<std::wstring> seen;
    EnumeratePublishedPortsAt(dir.string(), [&](const std::wstring& name) { seen.push_back(name); });
    const std::vector<std::wstring> expected = {(dir / "gps2").wstring(), (dir / "gps10").wstring()};
    EXPECT_EQ(seen, expected);

    seen.clear();
    EnumeratePublishedPortsAt((dir / "absent").string(), [&](const std::wstring& name) { seen.push_back(name); });
    EXPECT_TRUE(seen.empty());
}

TEST(PublishedPorts, FolderFollowsTheRuntimeDirectory)
{
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(PublishedPortsFolder(), "/run/user/1234/orvane/ports");
    setenv("XDG_RUNTIME_DIR", "relative", 1);
    EXPECT_EQ(PublishedPortsFolder(), "/tmp/orvane-" + std::to_string(::getuid()) + "/ports");
    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}

// ---- Hot-plug: inotify on real folders ------------------------------------------------------

namespace
{
// Whether the watcher's descriptor turns readable within `ms`, and then whether it reports a
// change.
bool ChangeSeen(IPortWatcher& watcher, int ms)
{
    pollfd fd{watcher.ReadableFd(), POLLIN, 0};
    if (::poll(&fd, 1, ms) <= 0)
        return false;
    return watcher.TakeChanges();
}

struct WatchRow
{
    const char* what;
    std::function<void(const fs::path& root)> act;
    bool seen;
};
} // namespace

// The watcher is told about /dev and /dev/serial/by-id as the program tells it; here both lie
// in a temporary folder, by-id not made yet.
TEST(InotifyPortWatcher, SeesDevicesComeAndGoInTheWatchedFolders)
{
    const TempFolder temp;
    const fs::path dev = temp.Path() / "dev";
    const fs::path byId = dev / "serial" / "by-id";
    fs::create_directories(dev / "pts");
    CInotifyPortWatcher watcher({dev.string(), byId.string()});
    ASSERT_GE(watcher.ReadableFd(), 0);

    const WatchRow rows[] = {
        {"a node appears", [](const fs::path& d) { std::ofstream(d / "ttyACM0"); }, true},
        {"nothing happens", [](const fs::path&) {}, false},
        {"something under another folder", [](const fs::path& d) { std::ofstream(d / "pts" / "3"); }, false},
        {"udev makes serial/by-id", [](const fs::path& d) { fs::create_directories(d / "serial" / "by-id"); }, true},
        {"a by-id link appears",
         [](const fs::path& d) { fs::create_symlink("../../ttyACM0", d / "serial" / "by-id" / "usb-u-blox-if00"); },
         true},
        {"the link is renamed",
         [](const fs::path& d) {
             fs::rename(d / "serial" / "by-id" / "usb-u-blox-if00", d / "serial" / "by-id" / "usb-u-blox-if01");
         },
         true},
        {"the link goes", [](const fs::path& d) { fs::remove(d / "serial" / "by-id" / "usb-u-blox-if01"); }, true},
        {"the node goes", [](const fs::path& d) { fs::remove(d / "ttyACM0"); }, true},
    };
    for (const WatchRow& row : rows)
    {
        SCOPED_TRACE(row.what);
        row.act(dev);
        // A change is seen well within seconds; silence is given a fifth of one.
        EXPECT_EQ(ChangeSeen(watcher, row.seen ? 5000 : 200), row.seen);
        while (ChangeSeen(watcher, 50))
        {
        }
    }
}

TEST(InotifyPortWatcher, NoFolderAtAllLeavesNothingToWatch)
{
    CInotifyPortWatcher watcher({"relative/never"});
    EXPECT_FALSE(watcher.TakeChanges());
}
