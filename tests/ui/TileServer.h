#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QHash>
#include <QPainter>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

// A tile server on 127.0.0.1 that answers every GET with one 256 x 256 PNG and remembers the
// paths and User-Agents it was asked with.
class TileServer : public QObject
{
public:
    TileServer()
    {
        QImage tile(256, 256, QImage::Format_RGB32);
        tile.fill(QColor(0xcc, 0xe0, 0xc8));
        QPainter painter(&tile);
        painter.setPen(QColor(0x9a, 0xb5, 0x96));
        painter.drawRect(0, 0, 255, 255);
        painter.end();
        QBuffer buffer(&m_png);
        buffer.open(QIODevice::WriteOnly);
        tile.save(&buffer, "PNG");

        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
            {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Serve(socket); });
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    m_pending.remove(socket);
                    socket->deleteLater();
                });
            }
        });
    }

    ~TileServer() override
    {
        // The sockets die with the server; their signals must not reach a half-destroyed this.
        m_server.close();
        for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>())
            socket->disconnect(this);
    }

    bool Listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QString UrlTemplate() const
    {
        return QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(m_server.serverPort());
    }
    // Requests answered 404, as from a server without the tiles: none, every one, or the first.
    enum class Failing
    {
        None,
        All,
        First
    };
    void SetFailing(Failing failing) { m_failing = failing; }
    // Tiles a browser may keep for a day, as real tile servers send them; otherwise never kept.
    void SetCacheable(bool cacheable) { m_cacheable = cacheable; }

    QStringList m_paths;
    QStringList m_userAgents;

private:
    void Serve(QTcpSocket* socket)
    {
        QByteArray& pending = m_pending[socket];
        pending += socket->readAll();
        qsizetype end;
        while ((end = pending.indexOf("\r\n\r\n")) >= 0)
        {
            const QByteArray head = pending.left(end);
            pending.remove(0, end + 4);
            const QList<QByteArray> lines = head.split('\n');
            const QList<QByteArray> request = lines.value(0).trimmed().split(' ');
            m_paths << QString::fromLatin1(request.value(1));
            for (const QByteArray& line : lines)
            {
                if (line.toLower().startsWith("user-agent:"))
                    m_userAgents << QString::fromLatin1(line.mid(11).trimmed());
            }
            QByteArray reply;
            const bool fail = m_failing == Failing::All || (m_failing == Failing::First && m_paths.size() == 1);
            if (fail)
                reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nAccess-Control-Allow-Origin: *\r\n\r\n";
            else
                reply = QByteArray("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nAccess-Control-Allow-Origin: *\r\n") +
                        (m_cacheable ? "Cache-Control: max-age=86400\r\n" : "Cache-Control: no-store\r\n") +
                        "Content-Length: " +
                        QByteArray::number(m_png.size()) + "\r\n\r\n" + m_png;
            socket->write(reply);
        }
    }

    QTcpServer m_server;
    QByteArray m_png;
    QHash<QTcpSocket*, QByteArray> m_pending;
    Failing m_failing = Failing::None;
    bool m_cacheable = false;
};
