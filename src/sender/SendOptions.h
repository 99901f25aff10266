#pragma once

#include "DataFile/DataFormat.h"
#include "link/Misbehaviour.h"
#include "platform/Tls.h"
#include "report/ReportOptions.h"
#include "sender/LoadSchedule.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

// What ipnd-send was asked to do.
struct SendOptions
{
    enum class Mode { Record, Replay };

    // Bounds of the numeric options.
    static constexpr double MinPeriodSeconds = 0.001; // other than 0
    static constexpr double MaxSeconds = 24 * 3600;   // period and timeouts
    static constexpr int MaxConnections = 256;
    static constexpr double MinRate = 0.001; // records per second
    static constexpr double MaxRate = 1e6;
    static constexpr qint64 DefaultMaxBacklog = 10000;
    static constexpr qint64 MaxBacklog = 1000000;
    static constexpr double MinSpeed = 0.001;
    static constexpr double MaxSpeed = 1000;

    QString host;
    QString port;
    Mode mode = Mode::Record;
    QString recordName;   // standard, noadd, long, min or max
    QByteArray record;    // the fixed record itself
    QString replayFile;   // as text, for messages and reports
    QByteArray replayPath; // as typed, opened byte for byte; "-" is standard input
    DataFormat format = DataFormat::RawLog;
    double periodSeconds = 1.0;
    qint64 count = -1;    // periods; -1 until the end of the file
    double rate = 0;      // records per second, an open loop; 0: paced by the period
    qint64 maxBacklog = DefaultMaxBacklog;
    double rampUpSeconds = 0;
    std::vector<LoadStage> stages; // --stages: they set the rate (their peak) and the duration
    double durationSeconds = 0; // 0: until the end of the file or the count
    bool loop = false;    // the data file starts again at its end
    bool recordedPace = false; // --pace recorded: each record at its line's time from the first
    double speed = 1;          // --speed: how much faster than recorded
    double progressSeconds = 0; // 0: no progress lines
    int connections = 1;
    int connectTimeoutMs = 10000;
    int replyTimeoutMs = 10000;
    // A reply ends when the peer closes, at a line end, or after this long
    // without a byte.
    int replyGapMs = 50;
    bool quiet = false;
    Misbehaviour misbehaviour; // how each packet is written
    ReportOptions reports; // --expect, the reports and the thresholds
    TlsClientOptions tls;  // --tls and what goes with it

    // The server as messages write it: "host:port", "[::1]:port".
    QString endpoint() const
    {
        return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host)
            + QLatin1Char(':') + port;
    }
};

struct ParsedSendArguments
{
    std::optional<SendOptions> options;
    bool printed = false; // --help or --version was printed: nothing to run
    QString error;        // one line naming the bad argument, as typed
};

// The arguments as CommandLine::byteArguments gives them, the program's
// name first. Help and the version go to `out`.
ParsedSendArguments parseSendArguments(const QStringList &arguments, std::FILE *out = stdout);

QString sendUsage();
