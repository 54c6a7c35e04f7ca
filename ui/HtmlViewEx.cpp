#include "ui/HtmlViewEx.h"

#include <QDesktopServices>
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
}

CHtmlViewEx::CHtmlViewEx(QWidget* pParent) : QWebEngineView(pParent)
{
    setPage(new CExternalLinksPage(this));
    page()->profile()->setHttpUserAgent(QString::fromLatin1(kUserAgent));
    // A page from qrc: is local content; its remote tiles must never be held back as
    // cross-origin. The file system stays out of reach.
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    setContextMenuPolicy(Qt::NoContextMenu);
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
