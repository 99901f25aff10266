#include "receiver/Receiver.h"

#include "platform/OutputFile.h"
#include "receiver/PacketCheck.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace {

// ms between the two halves of a split reply: within the quiet gap
// (--reply-gap, default 50 ms) after which ipnd-send takes a reply as whole.
constexpr int SplitPause = 20;
// Descriptors kept back from connections: standard streams, the listening
// socket, the verdicts file, a saved packet, the event loop's own.
constexpr rlim_t ReservedDescriptors = 32;

int connectionLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return INT_MAX;
    if (limit.rlim_cur <= ReservedDescriptors)
        return 1;
    return int(std::min<rlim_t>(limit.rlim_cur - ReservedDescriptors, INT_MAX));
}

// One accepted connection, from its first byte to its close. It owns the
// socket and deletes itself once the socket is closed and nothing is left to
// send.
//
// A peer may close its side of the connection once its packet is sent and
// still wait for the reply. The socket takes that end of the stream for the
// end of the connection and closes its descriptor, so an exchange that has
// bytes keeps a second descriptor of the connection, and the reply goes out
// on that one.
class Exchange final : public QObject
{
public:
    Exchange(QTcpSocket *socket, Receiver *receiver)
        : QObject(receiver), m_socket(socket), m_receiver(receiver),
          m_peer(endpointText(socket->peerAddress(), socket->peerPort()))
    {
        m_socket->setParent(this);
        m_quiet.setSingleShot(true);
        m_quiet.setTimerType(Qt::PreciseTimer);
        connect(&m_quiet, &QTimer::timeout, this, &Exchange::quietElapsed);
        // A peer that sends nothing more would hold its descriptor for ever.
        m_idle.setSingleShot(true);
        connect(&m_idle, &QTimer::timeout, this, &Exchange::idleElapsed);
        if (const std::shared_ptr<TlsServer> &tls = receiver->tls())
            m_tls = std::make_unique<TlsServer::Stream>(tls);
        waitForPeer();
        connect(m_socket, &QTcpSocket::readyRead, this, &Exchange::read);
        connect(m_socket, &QTcpSocket::disconnected, this, &Exchange::closed);
        read();
    }
    ~Exchange() override
    {
        if (m_spare >= 0)
            ::close(m_spare);
    }

private:
    void read()
    {
        QByteArray bytes = m_socket->readAll();
        if (m_tls && !decrypt(bytes))
            return;
        if (bytes.isEmpty())
            return;
        if (m_complete) {
            // The rest of a packet too large to keep is expected; anything
            // after a whole packet is worth a word.
            if (!m_tooLarge && !m_saidBytesAfter) {
                m_saidBytesAfter = true;
                m_receiver->bytesAfterPacket(m_peer);
            }
            if (m_idle.isActive()) // a silent receiver's peer that still talks is not idle
                waitForPeer();
            return;
        }
        m_idle.stop(); // the quiet below ends the packet in less time
        holdSpare();
        m_bytes += bytes;
        if (m_bytes.size() > m_receiver->options().maxPacket) {
            m_bytes.truncate(m_receiver->options().maxPacket);
            m_tooLarge = true;
            complete(true);
            return;
        }
        const int quiet = PacketCheck::quietNeeded(m_bytes);
        if (quiet == PacketCheck::CompleteNow)
            complete(true);
        else
            m_quiet.start(quiet == PacketCheck::QuietAfterRecord ? m_receiver->options().bareGap : quiet);
    }

    void quietElapsed() { complete(true); }

    // The plain bytes that the peer's bytes complete, in place; the
    // handshake's answers go out. False when TLS failed: the exchange ends,
    // with the library's alert sent.
    bool decrypt(QByteArray &bytes)
    {
        bytes = m_tls->take(bytes);
        const QByteArray answer = m_tls->pending();
        if (!answer.isEmpty())
            m_socket->write(answer);
        if (!m_tls->failed())
            return true;
        failTls(m_tls->failure());
        return false;
    }

    void failTls(const QByteArray &why)
    {
        m_receiver->tlsFailed(m_peer, why);
        m_complete = true;
        m_idle.stop();
        m_quiet.stop();
        m_bytes = QByteArray();
        if (m_socket->state() == QAbstractSocket::ConnectedState)
            m_socket->disconnectFromHost();
        else
            deleteLater();
    }

