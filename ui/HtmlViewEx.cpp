#include "ui/HtmlViewEx.h"

#include "settings/Settings.h"

#include <QDesktopServices>
#include <QStandardPaths>
#include <QString>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace
{
// Links the user follows (the map's attribution) open in the desktop's browser, so the view
// keeps its page.
class CExternalLinksPage : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (type == NavigationTypeLinkClicked && (url.scheme() == u"https" || url.scheme() == u"http"))
        {
            QDesktopServices::openUrl(url);
            return false;
        }
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
};

// Tiles seen once show again without a network: a named profile keeps them on disk, unlike the
// default off-the-record one.
std::shared_ptr<QWebEngineProfile> SharedProfile()
{
    static std::weak_ptr<QWebEngineProfile> s_shared;
    if (std::shared_ptr<QWebEngineProfile> profile = s_shared.lock())
        return profile;
    auto profile = std::make_shared<QWebEngineProfile>(QStringLiteral("orvane"));
    const QString folder = CHtmlViewEx::StorageFolder();
    profile->setCachePath(folder + QStringLiteral("/cache"));
    profile->setPersistentStoragePath(folder + QStringLiteral("/storage"));
    profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    profile->setHttpCacheMaximumSize(CHtmlViewEx::kHttpCacheBytes);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    profile->setHttpUserAgent(QString::fromLatin1(CHtmlViewEx::kUserAgent));
    s_shared = profile;
    return profile;
}
}

CHtmlViewEx::CHtmlViewEx(QWidget* pParent)
    : QWebEngineView(pParent), m_pProfile(SharedProfile()),
      m_pPage(std::make_unique<CExternalLinksPage>(m_pProfile.get()))
{
    setPage(m_pPage.get());
    // A page from qrc: is local content; its remote tiles must never be held back as
    // cross-origin. The file system stays out of reach.
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    setContextMenuPolicy(Qt::NoContextMenu);
}

QString CHtmlViewEx::StorageFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/") +
           QString::fromLatin1(kUserFolderName) + QStringLiteral("/web");
}

QUrl CHtmlViewEx::BaseUrl()
{
    return QUrl(QStringLiteral("qrc:/"));
}

void CHtmlViewEx::LoadFromText(const std::string& text)
{
    setHtml(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), BaseUrl());
}

void CHtmlViewEx::Navigate(const QUrl& url)
{
    load(url);
}

void CHtmlViewEx::RunScript(const std::string& script)
{
    page()->runJavaScript(QString::fromUtf8(script.data(), static_cast<qsizetype>(script.size())));
}
