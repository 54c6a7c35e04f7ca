#pragma once

#include "device/GPSDevice.h"
#include "support/Counter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

// The device with a count of the bytes each OnDataReceived call saw, so a test knows when a
// piece it wrote has been read.
class ObservedDevice : public CGPSDevice
{
public:
    ~ObservedDevice() { Close(); }
    Counter bytesSeen;

protected:
    void OnDataReceived(const char* bytes, std::size_t count) override
    {
        CGPSDevice::OnDataReceived(bytes, count);
        for (std::size_t i = 0; i < count; ++i)
            bytesSeen.Raise();
    }
};