    void waitForPeer()
    {
        if (const int timeout = m_receiver->options().idleTimeout; timeout > 0)
            m_idle.start(timeout);
    }

    void idleElapsed()
    {
        if (!connected())
            return;
        if (m_tls && !m_tls->established()) {
            failTls("handshake not done within the idle timeout");
            return;
        }
        m_receiver->countIdleClose();
        m_complete = true;
        m_socket->abort();
        closeSpare();
        deleteLater();
    }

    void closed()
    {
        // The peer closed, or closed its side only, before the packet was
        // whole: what arrived is the packet, and its reply goes out where a
        // spare descriptor still holds the connection.
        if (!m_complete && !m_bytes.isEmpty())
            complete(m_spare >= 0);
        m_complete = true;
        if (m_replyPending && m_spare >= 0)
            return; // the reply's timer ends the exchange
        closeSpare();
        deleteLater();
    }

    void complete(bool replying)
    {
        m_complete = true;
        m_quiet.stop();
        m_reply = m_tooLarge ? m_receiver->takeTooLarge(m_bytes, m_peer) : m_receiver->takePacket(m_bytes, m_peer);
        m_bytes = QByteArray(); // a connection left open holds no packet
        if (!replying)
            return;

        using M = ReceiverOptions::Misbehaviour;
        switch (m_receiver->options().misbehaviour) {
        case M::None:
            replyAndClose(m_reply);
            return;
        case M::Silent:
            waitForPeer(); // until the peer closes or stays idle too long
            return;
        case M::Close:
            finish();
            return;
        case M::Split: {
            const qsizetype half = (m_reply.size() + 1) / 2;
            send(m_reply.left(half));
            m_replyPending = true;
            QTimer::singleShot(SplitPause, Qt::PreciseTimer, this,
                               [this, half] { replyAndClose(m_reply.mid(half)); });
            return;
        }
        case M::Slow:
            m_replyPending = true;
            QTimer::singleShot(m_receiver->options().delay, Qt::PreciseTimer, this,
                               [this] { replyAndClose(m_reply); });
            return;
        }
    }

    void replyAndClose(const QByteArray &bytes)
    {
        m_replyPending = false;
        if (!connected())
            return;
        send(bytes);
        finish();
    }

    bool connected() const { return m_socket->state() == QAbstractSocket::ConnectedState || m_spare >= 0; }

