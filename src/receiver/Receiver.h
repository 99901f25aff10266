#pragma once

#include "receiver/ReceiverOptions.h"
#include "receiver/Verdicts.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// The receiving server: accepts each connection, reads one packet, checks
// it, replies (or misbehaves as told) and closes. Every line it has to say
// comes out of line(), without a line end.
class Receiver : public QObject
{
    Q_OBJECT

public:
    struct Counts
    {
        int packets = 0;
        int framed = 0;
        int bare = 0;
        int malformed = 0; // framed or bare, with any check failed
        int idleClosed = 0; // connections closed for sending nothing within the idle timeout
    };

    explicit Receiver(const ReceiverOptions &options, QObject *parent = nullptr);

    // False, with one line naming the address and port in *error, when the
    // port cannot be bound.
    bool listen(QByteArray *error);
    // Opens the --verdicts file, if one was asked for; false, with one line
    // in *error, when it cannot be written.
    bool openVerdicts(QByteArray *error);
    QByteArray listeningLine() const; // "listening on 127.0.0.1:50003"

    const ReceiverOptions &options() const { return m_options; }
    Counts counts() const { return m_counts; }
    // "packets N", "framed N", "bare N", "malformed N", "idle closed N",
    // then the packets per verdict ("verdicts: valid N, too-wide N, ...").
    QList<QByteArray> summaryLines() const;

    // Checks, counts, saves and reports one whole packet from `peer`; returns
    // the reply to send.
    QByteArray takePacket(const QByteArray &packet, const QByteArray &peer);
    void countIdleClose() { ++m_counts.idleClosed; }

signals:
    void line(const QByteArray &text);    // for stdout
    void failure(const QByteArray &text); // for stderr

private:
    void accept();
    void exchangeEnded();

    const ReceiverOptions m_options;
    QTcpServer m_server;
    Counts m_counts;
    Verdicts m_verdicts;
    int m_open = 0;
    int m_mostOpen = 0; // the descriptor limit less a few for the program's own files
    bool m_full = false; // said so on stderr; said again after it eases
};

// "127.0.0.1:40312", or "[::1]:40312" for an IPv6 address.
QByteArray endpointText(const QHostAddress &address, quint16 port);
