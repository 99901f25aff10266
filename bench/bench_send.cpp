// Closed-loop throughput: ipnd-send --period 0 against ipnd-receiver, side
// by side in one run with a plain POSIX-socket client doing the same
// exchanges (connect, 318-byte framed record, read the reply to the end,
// close) against the same receiver. Loopback only; every wait is bounded.

#include "testpackets/TestRecords.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int DefaultRecords = 20000;

struct Receiver
{
    QProcess process;
    quint16 port = 0;

    bool start()
    {
        process.setProgram(QStringLiteral(IPND_RECEIVER));
        process.setArguments({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--quiet")});
        process.start();
        if (!process.waitForStarted(10000) || !process.waitForReadyRead(10000))
            return false;
        const QString line = QString::fromLatin1(process.readLine()).trimmed();
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$")).match(line);
        port = m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
        return port != 0;
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
    }
};

// One exchange the plain way; false on any failure.
bool plainExchange(quint16 port, const QByteArray &packet)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::send(fd, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL) == packet.size();
    char buffer[512];
    qsizetype replied = 0;
    while (ok) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            replied += n;
        else
            break; // the receiver closes after its reply
    }
    ::close(fd);
    return ok && replied > 0;
}

struct Result
{
    int done = 0;
    double seconds = 0;
    double perSecond() const { return seconds > 0 ? done / seconds : 0; }
};

Result runPlain(quint16 port, const QByteArray &packet, int records)
{
    Result result;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < records && clock.elapsed() < 120000; ++i)
        result.done += plainExchange(port, packet) ? 1 : 0;
    result.seconds = double(clock.nsecsElapsed()) / 1e9;
    return result;
}

Result runSender(quint16 port, const QString &dataFile, int records, QByteArray *summary)
{
    Result result;
    QProcess sender;
    sender.setProgram(QStringLiteral(IPND_SEND));
    sender.setArguments({QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                         QString::number(port), QStringLiteral("--replay"), dataFile, QStringLiteral("--period"),
                         QStringLiteral("0"), QStringLiteral("--count"), QString::number(records),
                         QStringLiteral("--quiet")});
    QElapsedTimer clock;
    clock.start();
    sender.start();
    if (!sender.waitForFinished(180000)) {
        sender.kill();
        sender.waitForFinished(5000);
        return result;
    }
    result.seconds = double(clock.nsecsElapsed()) / 1e9;
    *summary = sender.readAllStandardOutput();
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("answered (\\d+),")).match(QString::fromLatin1(*summary));
    result.done = m.hasMatch() ? m.captured(1).toInt() : 0;
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int records = DefaultRecords;
    const QStringList args = app.arguments();
    if (const qsizetype i = args.indexOf(QStringLiteral("--records")); i > 0 && i + 1 < args.size())
        records = std::max(1, args[i + 1].toInt());

    // 318 bytes on the wire: the Standard record framed as the replay frames it.
    const QByteArray packet = "0900311" + TestRecords::Standard;
    QTemporaryDir dir;
    const QString dataFile = dir.filePath(QStringLiteral("closed-loop.dat"));
    {
        QFile file(dataFile);
        if (!dir.isValid() || !file.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray line = "2007-11-14 13:38:24\tTCPIN\t127.0.0.1:50003\t" + TestRecords::Standard + '\n';
        for (int i = 0; i < records; ++i)
            file.write(line);
    }

    Receiver receiver;
    if (!receiver.start()) {
        std::fprintf(stderr, "ipnd-bench-send: ipnd-receiver did not start\n");
        receiver.stop();
        return 1;
    }
    std::printf("ipnd-bench-send: closed loop, %d records of %lld bytes, ipnd-receiver on 127.0.0.1:%u\n", records,
                static_cast<long long>(packet.size()), receiver.port);

    // Warm both paths up, then alternate so that machine noise hits both.
    runPlain(receiver.port, packet, 200);
    QByteArray summary;
    Result plainBest, senderBest;
    for (int round = 1; round <= 2; ++round) {
        const Result plain = runPlain(receiver.port, packet, records);
        const Result sender = runSender(receiver.port, dataFile, records, &summary);
        std::printf("  round %d: plain client %8.0f records/s (%d in %.2f s)   ipnd-send %8.0f records/s (%d in %.2f s)\n",
                    round, plain.perSecond(), plain.done, plain.seconds, sender.perSecond(), sender.done,
                    sender.seconds);
        if (plain.perSecond() > plainBest.perSecond())
            plainBest = plain;
        if (sender.perSecond() > senderBest.perSecond())
            senderBest = sender;
    }
    receiver.stop();

    std::printf("  ipnd-send's own summary of its last run:\n%s", summary.constData());
    const bool complete = plainBest.done == records && senderBest.done == records;
    const double ratio = plainBest.perSecond() > 0 ? senderBest.perSecond() / plainBest.perSecond() : 0;
    std::printf("  best: ipnd-send %.0f records/s, plain client %.0f records/s, ratio %.2f (target >= 0.70: %s)\n",
                senderBest.perSecond(), plainBest.perSecond(), ratio, ratio >= 0.70 ? "met" : "NOT MET");
    if (!complete)
        std::printf("  not every exchange completed: plain %d, ipnd-send %d of %d\n", plainBest.done, senderBest.done,
                    records);
    return complete ? 0 : 1;
}