    void send(const QByteArray &plain)
    {
        const QByteArray bytes = m_tls ? m_tls->encrypt(plain) : plain;
        if (m_socket->state() == QAbstractSocket::ConnectedState) {
            m_socket->write(bytes);
            m_socket->flush();
        } else if (m_spare >= 0 && !bytes.isEmpty()) {
            // A reply is short: the socket's send buffer takes it whole.
            (void)::send(m_spare, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
    }

    // Closes the connection; the socket's close ends the exchange.
    void finish()
    {
        if (m_socket->state() == QAbstractSocket::ConnectedState) {
            if (m_tls)
                m_socket->write(m_tls->closing());
            m_socket->disconnectFromHost();
            return;
        }
        closeSpare();
        deleteLater();
    }

    void holdSpare()
    {
        // What goes out on the spare goes round TLS: a TLS exchange has none.
        if (m_tls || m_spare >= 0 || !m_receiver->holdDescriptor())
            return;
        m_spare = ::fcntl(int(m_socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
        if (m_spare < 0)
            m_receiver->releaseDescriptor();
    }

    void closeSpare()
    {
        if (m_spare < 0)
            return;
        ::close(m_spare);
        m_spare = -1;
        m_receiver->releaseDescriptor();
    }

    QTcpSocket *const m_socket;
    Receiver *const m_receiver;
    std::unique_ptr<TlsServer::Stream> m_tls; // with TLS
    const QByteArray m_peer;
    QByteArray m_bytes;
    QByteArray m_reply;
    QTimer m_quiet;
    QTimer m_idle;
    int m_spare = -1; // a second descriptor of the connection, or -1
    bool m_complete = false;
    bool m_tooLarge = false;
    bool m_saidBytesAfter = false;
    bool m_replyPending = false; // split or slow: the rest of the reply is still to go
};

} // namespace

QByteArray endpointText(const QHostAddress &address, quint16 port)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    const QByteArray host = isV4 ? QHostAddress(v4).toString().toLatin1()
                            : '[' + address.toString().toLatin1() + ']';
    return host + ':' + QByteArray::number(port);
}

Receiver::Receiver(const ReceiverOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_descriptorBound(connectionLimit()),
      m_mostOpen(std::min(m_descriptorBound, options.maxConnections))
{
    // Out of descriptors, the server's accept fails at once and its socket
    // stays readable: the event loop would spin at full speed until one closes.
    // So connections are taken only while a descriptor is left for them, and
    // at most one waits taken but unserved; the rest wait in the backlog.
    m_server.setMaxPendingConnections(1);
    connect(&m_server, &QTcpServer::newConnection, this, &Receiver::accept);
}

bool Receiver::listen(QByteArray *error)
{
    if (m_server.listen(m_options.bind, m_options.port))
        return true;
    QByteArray reason;
    switch (m_server.serverError()) {
    case QAbstractSocket::AddressInUseError:
        reason = "address already in use";
        break;
    case QAbstractSocket::SocketAccessError:
        reason = "permission denied";
        break;
    default:
        reason = m_server.errorString().toLocal8Bit();
        break;
    }
    *error = "cannot listen on " + endpointText(m_options.bind, m_options.port) + ": " + reason;
    return false;
}

bool Receiver::openOutputs(QByteArray *error)
{
    if (!m_options.tlsCert.isEmpty()) {
        m_tls = TlsServer::create(m_options.tlsCert, m_options.tlsKey, m_options.tlsClientCa, error);
        if (!m_tls)
            return false;
    }
    if (const QString &name = m_options.saveDirectory; !name.isEmpty()) {
        const QByteArray quoted = '"' + name.toLocal8Bit() + '"';
        if (!QDir().mkpath(name)) {
            *error = "--save: cannot create directory " + quoted;
            return false;
        }
        // Packet numbers start at 1 each run: an earlier run's files would
        // pass for this one's.
        const QDir directory(name);
        if (!directory.entryList({QStringLiteral("packet-*.bin")}, QDir::Files | QDir::Hidden).isEmpty()) {
            *error = "--save: " + quoted + " holds packets of an earlier run; empty it or name another directory";
            return false;
        }
        QTemporaryFile probe(directory.filePath(QStringLiteral(".ipnd-receiver-XXXXXX")));
        if (!probe.open()) {
            *error = "--save: cannot write in " + quoted + ": " + probe.errorString().toLocal8Bit();
            return false;
        }
    }
    if (!m_options.verdictsFile.isEmpty() && !m_verdicts.open(m_options.verdictsFile, error))
        return false;
    return m_options.captureFile.isEmpty() || m_capture.open(m_options.captureFile, error);
}

bool Receiver::writePortFile(QByteArray *error) const
{
    if (m_options.portFile.isEmpty())
        return true;
    // Renamed into place: a reader waiting for the file never sees it half.
    QString reason;
    if (saveWhole(m_options.portFile, QByteArray::number(m_server.serverPort()) + '\n', &reason))
        return true;
    *error = "--port-file: cannot write \"" + m_options.portFile.toLocal8Bit() + "\": " + reason.toLocal8Bit();
    return false;
}

QByteArray Receiver::listeningLine() const
{
    return "listening on " + endpointText(m_server.serverAddress(), m_server.serverPort());
}

QList<QByteArray> Receiver::summaryLines() const
{
    QList<QByteArray> lines = {"packets " + QByteArray::number(m_counts.packets),
                               "framed " + QByteArray::number(m_counts.framed),
                               "bare " + QByteArray::number(m_counts.bare),
                               "malformed " + QByteArray::number(m_counts.malformed),
                               "idle closed " + QByteArray::number(m_counts.idleClosed)};
    if (m_tls)
        lines.append("tls failed " + QByteArray::number(m_counts.tlsFailed));
    if (m_capture.isOpen())
        lines.append("not captured " + QByteArray::number(m_capture.notCaptured()));
    if (m_capture.lost() > 0)
        lines.append("capture lines lost " + QByteArray::number(m_capture.lost()));
    if (m_verdicts.lost() > 0)
        lines.append("verdict lines lost " + QByteArray::number(m_verdicts.lost()));
    lines.append(m_verdicts.summaryLine());
    return lines;
}

void Receiver::finishOutputs()
{
    // Bounded: a reader that stopped reading must not hold the end back.
    constexpr int FinishWait = 1000; // ms for each file
    m_verdicts.finish(FinishWait);
    m_capture.finish(FinishWait);
}

bool Receiver::linesLost() const
{
    return m_capture.lost() > 0 || m_verdicts.lost() > 0;
}

QByteArray Receiver::takePacket(const QByteArray &packet, const QByteArray &peer)
{
    return take(PacketCheck::check(packet), packet, peer);
}

QByteArray Receiver::takeTooLarge(const QByteArray &start, const QByteArray &peer)
{
    return take(PacketCheck::checkTooLarge(start, m_options.maxPacket), start, peer);
}

void Receiver::tlsFailed(const QByteArray &peer, const QByteArray &why)
{
    ++m_counts.tlsFailed;
    emit failure("from " + peer + ": TLS: " + why);
}

void Receiver::bytesAfterPacket(const QByteArray &peer)
{
    emit failure("from " + peer + ": more bytes after its packet was judged; they are not part of it");
}

QByteArray Receiver::take(const PacketCheck::Result &result, const QByteArray &packet, const QByteArray &peer)
{
    const QDateTime receivedAt = QDateTime::currentDateTime();
    const int number = ++m_counts.packets;
    ++(result.framed ? m_counts.framed : m_counts.bare);
    if (result.malformed)
        ++m_counts.malformed;

    if (!m_options.saveDirectory.isEmpty()) {
        const QString path =
            QDir(m_options.saveDirectory).filePath(QStringLiteral("packet-%1.bin").arg(number));
        const std::unique_ptr<QFileDevice> file =
            openOutput(path, {OutputWay::File::Truncated, OutputWay::Other::AsFile});
        QString reason;
        if (!file->isOpen() || !writeAll(*file, packet, &reason) || !commitWhole(*file))
            emit failure("packet " + QByteArray::number(number) + ": cannot save to " + path.toLocal8Bit() + ": " +
                         file->errorString().toLocal8Bit());
    }
    bool captureLost = false;
    if (m_capture.isOpen()) {
        if (const QByteArray why = m_capture.add(result, peer, receivedAt, &captureLost); !why.isEmpty())
            emit failure("packet " + QByteArray::number(number) + ": not captured: " + why);
    }
    if (QByteArray reason; !m_verdicts.add(number, result, &reason))
        emit failure("packet " + QByteArray::number(number) + ": cannot write its verdict to " +
                     m_options.verdictsFile.toLocal8Bit() + ": " + reason);
    if (!m_options.quiet)
        emit line("packet " + QByteArray::number(number) + " from " + peer + ": " + result.text());

    return replyTo(result, captureLost);
}

QByteArray Receiver::replyTo(const PacketCheck::Result &result, bool captureLost) const
{
    if (m_options.reply)
        return QByteArray(*m_options.reply).replace("{id}", result.recordId);
    const QByteArray id = result.recordId.isEmpty() ? QByteArray() : ' ' + result.recordId;
    if (m_options.judge && result.malformed)
        return "NAK" + id + ' ' + result.verdict();
    // A judging receiver takes what it keeps: the source may send it again.
    if (m_options.judge && captureLost)
        return "NAK" + id + " not-captured";
    return "ACK" + id;
}

bool Receiver::holdDescriptor()
{
    if (m_open + m_held >= m_descriptorBound)
        return false;
    ++m_held;
    return true;
}

void Receiver::releaseDescriptor()
{
    --m_held;
    accept();
}

void Receiver::accept()
{
    while (m_open < m_mostOpen && m_open + m_held < m_descriptorBound) {
        QTcpSocket *const socket = m_server.nextPendingConnection();
        if (!socket)
            return;
        auto *exchange = new Exchange(socket, this);
        ++m_open;
        connect(exchange, &QObject::destroyed, this, &Receiver::exchangeEnded);
    }
    if (!m_fullSaid && m_server.hasPendingConnections()) {
        m_fullSaid = true;
        const QByteArray bound = m_mostOpen < m_descriptorBound ? "--max-connections" : "the descriptor limit";
        emit failure(QByteArray::number(m_open) + " connections open, as many as " + bound +
                     " allows; further clients wait until one closes");
    }
}

void Receiver::exchangeEnded()
{
    --m_open;
    accept();
}
