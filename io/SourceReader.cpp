#include "io/SourceReader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <pthread.h>
#include <system_error>
#include <thread>

SourceReader::~SourceReader()
{
    Close();
}

bool SourceReader::IsOpen() const
{
    std::lock_guard lock(m_portLock);
    return m_pDevice && m_pDevice->IsOpen();
}

bool SourceReader::AcceptsWrites() const
{
    std::lock_guard lock(m_portLock);
    return m_pDevice && m_pDevice->IsOpen() && m_pDevice->AcceptsWrites();
}

void SourceReader::SetOpenError(PortError error, int systemError)
{
    m_nLastOpenError = error;
    m_nLastOpenSystemError = systemError;
}

bool SourceReader::BeginOpening(ByteDevice* opening)
{
    if (IsOpen() || m_thread.joinable())
    {
        SetOpenError(PortError::Busy, EBUSY);
        return false;
    }
    std::lock_guard lock(m_portLock);
    if (m_bOpenCancelled)
    {
        SetOpenError(PortError::Cancelled, ECANCELED);
        return false;
    }
    m_pOpening = opening;
    return true;
}

void SourceReader::EndOpening()
{
    std::lock_guard lock(m_portLock);
    m_pOpening = nullptr;
}

bool SourceReader::OpenLog(std::shared_ptr<ByteDevice> pPlayer)
{
    if (!BeginOpening())
        return false;
    if (!pPlayer || !pPlayer->IsOpen())
    {
        SetOpenError(PortError::NotFound, ENOENT);
        return false;
    }
    // A file has all its bytes at once; there is nothing to gather.
    return Start(std::move(pPlayer), GatherPause());
}

bool SourceReader::Start(std::shared_ptr<ByteDevice> pDevice, GatherPause gather)
{
    m_gather = gather;
    m_bStoppedOnItsOwn = false;
    {
        std::lock_guard lock(m_portLock);
        m_pDevice = std::move(pDevice);
        m_pTransmitRing = std::make_unique<RingBuffer>();
        m_pReceiveRing = std::make_unique<RingBuffer>();
    }
    OnReaderStarting();
    m_bRunning = true;
    try
    {
        m_thread = std::thread(&SourceReader::ReaderLoop, this);
    }
    catch (const std::system_error& error)
    {
        m_bRunning = false;
        Close();
        SetOpenError(PortError::Other, error.code().value());
        return false;
    }
    SetOpenError(PortError::None, 0);
    return true;
}

void SourceReader::CancelOpen()
{
    std::lock_guard lock(m_portLock);
    m_bOpenCancelled = true;
    if (m_pOpening)
        m_pOpening->Wake();
}

void SourceReader::Close()
{
    m_bRunning = false;
    if (m_thread.joinable())
    {
        // Joining itself would never return; the next Close from another thread finishes.
        if (m_thread.get_id() == std::this_thread::get_id())
            return;
        m_pDevice->Wake();
        m_thread.join();
    }
    std::lock_guard lock(m_portLock);
    if (m_pDevice)
        m_pDevice->Close();
    m_pDevice.reset();
    m_pReceiveRing.reset();
    m_pTransmitRing.reset();
    m_bOpenCancelled = false;
}

bool SourceReader::Write(const void* bytes, std::size_t length)
{
    std::lock_guard lock(m_portLock);
    if (!m_pTransmitRing || !m_bRunning || !m_pDevice->AcceptsWrites() ||
        length > m_pTransmitRing->Free())
        return false;
    m_pTransmitRing->Write(bytes, static_cast<std::uint32_t>(length));
    // Sending starts now rather than after a silent receiver's read wait. Under the lock, so
    // that Close cannot release the device from under a Write on another thread.
    m_pDevice->Wake();
    return true;
}

void SourceReader::OnDataReceived(const char*, std::size_t) {}

void SourceReader::OnReaderStopped() {}

void SourceReader::Deliver(const char* bytes, std::size_t count)
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

void SourceReader::Receive(const char* bytes, std::size_t count)
{
    {
        // A chunk that does not fit whole is dropped; the handler still hears of it.
        std::lock_guard lock(m_portLock);
        m_pReceiveRing->Write(bytes, static_cast<std::uint32_t>(count));
    }
    Deliver(bytes, count);
}

void SourceReader::StopOnItsOwn()
{
    // Close may have cleared the flag first: then the stop is Close's, not the device's.
    bool running = true;
    if (m_bRunning.compare_exchange_strong(running, false))
        m_bStoppedOnItsOwn = true;
}

void SourceReader::ReaderLoop()
{
    // Named so that profilers and bench/peer can tell the reader among the process's threads.
    pthread_setname_np(pthread_self(), "orvane-reader");
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
            const ByteDevice::Result written = m_pDevice->Write(send, pending, kWaitMs);
            std::lock_guard lock(m_portLock);
            if (written.status == ByteDevice::Status::Done)
            {
                m_pTransmitRing->Discard(static_cast<std::uint32_t>(written.count));
                moreToSend = m_pTransmitRing->Count() > 0;
            }
        }

        // While sending makes progress, a read takes only what has come, so that a silent
        // receiver does not hold each 8-byte piece back for a whole wait.
        const ByteDevice::Result read =
            m_pDevice->Read(receive, sizeof receive, moreToSend ? 0 : kWaitMs);
        switch (read.status)
        {
        case ByteDevice::Status::Done:
        {
            Receive(receive, read.count);
            // Only after the bytes read went out: what is delivered is never held back.
            const int pauseUs = m_gather.After(receive, read.count, GatherPause::Clock::now());
            if (pauseUs > 0 && m_bRunning.load())
                m_pDevice->Gather(pauseUs);
            break;
        }
        case ByteDevice::Status::TimedOut:
            Deliver(receive, 0);
            break;
        case ByteDevice::Status::Gone:
            StopOnItsOwn();
            break;
        case ByteDevice::Status::Woken:
            break;
        case ByteDevice::Status::Failed:
            // A device that keeps failing the same way would otherwise spin a core until Close.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            break;
        }
    }
    m_pDevice->Purge(true, true);
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

void SourceReader::OnReaderStarting()
{
}

bool SourceReader::TakeLine(std::string& line)
{
    std::lock_guard lock(m_portLock);
    return m_pReceiveRing && m_pReceiveRing->ReadLine(line);
}

std::string SourceReader::TakeReceived()
{
    std::lock_guard lock(m_portLock);
    std::string bytes;
    if (m_pReceiveRing)
    {
        bytes.resize(m_pReceiveRing->Count());
        m_pReceiveRing->Read(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    return bytes;
}
