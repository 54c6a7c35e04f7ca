#pragma once

#include <string>

// The pseudo-terminal the simulated receiver sits behind. Our own slave descriptor is closed
// once the line is set up: only the other side holds the slave, so the master sees it come
// and go.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Raw 8N1 at `baud`. A pseudo-terminal has no clock: the speed is what the session compares
    // with the one the other side sets.
    bool Open(int baud, std::string& error);
    void Close();

    int MasterFd() const { return m_fd; }
    // The slave's path, for example /dev/pts/5.
    const std::string& SlavePath() const { return m_strSlavePath; }

private:
    int m_fd = -1;
    std::string m_strSlavePath;
};

// A symbolic link to the device that lives as long as the object: removed on destruction,
// but only while it still points at our device. Never replaces anything but a symbolic link.
class DeviceLink
{
public:
    DeviceLink() = default;
    ~DeviceLink() { Remove(); }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    bool Create(const std::string& linkPath, const std::string& target, std::string& error);
    void Remove();
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
    std::string m_strTarget;
};

// Our name for the port that Orvane opens as "/dev/" + name: pts/5 for /dev/pts/5.
std::string PortNameFor(const std::string& devicePath);
