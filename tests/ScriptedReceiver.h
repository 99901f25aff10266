#pragma once

// A receiver inside the test: it answers each record as the test says for
// its id (the record's first field), with a reply of the test's choosing or
// with nothing at all, at once or after a stall, and closes after a reply.
// Records it has no word for get "OK <id>". Loopback only, port 0.

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

class ScriptedReceiver : public QObject
{
public:
    ScriptedReceiver()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_server.serverPort(); }
    // std::nullopt: stay silent, the connection open.
    void answer(const QByteArray &id, const std::optional<QByteArray> &reply) { m_replies.insert(id, reply); }
    // The reply to this record comes `ms` after it: a receiver that stalls.
    void stall(const QByteArray &id, int ms) { m_stalls.insert(id, ms); }

    QList<QByteArray> idsSeen; // in the order the records came in whole
    bool keepOpen = false;     // the connection stays open after the reply

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &packet = m_packets[socket];
        packet += socket->readAll();
        // A three-digit packet code, the record's length in four digits, the record.
        if (packet.size() < 7 || packet.size() < 7 + packet.mid(3, 4).toInt())
            return;
        const QByteArray record = packet.mid(7);
        const QByteArray id = record.left(record.indexOf('|'));
        idsSeen << id;
        const std::optional<QByteArray> reply = m_replies.value(id, "OK " + id);
        if (!reply)
            return;
        const auto send = [this, socket, reply] {
            socket->write(*reply);
            if (!keepOpen)
                socket->disconnectFromHost();
        };
        if (m_stalls.contains(id))
            QTimer::singleShot(m_stalls.value(id), socket, send);
        else
            send();
    }

    QTcpServer m_server;
    QHash<QByteArray, std::optional<QByteArray>> m_replies;
    QHash<QByteArray, int> m_stalls;
    QHash<QTcpSocket *, QByteArray> m_packets;
};
