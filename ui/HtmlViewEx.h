#pragma once

#include <QUrl>
#include <QWebEngineView>

#include <memory>
#include <string>

class QWebEngineProfile;

// An embedded browser that takes its page text from memory.
class CHtmlViewEx : public QWebEngineView
{
public:
    // Tile servers see this User-Agent; OpenStreetMap's tile policy asks that it name the program.
    static constexpr const char* kUserAgent = "Orvane/1.0.0.1018 (+GPS receiver utility)";
    // The disk cache of what the pages fetched (the map's tiles) is held to this size.
    static constexpr int kHttpCacheBytes = 256 * 1024 * 1024;

    explicit CHtmlViewEx(QWidget* pParent = nullptr);

    // Loads UTF-8 page text as the browser's document. Scripts, styles and images the page
    // names as qrc:/... come from the program's resources; the network stays reachable.
    virtual void LoadFromText(const std::string& text);
    virtual void Navigate(const QUrl& url);
    // Runs a script in the current document, without waiting for it.
    virtual void RunScript(const std::string& script);

    // The base address of pages loaded from memory.
    static QUrl BaseUrl();
    // The folder of the browser's disk cache and storage: orvane/web in the user's cache
    // folder (XDG_CACHE_HOME, else ~/.cache), read when the first view is made.
    static QString StorageFolder();

private:
    // One named profile serves every view at a time, so two never share its disk cache; the
    // last view to go releases it. Declared before the page, which must be deleted first (a
    // deleted page lets go of the view by itself).
    std::shared_ptr<QWebEngineProfile> m_pProfile;
    std::unique_ptr<QWebEnginePage> m_pPage;
};
