#pragma once

#include <memory>

// Whether the computer has a network connection. The map view asks before each load; tests
// put their own answer in.
class INetworkStatus
{
public:
    virtual ~INetworkStatus() = default;
    virtual bool IsOnline() = 0;
};

// The platform's answer through QNetworkInformation. Needs a QCoreApplication.
std::unique_ptr<INetworkStatus> CreateSystemNetworkStatus();

// Reachability as QNetworkInformation reports it, mapped to online or not: only a known
// disconnection counts as offline. A platform that cannot tell, or reports local-network
// reachability only, counts as online (the map page itself notices tiles that cannot be had).
enum class NetworkReachability
{
    NoBackend,
    Unknown,
    Disconnected,
    Local,
    Site,
    Online
};
bool IsReachabilityOnline(NetworkReachability reachability);
