#pragma once

#include <QUrl>
#include <QWebEngineView>
#include <string>

// An embedded browser that takes its page text from memory.
class CHtmlViewEx : public QWebEngineView
{
public:
    // Tile servers see this User-Agent; OpenStreetMap's tile policy asks that it name the program.
    static constexpr const char* kUserAgent = "Orvane/1.0.0.1018 (+GPS receiver utility)";

    explicit CHtmlViewEx(QWidget* pParent = nullptr);

    // Loads UTF-8 page text as the browser's document. Scripts, styles and images the page
    // names as qrc:/... come from the program's resources; the network stays reachable.
    virtual void LoadFromText(const std::string& text);
    virtual void Navigate(const QUrl& url);

    // The base address of pages loaded from memory.
    static QUrl BaseUrl();
};
