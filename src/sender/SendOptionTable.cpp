#include "sender/SendOptionTable.h"

#include "platform/CommandLine.h"
#include "platform/TlsOptions.h"
#include "testpackets/TestRecords.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The file to replay: a pipe or a device given by name may never end; only a
// regular file is replayed, or standard input when asked for by "-". The
// name is looked up byte for byte: it need not be text.
OptionReader readReplay(SendOptions *options)
{
    return [options](const OptionValue &value) {
        options->mode = SendOptions::Mode::Replay;
        options->replayFile = value.fileName();
        options->replayPath = value.bytes();
        struct stat info = {};
        if (options->replayPath != "-"
            && (::stat(options->replayPath.constData(), &info) != 0 || !S_ISREG(info.st_mode)
                || ::access(options->replayPath.constData(), R_OK) != 0))
            return value.isNot(QStringLiteral("a readable file"));
        return QString();
    };
}

OptionReader readRecord(SendOptions *options)
{
    const OptionRead::Choices<QByteArray> records = {{QStringLiteral("standard"), TestRecords::Standard},
                                                     {QStringLiteral("noadd"), TestRecords::NoAdd},
                                                     {QStringLiteral("long"), TestRecords::Long},
                                                     {QStringLiteral("min"), TestRecords::Min},
                                                     {QStringLiteral("max"), TestRecords::Max}};
    return [options, records](const OptionValue &value) {
        const QString error = OptionRead::choice(&options->record, records)(value);
        if (error.isEmpty())
            options->recordName = value.text.trimmed().toLower();
        return error;
    };
}

// A name, typed in the terminal's encoding; an IPv6 address as every message
// writes it, "[::1]", too.
OptionReader readHost(QString *host)
{
    return [host](const OptionValue &value) {
        *host = QString::fromUtf8(value.bytes()).trimmed();
        if (host->size() >= 2 && host->startsWith(QLatin1Char('[')) && host->endsWith(QLatin1Char(']')))
            *host = host->mid(1, host->size() - 2).trimmed();
        return host->isEmpty() ? value.error(QStringLiteral("no address given")) : QString();
    };
}

// Kept as typed, for the messages.
OptionReader readPort(QString *port)
{
    return [port](const OptionValue &value) {
        *port = value.text;
        int number = 0;
        return OptionRead::number(&number, 1, 65535, QStringLiteral("a port number (1 to 65535)"))(value);
    };
}

// 0, or from a millisecond up: below a millisecond the schedule would be finer
// than its timers.
OptionReader readPeriod(double *period)
{
    return [period](const OptionValue &value) {
        const std::optional<double> seconds = value.real();
        if (!seconds || *seconds > SendOptions::MaxSeconds || (*seconds != 0 && *seconds < SendOptions::MinPeriodSeconds))
            return value.isNot(QStringLiteral("0 or a number of seconds from 0.001 to 86400"));
        *period = *seconds == 0 ? 0.0 : *seconds;
        return QString();
    };
}

// "30s", "2m", "1h", "500ms" or bare seconds.
std::optional<double> stageSeconds(QString text)
{
    double unit = 1;
    for (const auto &[suffix, factor] : {std::pair{"ms", 0.001}, {"s", 1.0}, {"m", 60.0}, {"h", 3600.0}}) {
        if (text.endsWith(QLatin1String(suffix))) {
            text.chop(qsizetype(std::strlen(suffix)));
            unit = factor;
            break;
        }
    }
    bool ok = false;
    const double value = text.toDouble(&ok) * unit;
    if (!ok || !std::isfinite(value) || value < 0.001 || value > SendOptions::MaxSeconds)
        return std::nullopt;
    return value;
}

// --stages DURATION:RATE,...: the rate goes linearly to each stage's RATE
// over its DURATION, from 0 at the start; the run lasts as long as the stages.
QString readStages(const QString &text, SendOptions *options)
{
    const auto bad = [&](const QString &stage, const QString &why) {
        return QStringLiteral("--stages: %1 in %2 %3").arg(CommandLine::quoted(stage), CommandLine::quoted(text), why);
    };
    double total = 0;
    double peak = 0;
    for (const QString &stage : text.split(QLatin1Char(','))) {
        const QStringList parts = stage.trimmed().split(QLatin1Char(':'));
        if (parts.size() != 2)
            return bad(stage, QStringLiteral("is not DURATION:RATE, such as 30s:100"));
        const std::optional<double> seconds = stageSeconds(parts[0].trimmed());
        if (!seconds)
            return bad(stage, QStringLiteral("does not last from 1ms to 24h"));
        bool ok = false;
        const double rate = parts[1].trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(rate) || rate < 0 || rate > SendOptions::MaxRate)
            return bad(stage, QStringLiteral("does not end at a rate from 0 to 1000000 records per second"));
        options->stages.push_back({*seconds, rate});
        total += *seconds;
        peak = std::max(peak, rate);
    }
    if (peak < SendOptions::MinRate)
        return QStringLiteral("--stages: %1 never sends: no stage has a rate above 0").arg(CommandLine::quoted(text));
    if (total > SendOptions::MaxSeconds)
        return QStringLiteral("--stages: %1 lasts longer than 24h").arg(CommandLine::quoted(text));
    options->rate = peak;
    options->durationSeconds = total;
    return {};
}

