#include "serial/SerialPort.h"

#include "util/WideText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

SerialPort::~SerialPort()
{
    Close();
}

bool SerialPort::IsOpen() const
{
    return m_device.IsOpen();
}

bool SerialPort::Open(const std::wstring& devicePath, int baudRate)
{
    if (IsOpen() || m_thread.joinable())
    {
        m_nLastOpenError = PortError::Busy;
        m_nLastOpenSystemError = EBUSY;
        return false;
    }
    m_bStoppedOnItsOwn = false;
    if (!m_device.Open(ToUtf8(devicePath), baudRate))
    {
        m_nLastOpenError = m_device.LastError();
        m_nLastOpenSystemError = m_device.LastSystemError();
        return false;
    }
    {
        std::lock_guard lock(m_portLock);
        m_pTransmitRing = std::make_unique<RingBuffer>();
        m_pReceiveRing = std::make_unique<RingBuffer>();
    }
    m_bRunning = true;
    try
    {
        m_thread = std::thread(&SerialPort::ReaderLoop, this);
    }
    catch (const std::system_error& error)
    {
        m_bRunning = false;
        Close();
        m_nLastOpenError = PortError::Other;
        m_nLastOpenSystemError = error.code().value();
        return false;
    }
    m_nLastOpenError = PortError::None;
    m_nLastOpenSystemError = 0;
    return true;
}

void SerialPort::Close()
{
    m_bRunning = false;
    if (m_thread.joinable())
    {
        // Joining itself would never return; the next Close from another thread finishes.
        if (m_thread.get_id() == std::this_thread::get_id())
            return;
        m_device.Wake();
        m_thread.join();
    }
    std::lock_guard lock(m_portLock);
    m_device.Close();
    m_pReceiveRing.reset();
    m_pTransmitRing.reset();
}

bool SerialPort::Write(const void* bytes, std::size_t length)
{
    std::lock_guard lock(m_portLock);
    if (!m_pTransmitRing || !m_bRunning || length > m_pTransmitRing->Free())
        return false;
    m_pTransmitRing->Write(bytes, static_cast<std::uint32_t>(length));
    // Sending starts now rather than after a silent receiver's read wait. Under the lock, so
    // that Close cannot release the device from under a Write on another thread.
    m_device.Wake();
    return true;
}

void SerialPort::OnDataReceived(const char*, std::size_t) {}

void SerialPort::OnReaderStopped() {}

void SerialPort::Deliver(const char* bytes, std::size_t count)
{
    // Whatever the bytes make a handler do, the reader thread carries on.
    try
    {
        OnDataReceived(bytes, count);
    }
    catch (...)
    {
    }
}

void SerialPort::Receive(const char* bytes, std::size_t count)
{
    {
        // A chunk that does not fit whole is dropped; the handler still hears of it.
        std::lock_guard lock(m_portLock);
        m_pReceiveRing->Write(bytes, static_cast<std::uint32_t>(count));
    }
    Deliver(bytes, count);
}

void SerialPort::StopOnItsOwn()
{
    // Close may have cleared the flag first: then the stop is Close's, not the device's.
    bool running = true;
    if (m_bRunning.compare_exchange_strong(running, false))
        m_bStoppedOnItsOwn = true;
}

void SerialPort::ReaderLoop()
{
    char send[kSendChunk];
    char receive[kReceiveChunk];
    while (m_bRunning.load())
    {
        std::uint32_t pending = 0;
        {
            std::lock_guard lock(m_portLock);
            pending = std::min<std::uint32_t>(m_pTransmitRing->Count(), kSendChunk);
            if (pending > 0)
                m_pTransmitRing->Peek(send, pending);
        }
        bool moreToSend = false;
        if (pending > 0)
        {
            // Bytes not written stay at the front of the ring for the next turn.
            const PosixSerialDevice::Result written = m_device.Write(send, pending, kWaitMs);
            std::lock_guard lock(m_portLock);
            if (written.status == PosixSerialDevice::Status::Done)
            {
                m_pTransmitRing->Discard(static_cast<std::uint32_t>(written.count));
                moreToSend = m_pTransmitRing->Count() > 0;
            }
        }

        // While sending makes progress, a read takes only what has come, so that a silent
        // receiver does not hold each 8-byte piece back for a whole wait.
        const PosixSerialDevice::Result read =
            m_device.Read(receive, sizeof receive, moreToSend ? 0 : kWaitMs);
        switch (read.status)
        {
        case PosixSerialDevice::Status::Done:
            Receive(receive, read.count);
            break;
        case PosixSerialDevice::Status::TimedOut:
            Deliver(receive, 0);
            break;
        case PosixSerialDevice::Status::Gone:
            StopOnItsOwn();
            break;
        case PosixSerialDevice::Status::Woken:
            break;
        case PosixSerialDevice::Status::Failed:
            // A device that keeps failing the same way would otherwise spin a core until Close.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            break;
        }
    }
    m_device.Purge(true, true);
    if (m_bStoppedOnItsOwn.load())
    {
        try
        {
            OnReaderStopped();
        }
        catch (...)
        {
        }
    }
}
