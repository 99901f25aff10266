#pragma once

#include "receiver/Capture.h"
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
    // Makes the --save directory and opens the --verdicts and --capture
    // files, as asked for; false, with one line in *error, when one cannot
    // be written or the directory holds packets of an earlier run.
    bool openOutputs(QByteArray *error);
    // Once listening: the --port-file, if asked for, written whole; false,
    // with one line in *error, when it cannot be.
    bool writePortFile(QByteArray *error) const;
    QByteArray listeningLine() const; // "listening on 127.0.0.1:50003"

    const ReceiverOptions &options() const { return m_options; }
    Counts counts() const { return m_counts; }
    // "packets N", "framed N", "bare N", "malformed N", "idle closed N",
    // with --capture "not captured N", when lines could not be written
    // "capture lines lost N" and "verdict lines lost N", then the packets per
    // verdict ("verdicts: valid N, too-wide N, ...").
    QList<QByteArray> summaryLines() const;
    // At the end: writes what still waits for a slow reader, for a bounded time.
    void finishOutputs();
    // Whether a line of --verdicts or --capture could not be written.
    bool linesLost() const;

    // Checks, counts, saves, captures and reports one whole packet from
    // `peer`; returns the reply to send.
    QByteArray takePacket(const QByteArray &packet, const QByteArray &peer);
    // The same for a packet longer than --max-packet, of which `start` was kept.
    QByteArray takeTooLarge(const QByteArray &start, const QByteArray &peer);
    void countIdleClose() { ++m_counts.idleClosed; }
    // Bytes that came from `peer` after its packet was judged.
    void bytesAfterPacket(const QByteArray &peer);
    // A second descriptor for a connection, while the descriptor limit
    // spares one: false when it does not. Each one held is released.
    bool holdDescriptor();
    void releaseDescriptor();

signals:
    void line(const QByteArray &text);    // for stdout
    void failure(const QByteArray &text); // for stderr

private:
    QByteArray take(const PacketCheck::Result &result, const QByteArray &packet, const QByteArray &peer);
    QByteArray replyTo(const PacketCheck::Result &result, bool captureLost) const;
    void accept();
    void exchangeEnded();

    const ReceiverOptions m_options;
    QTcpServer m_server;
    Counts m_counts;
    Verdicts m_verdicts;
    Capture m_capture;
    int m_open = 0;
    int m_held = 0;            // second descriptors of open connections
    int m_descriptorBound = 0; // the descriptor limit less a few for the program's own files
    int m_mostOpen = 0;        // the lower of that and --max-connections
    bool m_fullSaid = false;   // once a run: a flood would say it again with every close
};

// "127.0.0.1:40312", or "[::1]:40312" for an IPv6 address.
QByteArray endpointText(const QHostAddress &address, quint16 port);