// The server, and what is sent to it.
QList<OptionSpec> targetOptions(SendOptions *o)
{
    return {
        {{QStringLiteral("host")},
         QStringLiteral("HOST"),
         QStringLiteral("Address or name of the receiving server."),
         readHost(&o->host)},
        {{QStringLiteral("port")},
         QStringLiteral("N"),
         QStringLiteral("Port of the receiving server, 1 to 65535."),
         readPort(&o->port)},
        {{QStringLiteral("record")},
         QStringLiteral("NAME"),
         QStringLiteral("Send one fixed record: standard, noadd, long, min or max. The field table refuses two on "
                        "purpose, as a right receiving server must: long (digit fields filled with letters) and max "
                        "(flags and a state outside their sets)."),
         readRecord(o)},
        {{QStringLiteral("replay")},
         QStringLiteral("FILE"),
         QStringLiteral("Replay the records of a data file; - reads it from standard input."),
         readReplay(o)},
        {{QStringLiteral("format")},
         QStringLiteral("rawlog|multipkt"),
         QStringLiteral("Format of the data file: rawlog (the default) or multipkt."),
         OptionRead::choice(&o->format, dataFormatOptions())},
    };
}

// When the records of a replay go out, and how many.
QList<OptionSpec> pacingOptions(SendOptions *o)
{
    const QString Seconds = QStringLiteral("a number of seconds from 0.001 to 86400");
    return {
        {{QStringLiteral("period")},
         QStringLiteral("SECONDS"),
         QStringLiteral("Seconds from one record to the next, 0.001 to 86400 (default 1), or 0 to send each record "
                        "as soon as a connection is free."),
         readPeriod(&o->periodSeconds)},
        {{QStringLiteral("count")},
         QStringLiteral("N"),
         QStringLiteral("Stop after this many periods, or records with --rate (default: at the end of the file)."),
         OptionRead::number(&o->count, qint64(1), std::numeric_limits<qint64>::max(),
                            QStringLiteral("a whole number of 1 or more"))},
        {{QStringLiteral("rate")},
         QStringLiteral("RECORDS_PER_SECOND"),
         QStringLiteral("Send at this many records per second, 0.001 to 1000000, instead of --period: an open loop. "
                        "Record i is due i / RATE seconds after the start; a due record goes out at once on a free "
                        "connection, or waits in order in a backlog until one is free. Latency is measured from "
                        "the time each record was due."),
         OptionRead::number(&o->rate, SendOptions::MinRate, SendOptions::MaxRate,
                            QStringLiteral("a number of records per second from 0.001 to 1000000"))},
        {{QStringLiteral("pace")},
         QStringLiteral("recorded"),
         QStringLiteral("recorded: send each RAWLOG record at the offset of its line's time stamp from the first "
                        "one's (a capture keeps them to the millisecond), instead of --period: an open loop, "
                        "latency measured from that time. A line whose time cannot be read, or lies before the "
                        "one before it, goes out right after the one before."),
         OptionRead::choice(&o->recordedPace, OptionRead::Choices<bool>{{QStringLiteral("recorded"), true}})},
        {{QStringLiteral("speed")},
         QStringLiteral("FACTOR"),
         QStringLiteral("With --pace recorded: replay this many times as fast as recorded, 0.001 to 1000 "
                        "(default 1)."),
         OptionRead::number(&o->speed, SendOptions::MinSpeed, SendOptions::MaxSpeed,
                            QStringLiteral("a number from 0.001 to 1000"))},
        {{QStringLiteral("stages")},
         QStringLiteral("DURATION:RATE,..."),
         QStringLiteral("An open loop in stages instead of --rate, such as 30s:100,60s:100,10s:0: the rate goes "
                        "linearly from 0 to each stage's RATE over its DURATION (ms, s, m or h; seconds when bare), "
                        "from where the stage before left it; the run ends with the last stage. --rate R "
                        "--ramp-up S is the short form of --stages S:R."),
         [o](const OptionValue &value) { return readStages(value.text, o); }},
        {{QStringLiteral("max-backlog")},
         QStringLiteral("N"),
         QStringLiteral("With --rate or --stages: records that may wait for a free connection, 0 to 1000000 (default 10000); "
                        "a record due when the backlog is full is not sent."),
         OptionRead::number(&o->maxBacklog, qint64(0), SendOptions::MaxBacklog,
                            QStringLiteral("a whole number from 0 to %1").arg(SendOptions::MaxBacklog))},
        {{QStringLiteral("ramp-up")},
         QStringLiteral("SECONDS"),
         QStringLiteral("With --rate: raise the rate linearly from 0 to RATE over this many seconds."),
         OptionRead::number(&o->rampUpSeconds, 0.001, SendOptions::MaxSeconds, Seconds)},
        {{QStringLiteral("duration")},
         QStringLiteral("SECONDS"),
         QStringLiteral("End the sending after this many seconds, 0.001 to 86400: records still waiting are not "
                        "sent, replies to records sent are awaited up to --reply-timeout."),
         OptionRead::number(&o->durationSeconds, 0.001, SendOptions::MaxSeconds, Seconds)},
        {{QStringLiteral("loop")},
         QString(),
         QStringLiteral("Start the data file again from its first line at its end; needs --duration or --count."),
         OptionRead::flag(&o->loop)},
        {{QStringLiteral("connections")},
         QStringLiteral("N"),
         QStringLiteral("Connections side by side, 1 to 256 (default 1); each record goes to a free one, in file "
                        "order."),
         OptionRead::number(&o->connections, 1, SendOptions::MaxConnections,
                            QStringLiteral("a whole number from 1 to %1").arg(SendOptions::MaxConnections))},
    };
}

