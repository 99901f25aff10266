#pragma once

// Shared fixture for tests that touch the network. Every window a test sends
// from is made by LoopbackWindow, which points the address and port fields at
// a QTcpServer that the test itself started on 127.0.0.1, port 0, before the
// test can press anything.

#include "console/frmIPNDTCPServer.h"
#include "platform/Clock.h"
#include "ScriptedFileDialog.h"
#include "platform/Socket.h"

#include <QHostAddress>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <memory>

class FixedClock final : public Clock
{
public:
    QDateTime now() const override { return m_now; }
    void set(const QDateTime &now) { m_now = now; }

private:
    QDateTime m_now{QDate(2026, 12, 8), QTime(13, 5, 9)};
};

// A receiving server on loopback. Each accepted connection's bytes are kept;
// once a connection has received replyAfter bytes the server answers with the
// reply (or stays silent, or closes without a reply).
class TestServer : public QObject
{
public:
    enum class Answer { Reply, Silent, CloseWithoutReply };

    Answer answer = Answer::Reply;
    QByteArray reply = "ACK";
    qsizetype replyAfter = 1;
    // Per connection, in order; connections beyond the list use replyAfter.
    QList<qsizetype> replyAfterSizes;

    TestServer()
    {
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            qFatal("test server cannot listen on 127.0.0.1: %s", qPrintable(m_server.errorString()));
        connect(&m_server, &QTcpServer::newConnection, this, &TestServer::accept);
    }

    quint16 port() const { return m_server.serverPort(); }
    int connectionCount() const { return int(m_received.size()); }
    QByteArray received(int connection) const { return m_received.value(connection); }
    QTcpSocket *connection(int index) const { return m_sockets.value(index); }
    bool isPeerClosed(int index) const
    {
        QTcpSocket *s = m_sockets.value(index);
        return !s || s->state() == QAbstractSocket::UnconnectedState;
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            const int index = int(m_received.size());
            m_received.append(QByteArray());
            m_sockets.append(socket);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, index] {
                m_received[index] += socket->readAll();
                const qsizetype wanted = index < replyAfterSizes.size() ? replyAfterSizes[index] : replyAfter;
                if (m_received[index].size() < wanted || m_answered.contains(index))
                    return;
                m_answered.append(index);
                if (answer == Answer::Reply)
                    socket->write(reply);
                else if (answer == Answer::CloseWithoutReply)
                    socket->disconnectFromHost();
            });
        }
    }

    QTcpServer m_server;
    QList<QByteArray> m_received;
    QList<QPointer<QTcpSocket>> m_sockets;
    QList<int> m_answered;
};

// A window whose link points at the test's own server on 127.0.0.1. The real
// one-second timer is stopped: tests drive ticks themselves.
inline std::unique_ptr<frmIPNDTCPServer> makeLoopbackWindow(const TestServer &server, const FixedClock &clock,
                                                            WindowSettings settings = {})
{
    settings.clock = &clock;
    auto window = std::make_unique<frmIPNDTCPServer>(settings);
    window->Timer1->stop();
    window->txbAddress->setText(QStringLiteral("127.0.0.1"));
    window->txbPort->setText(QString::number(server.port()));
    return window;
}

// The newest n log lines, newest first, without the time of day in front of
// them (a line without that time stamp is returned whole, so it fails any
// comparison).
inline QList<QByteArray> newestLogTexts(const frmIPNDTCPServer &window, const FixedClock &clock, int n)
{
    const QString stamp = timeOfDayText(clock.now().time()) + QLatin1Char(' ');
    QList<QByteArray> texts;
    for (int slot = EventLog::Slots; slot > EventLog::Slots - n; --slot) {
        const QString line = window.eventLog().slot(slot);
        texts.append(line.startsWith(stamp) ? line.mid(stamp.size()).toLatin1() : "<no time stamp> " + line.toLatin1());
    }
    return texts;
}

// How many slots hold a line.
inline int logLineCount(const frmIPNDTCPServer &window)
{
    int count = 0;
    for (int slot = 1; slot <= EventLog::Slots; ++slot)
        count += window.eventLog().slot(slot).isEmpty() ? 0 : 1;
    return count;
}
