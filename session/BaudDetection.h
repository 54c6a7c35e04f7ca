#pragma once

#include "framework/core/CommandIds.h"

#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>

class CBaudProbe;

// Sent to all views when the receiver was found at another rate than the one connected with;
// pHint points to a BaudDetectedHint.
inline constexpr long HINT_BAUD_DETECTED = 4099;

struct BaudDetectedHint
{
    int fromRate;
    int toRate; // 0: no rate brought NMEA
};

// The terminal's line about it: "No NMEA at 9600 baud; receiving at 38400 baud".
std::wstring DescribeDetectedRate(const BaudDetectedHint& hint);

// A connection that brings no checksum-valid sentence within kQuietMs is closed, the other rates
// are listened to one by one on a thread of the probe's own, and the port is opened again at the
// rate found (or at the one it had). The owner says how through Hooks; all calls but `post` are
// made on the user-interface thread.
class CBaudDetection
{
public:
    static constexpr int kQuietMs = 3000;

    struct Hooks
    {
        std::function<std::uint64_t()> validLines; // checksum-valid lines received so far
        std::function<void()> closePort;
        std::function<void(int rate, long probe)> post; // probe thread: hand the result over
        std::function<bool(int rate)> reopen;       // the owner's own open path at this rate
        std::function<void(int fromRate, int toRate)> report;
    };

    CBaudDetection(Hooks hooks, std::span<const int> rates);
    ~CBaudDetection();
    CBaudDetection(const CBaudDetection&) = delete;
    CBaudDetection& operator=(const CBaudDetection&) = delete;

    // After a connect at `rate` to the device at `path` (UTF-8).
    void Arm(const std::string& path, int rate);
    // On a disconnect: no probe is started, a running one is stopped and its result dropped.
    void Cancel();
    // The probe's result, handed over on the user-interface thread: the rate found (0: none)
    // and the probe's number.
    void OnProbed(int rate, long probe);

    bool IsProbing() const { return m_bProbing; }
    // Armed, and the quiet time not over yet.
    bool IsWaiting() const { return m_timer.isActive(); }

private:
    void OnQuiet();
    void StopProbe();

    Hooks m_hooks;
    std::span<const int> m_rates;
    QTimer m_timer;
    std::string m_strPath;
    int m_nRate = 0;
    std::uint64_t m_nLinesAtArm = 0;
    bool m_bProbing = false;
    long m_nProbe = 0; // counts the probes started, so that a late result is known as such
    std::unique_ptr<CBaudProbe> m_pProbe;
    std::thread m_probeThread;
};
