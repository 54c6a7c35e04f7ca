#include "session/BaudDetection.h"

#include "device/BaudProbe.h"

CBaudDetection::CBaudDetection(Hooks hooks, std::span<const int> rates)
    : m_hooks(std::move(hooks)), m_rates(rates)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(kQuietMs);
    m_timer.callOnTimeout([this] { OnQuiet(); });
}

CBaudDetection::~CBaudDetection()
{
    StopProbe();
}

void CBaudDetection::Arm(const std::string& path, int rate)
{
    Cancel();
    m_strPath = path;
    m_nRate = rate;
    m_nLinesAtArm = m_hooks.validLines ? m_hooks.validLines() : 0;
    m_timer.start();
}

void CBaudDetection::Cancel()
{
    m_timer.stop();
    StopProbe();
}

void CBaudDetection::StopProbe()
{
    if (m_pProbe)
        m_pProbe->Cancel();
    if (m_probeThread.joinable())
        m_probeThread.join();
    m_pProbe.reset();
    m_bProbing = false;
}

void CBaudDetection::OnQuiet()
{
    if (m_hooks.validLines && m_hooks.validLines() != m_nLinesAtArm)
        return;
    // The port is given up while the probe listens: it opens the device exclusively.
    if (m_hooks.closePort)
        m_hooks.closePort();
    m_bProbing = true;
    m_pProbe = std::make_unique<CBaudProbe>();
    m_probeThread = std::thread([post = m_hooks.post, probe = m_pProbe.get(), number = ++m_nProbe,
                                 path = m_strPath, order = CBaudProbe::OrderToTry(m_rates, m_nRate)] {
        const int found = probe->Run(path, order);
        if (post)
            post(found, number);
    });
}

void CBaudDetection::OnProbed(int rate, long probe)
{
    // A result posted before a Cancel is stale.
    if (!m_bProbing || probe != m_nProbe)
        return;
    StopProbe();
    const int from = m_nRate;
    const int to = rate > 0 ? rate : from;
    if (!m_hooks.reopen || !m_hooks.reopen(to))
        return;
    if (m_hooks.report)
        m_hooks.report(from, rate);
}

std::wstring DescribeDetectedRate(const BaudDetectedHint& hint)
{
    std::wstring text = L"No NMEA at " + std::to_wstring(hint.fromRate) + L" baud";
    if (hint.toRate > 0)
        text += L"; receiving at " + std::to_wstring(hint.toRate) + L" baud";
    else
        text += L" or any other rate";
    // Terminal lines keep their line end, as the sentences do.
    return text + L"\r\n";
}
