#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>

// A tiny HTTP server on 127.0.0.1 that stands in for the vendor's web server: it answers each
// path with a set status and body, and records every request it received.
class LocalHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray requestLine; // "GET /path HTTP/1.1"
        QByteArray method;
        QByteArray target;                    // path and query
        QMap<QByteArray, QByteArray> headers; // lower-case names
        QByteArray body;
    };

    LocalHttpServer();
    quint16 port() const { return m_server.serverPort(); }
    QString url() const;
    // The answer for requests whose path (without the query) is `path`; others get 404.
    void answer(const QByteArray& path, int status, const QByteArray& body);

    QList<Request> requests;

private:
    void onConnection();

    QTcpServer m_server;
    QHash<QByteArray, QPair<int, QByteArray>> m_answers;
};
