#pragma once

#include "serial/PosixSerialDevice.h"

#include <atomic>
#include <mutex>
#include <span>
#include <string>
#include <vector>

// Finds the rate a receiver sends at by listening: the port is opened at each rate in turn and
// read, and nothing is ever written to it (a receiver at an unknown rate must not be sent
// bytes it could take for commands). Run blocks; Cancel may come from any thread.
class CBaudProbe
{
public:
    // Long enough for one sentence of a 1 Hz receiver to arrive whole wherever the listening
    // starts within its second.
    static constexpr int kListenMs = 1500;

    // The first rate of `rates` at which a checksum-valid sentence arrives within listenMs;
    // 0 when none does, or when cancelled.
    int Run(const std::string& path, std::span<const int> rates, int listenMs = kListenMs);
    void Cancel();

    // The rates to try after `current` failed: the others of `all`, the usual receiver rates
    // first (4800 and 9600, then the fast ones u-blox and MediaTek parts are set to).
    static std::vector<int> OrderToTry(std::span<const int> all, int current);

private:
    bool Listen(int listenMs);

    std::mutex m_lock; // guards m_pDevice against Cancel
    PosixSerialDevice* m_pDevice = nullptr;
    std::atomic<bool> m_bCancelled{false};
};

// Cuts bytes into lines and says whether one of them passed the checksum: what the probe looks
// for, apart so that it can be fed by hand.
class CNmeaSpotter
{
public:
    // True once a checksum-valid line has been seen.
    bool Feed(const char* bytes, std::size_t count);

private:
    std::string m_line;
    bool m_bSeen = false;
};