// How each exchange goes, and what is said of it.
QList<OptionSpec> exchangeOptions(SendOptions *o)
{
    const QString Seconds = QStringLiteral("a number of seconds from 0.001 to 86400");
    return {
        {{QStringLiteral("connect-timeout")},
         QStringLiteral("SECONDS"),
         QStringLiteral("Seconds to wait for a connection, 0.001 to 86400 (default 10)."),
         OptionRead::milliseconds(&o->connectTimeoutMs, 0.001, SendOptions::MaxSeconds, Seconds)},
        {{QStringLiteral("reply-timeout")},
         QStringLiteral("SECONDS"),
         QStringLiteral("Seconds to wait for a reply before the record counts as unanswered, 0.001 to 86400 "
                        "(default 10)."),
         OptionRead::milliseconds(&o->replyTimeoutMs, 0.001, SendOptions::MaxSeconds, Seconds)},
        {{QStringLiteral("reply-gap")},
         QStringLiteral("MS"),
         QStringLiteral("Milliseconds without a byte that end a reply, 1 to 86400000 (default 50). A reply is "
                        "what arrives until the server closes, a line end, or such a gap, within --reply-timeout."),
         OptionRead::number(&o->replyGapMs, 1, int(SendOptions::MaxSeconds) * 1000,
                            QStringLiteral("a whole number of milliseconds from 1 to 86400000"))},
        {{QStringLiteral("quiet")},
         QString(),
         QStringLiteral("Print the summary only, no log lines."),
         OptionRead::flag(&o->quiet)},
        {{QStringLiteral("misbehave")},
         QStringLiteral("MODE"),
         QStringLiteral("Write each packet awkwardly, to try a receiver out: trickle:MS (a byte per write, MS "
                        "apart), split:BYTES:MS (BYTES, then the rest MS later), delay:MS (before the first byte), "
                        "half-close (shut the sending side after the packet) or reset:BYTES (a reset after "
                        "BYTES); none (the default) writes it whole."),
         [o](const OptionValue &value) {
             QString error;
             if (const std::optional<Misbehaviour> misbehaviour = Misbehaviour::fromText(value.text, &error))
                 o->misbehaviour = *misbehaviour;
             return error;
         }},
        {{QStringLiteral("progress")},
         QStringLiteral("SECONDS"),
         QStringLiteral("Write a status line to standard error every SECONDS (0.001 to 86400): counts so far, "
                        "and the rate and p99 over the last interval. Without it the status shows only on a "
                        "terminal, as one line kept up to date, and not with --quiet."),
         OptionRead::number(&o->progressSeconds, 0.001, SendOptions::MaxSeconds, Seconds)},
    };
}

} // namespace

QList<OptionSpec> sendOptionTable(SendOptions *options)
{
    return targetOptions(options) + pacingOptions(options) + exchangeOptions(options) + tlsClientOptions(&options->tls)
        + reportOptions(&options->reports);
}

QString sendUsage()
{
    return QStringLiteral(
        "usage: ipnd-send --host H --port P --record standard|noadd|long|min|max\n"
        "       ipnd-send --host H --port P --replay FILE [--format rawlog|multipkt] [--period SECONDS] [--count N]\n"
        "                 [--connections N] [--duration SECONDS] [--loop]\n"
        "                 [--rate RECORDS_PER_SECOND [--max-backlog N] [--ramp-up SECONDS]]\n"
        "                 [--stages DURATION:RATE,... [--max-backlog N]]\n"
        "                 [--pace recorded [--speed FACTOR] [--max-backlog N]]\n"
        "       common: [--connect-timeout SECONDS] [--reply-timeout SECONDS] [--reply-gap MS]\n"
        "               [--quiet] [--progress SECONDS]\n"
        "               [--misbehave trickle:MS|split:BYTES:MS|delay:MS|half-close|reset:BYTES]\n"
        "               [--expect PATTERN | --manifest FILE [--accept PATTERN] [--refuse PATTERN]]\n"
        "               [--report FILE] [--junit FILE] [--html FILE]\n"
        "               [--max-p50|--max-p90|--max-p95|--max-p99|--max-p99-9 MS] [--max-failed FRACTION]\n"
        "               [--min-rate RECORDS_PER_SECOND]\n"
        "               [--tls [--ca FILE | --insecure] [--servername NAME] [--cert FILE --key FILE]\n"
        "                      [--ciphers LIST] [--no-resume]]\n");
}
