// ipnd-conform's default battery against `ipnd-receiver --judge` on
// loopback: its wall time beside the 60 s it may take, and the capacity its
// section 4.2 finds beside the rate `ipnd-send --rate` reaches against the
// same receiver over as many connections.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr double MostSeconds = 60;
constexpr int SendConnections = 16; // as section 4 uses

bool finish(QProcess &process, int ms)
{
    return process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QProcess receiver;
    receiver.start(QStringLiteral(IPND_RECEIVER), {"--port", "0", "--judge", "--quiet"});
    const QRegularExpression listening(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)"));
    QString port;
    if (receiver.waitForReadyRead(10000))
        port = listening.match(QString::fromLatin1(receiver.readLine())).captured(1);
    if (port.isEmpty()) {
        std::fprintf(stderr, "ipnd-bench-conform: the receiver did not start\n");
        return 1;
    }

    const QString report = dir.filePath(QStringLiteral("conform.json"));
    QProcess conform;
    QElapsedTimer clock;
    clock.start();
    conform.start(QStringLiteral(IPND_CONFORM), {"--host", "127.0.0.1", "--port", port, "--quiet", "--report", report});
    const bool conformed = finish(conform, 300000);
    const double seconds = double(clock.elapsed()) / 1000;
    QFile file(report);
    QString capacity = QStringLiteral("(no report)");
    if (file.open(QIODevice::ReadOnly)) {
        for (const QJsonValue &c : QJsonDocument::fromJson(file.readAll()).object()["cases"].toArray()) {
            if (c["id"] == "4.2")
                capacity = c["reason"].toString();
        }
    }
    std::printf("ipnd-conform default suite: exit %d, %.1f s; target <= %.0f s: %s\n", conformed ? conform.exitCode() : -1,
                seconds, MostSeconds, conformed && seconds <= MostSeconds ? "met" : "MISSED");
    std::printf("%s", conform.readAllStandardOutput().constData());
    std::printf("section 4.2 capacity: %s\n", qPrintable(capacity));

    const QString data = dir.filePath(QStringLiteral("gen.dat"));
    QProcess gen;
    gen.start(QStringLiteral(IPND_GEN), {"--count", "1000", "--seed", "1", "--output", data});
    QProcess send;
    if (finish(gen, 60000)) {
        send.start(QStringLiteral(IPND_SEND), {"--host", "127.0.0.1", "--port", port, "--replay", data, "--loop",
                                               "--rate", "100000", "--duration", "3", "--connections",
                                               QString::number(SendConnections), "--quiet"});
        finish(send, 60000);
    }
    const QString summary = QString::fromLatin1(send.readAllStandardOutput() + send.readAllStandardError());
    const QRegularExpression rate(QStringLiteral("rate: ([0-9.]+) records per second"));
    std::printf("ipnd-send --rate 100000 --connections %d for 3 s reaches: %s records/s\n", SendConnections,
                qPrintable(rate.match(summary).captured(1)));
    receiver.kill();
    receiver.waitForFinished();
    return conformed ? 0 : 1;
}
