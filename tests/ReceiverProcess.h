#pragma once

// ipnd-receiver run as a process: started on port 0, it names the port it
// was given on its first line of output, "listening on 127.0.0.1:PORT".

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

// The next line of the process's output without its line end, or
// "<no line>" when none came within `bound` ms.
inline QByteArray nextOutputLine(QProcess &process, int bound)
{
    const QDeadlineTimer deadline(bound);
    while (!process.canReadLine()) {
        if (deadline.hasExpired() || !process.waitForReadyRead(int(deadline.remainingTime())))
            return "<no line>";
    }
    return process.readLine().chopped(1);
}

// Reads the "listening on" line: the port it names, or 0 when the line did
// not come within `bound` ms.
inline quint16 listeningPort(QProcess &receiver, int bound)
{
    static const QRegularExpression listening(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$"));
    const QByteArray line = nextOutputLine(receiver, bound);
    const QRegularExpressionMatch match = listening.match(QString::fromLatin1(line));
    if (!match.hasMatch()) {
        qWarning("expected the listening line, got \"%s\"", line.constData());
        return 0;
    }
    return match.captured(1).toUShort();
}

// Starts IPND_RECEIVER on port 0 with the further arguments and returns the
// port it listens on, or 0.
inline quint16 startReceiver(QProcess &receiver, const QStringList &arguments, int bound)
{
    receiver.start(QStringLiteral(IPND_RECEIVER), QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    return listeningPort(receiver, bound);
}
