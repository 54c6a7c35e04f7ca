#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into an orderly end on the user-interface thread: the
// handler only writes a byte to a socket pair, and a notifier on the other end calls the
// given function once (it closes the main window, as File > Exit does). A second signal while
// that runs is absorbed, since closing a terminal sends SIGHUP twice and a logout sends SIGTERM
// then SIGHUP; a third, or the first one again after 5 s, ends the process at once. One
// instance at a time; the old handlers come back when it goes.
class CShutdownSignals : public QObject
{
public:
    explicit CShutdownSignals(std::function<void(int signal)> onSignal);
    ~CShutdownSignals() override;
    CShutdownSignals(const CShutdownSignals&) = delete;
    CShutdownSignals& operator=(const CShutdownSignals&) = delete;

    bool IsInstalled() const { return m_bInstalled; }

    // How many of the three signals have arrived since the handlers were installed.
    static int ReceivedCount();

private:
    void OnReadable();

    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    bool m_bInstalled = false;
};
