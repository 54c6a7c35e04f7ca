#include "serial/SerialPort.h"

#include "serial/PosixSerialDevice.h"
#include "util/WideText.h"

#include <memory>

bool SerialPort::Open(const std::wstring& devicePath, int baudRate)
{
    if (!BeginOpening())
        return false;
    auto pDevice = std::make_unique<PosixSerialDevice>();
    if (!pDevice->Open(ToUtf8(devicePath), baudRate))
    {
        SetOpenError(pDevice->LastError(), pDevice->LastSystemError());
        return false;
    }
    return Start(std::move(pDevice), GatherPause(baudRate));
}
