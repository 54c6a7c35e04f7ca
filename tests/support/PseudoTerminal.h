#pragma once

// A pseudo-terminal pair for tests of the serial path: the code under test opens the slave by
// its path as it would a real port, the test plays the receiver on the master.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

// In a namespace of its own: the simulated receiver has a class of this name, with other
// members, and the test programs that use that one link this library too.
namespace test_support
{

class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool IsValid() const { return m_master >= 0 && m_slave >= 0; }
    // "/dev/pts/N", and "pts/N" as a port name that "/dev/" goes in front of.
    const std::string& SlavePath() const { return m_slavePath; }
    std::wstring SlavePortName() const;
    std::wstring SlaveWidePath() const;
    // The slave descriptor openpty gave, kept open so the pair lives while ports come and go.
    int Slave() const { return m_slave; }

    // Writes every byte to the master within the deadline; false if the reader stalled.
    bool Write(std::string_view bytes,
               std::chrono::milliseconds deadline = std::chrono::seconds(20));
    // Reads from the master until `count` bytes have come or the deadline passes.
    std::string Read(std::size_t count,
                     std::chrono::milliseconds deadline = std::chrono::seconds(20));
    // Whatever the master holds now.
    std::string ReadAvailable();
    void CloseMaster();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

} // namespace test_support

using test_support::PseudoTerminal;
