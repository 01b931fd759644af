#include "LocalHttpServer.h"

#include <QTcpSocket>

LocalHttpServer::LocalHttpServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &LocalHttpServer::onConnection);
}

QString LocalHttpServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void LocalHttpServer::answer(const QByteArray& path, int status, const QByteArray& body)
{
    m_answers.insert(path, {status, body});
}

void LocalHttpServer::onConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        auto* buffer = new QByteArray;
        connect(socket, &QTcpSocket::disconnected, socket, [socket, buffer] {
            delete buffer;
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            Request r;
            const QList<QByteArray> lines = buffer->left(end).split('\n');
            r.requestLine = lines.value(0).trimmed();
            const QList<QByteArray> parts = r.requestLine.split(' ');
            r.method = parts.value(0);
            r.target = parts.value(1);
            for (int i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines.at(i).indexOf(':');
                if (colon > 0)
                    r.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                     lines.at(i).mid(colon + 1).trimmed());
            }
            const int length = r.headers.value("content-length").toInt();
            if (buffer->size() < end + 4 + length)
                return;
            r.body = buffer->mid(end + 4, length);
            buffer->clear();
            requests.append(r);
            const QByteArray path = r.target.split('?').value(0);
            const auto answer = m_answers.value(path, {404, QByteArray("not found")});
            socket->write("HTTP/1.1 " + QByteArray::number(answer.first) +
                          " X\r\nContent-Length: " + QByteArray::number(answer.second.size()) +
                          "\r\nConnection: close\r\n\r\n" + answer.second);
            socket->disconnectFromHost();
        });
    }
}
