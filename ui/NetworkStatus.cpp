#include "ui/NetworkStatus.h"

#include <QNetworkInformation>

namespace
{
class CNetworkInformationStatus final : public INetworkStatus
{
public:
    CNetworkInformationStatus()
    {
        if (!QNetworkInformation::instance())
            QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    }

    bool IsOnline() override
    {
        const QNetworkInformation* info = QNetworkInformation::instance();
        if (!info || !info->supports(QNetworkInformation::Feature::Reachability))
            return IsReachabilityOnline(NetworkReachability::NoBackend);
        switch (info->reachability())
        {
        case QNetworkInformation::Reachability::Disconnected:
            return IsReachabilityOnline(NetworkReachability::Disconnected);
        case QNetworkInformation::Reachability::Local:
            return IsReachabilityOnline(NetworkReachability::Local);
        case QNetworkInformation::Reachability::Site:
            return IsReachabilityOnline(NetworkReachability::Site);
        case QNetworkInformation::Reachability::Online:
            return IsReachabilityOnline(NetworkReachability::Online);
        case QNetworkInformation::Reachability::Unknown:
            break;
        }
        return IsReachabilityOnline(NetworkReachability::Unknown);
    }
};
}

bool IsReachabilityOnline(NetworkReachability reachability)
{
    return reachability != NetworkReachability::Disconnected;
}

std::unique_ptr<INetworkStatus> CreateSystemNetworkStatus()
{
    return std::make_unique<CNetworkInformationStatus>();
}
