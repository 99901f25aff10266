#include "sender/SendOptions.h"

#include "DataFile/TCPIPNDserver.h"
#include "platform/CommandLine.h"
#include "platform/SameFile.h"
#include "platform/TlsOptions.h"
#include "testpackets/TestRecords.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

std::optional<QByteArray> fixedRecord(const QString &name)
{
    if (name == QLatin1String("standard"))
        return TestRecords::Standard;
    if (name == QLatin1String("noadd"))
        return TestRecords::NoAdd;
    if (name == QLatin1String("long"))
        return TestRecords::Long;
    if (name == QLatin1String("min"))
        return TestRecords::Min;
    if (name == QLatin1String("max"))
        return TestRecords::Max;
    return std::nullopt;
}

// Seconds from `least` to a day; whole milliseconds are what the timers keep.
std::optional<double> seconds(const QString &text, double least)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < least || value > SendOptions::MaxSeconds)
        return std::nullopt;
    return value;
}

// --pace recorded and --speed FACTOR.
QString readPace(const std::optional<QString> &pace, const std::optional<QString> &speed, SendOptions *options)
{
    if (!pace)
        return QStringLiteral("--speed goes with --pace recorded");
    if (pace->trimmed().compare(QLatin1String("recorded"), Qt::CaseInsensitive) != 0)
        return QStringLiteral("--pace: %1 is not recorded").arg(CommandLine::quoted(*pace));
    // Only a RAWLOG line carries the time it was logged at.
    if (options->format != QLatin1String(RawLogMode))
        return QStringLiteral("--pace recorded needs --format rawlog: MULTIPKT lines carry no time");
    options->recordedPace = true;
    if (speed) {
        bool ok = false;
        options->speed = speed->trimmed().toDouble(&ok);
        if (!ok || !(options->speed >= SendOptions::MinSpeed && options->speed <= SendOptions::MaxSpeed))
            return QStringLiteral("--speed: %1 is not a number from 0.001 to 1000").arg(CommandLine::quoted(*speed));
    }
    return {};
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

} // namespace

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

ParsedSendArguments parseSendArguments(const QStringList &arguments, std::FILE *out)
{
    ParsedSendArguments parsed;
    const auto fail = [&](const QString &error) {
        parsed.error = error;
        return parsed;
    };

    CommandLine commandLine(QStringLiteral("ipnd-send"),
                            QStringLiteral("Sends one fixed record, or replays a data file, to a receiving server over "
                                           "TCP: one record per connection, with the window's event-log lines on "
                                           "standard output and a summary at the end. Give either --record or "
                                           "--replay."));
    QCommandLineParser &parser = commandLine.parser;
    parser.addOptions({
        {QStringLiteral("host"), QStringLiteral("Address or name of the receiving server."), QStringLiteral("HOST")},
        {QStringLiteral("port"), QStringLiteral("Port of the receiving server, 1 to 65535."), QStringLiteral("N")},
        {QStringLiteral("record"),
         QStringLiteral("Send one fixed record: standard, noadd, long, min or max. The field table refuses two on "
                        "purpose, as a right receiving server must: long (digit fields filled with letters) and max "
                        "(flags and a state outside their sets)."),
         QStringLiteral("NAME")},
        {QStringLiteral("replay"), QStringLiteral("Replay the records of a data file; - reads it from standard input."),
         QStringLiteral("FILE")},
        {QStringLiteral("format"), QStringLiteral("Format of the data file: rawlog (the default) or multipkt."),
         QStringLiteral("rawlog|multipkt")},
        {QStringLiteral("period"),
         QStringLiteral("Seconds from one record to the next, 0.001 to 86400 (default 1), or 0 to send each record "
                        "as soon as a connection is free."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("count"),
         QStringLiteral("Stop after this many periods, or records with --rate (default: at the end of the file)."),
         QStringLiteral("N")},
        {QStringLiteral("rate"),
         QStringLiteral("Send at this many records per second, 0.001 to 1000000, instead of --period: an open loop. "
                        "Record i is due i / RATE seconds after the start; a due record goes out at once on a free "
                        "connection, or waits in order in a backlog until one is free. Latency is measured from "
                        "the time each record was due."),
         QStringLiteral("RECORDS_PER_SECOND")},
        {QStringLiteral("pace"),
         QStringLiteral("recorded: send each RAWLOG record at the offset of its line's time stamp from the first "
                        "one's (a capture keeps them to the millisecond), instead of --period: an open loop, "
                        "latency measured from that time. A line whose time cannot be read, or lies before the "
                        "one before it, goes out right after the one before."),
         QStringLiteral("recorded")},
        {QStringLiteral("speed"),
         QStringLiteral("With --pace recorded: replay this many times as fast as recorded, 0.001 to 1000 "
                        "(default 1)."),
         QStringLiteral("FACTOR")},
        {QStringLiteral("stages"),
         QStringLiteral("An open loop in stages instead of --rate, such as 30s:100,60s:100,10s:0: the rate goes "
                        "linearly from 0 to each stage's RATE over its DURATION (ms, s, m or h; seconds when bare), "
                        "from where the stage before left it; the run ends with the last stage. --rate R "
                        "--ramp-up S is the short form of --stages S:R."),
         QStringLiteral("DURATION:RATE,...")},
        {QStringLiteral("max-backlog"),
         QStringLiteral("With --rate or --stages: records that may wait for a free connection, 0 to 1000000 (default 10000); "
                        "a record due when the backlog is full is not sent."),
         QStringLiteral("N")},
        {QStringLiteral("ramp-up"),
         QStringLiteral("With --rate: raise the rate linearly from 0 to RATE over this many seconds."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("duration"),
         QStringLiteral("End the sending after this many seconds, 0.001 to 86400: records still waiting are not "
                        "sent, replies to records sent are awaited up to --reply-timeout."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("loop"),
         QStringLiteral("Start the data file again from its first line at its end; needs --duration or --count.")},
        {QStringLiteral("connections"),
         QStringLiteral("Connections side by side, 1 to 256 (default 1); each record goes to a free one, in file "
                        "order."),
         QStringLiteral("N")},
        {QStringLiteral("connect-timeout"),
         QStringLiteral("Seconds to wait for a connection, 0.001 to 86400 (default 10)."), QStringLiteral("SECONDS")},
        {QStringLiteral("reply-timeout"),
         QStringLiteral("Seconds to wait for a reply before the record counts as unanswered, 0.001 to 86400 "
                        "(default 10)."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("reply-gap"),
         QStringLiteral("Milliseconds without a byte that end a reply, 1 to 86400000 (default 50). A reply is "
                        "what arrives until the server closes, a line end, or such a gap, within --reply-timeout."),
         QStringLiteral("MS")},
        {QStringLiteral("quiet"), QStringLiteral("Print the summary only, no log lines.")},
        {QStringLiteral("misbehave"),
         QStringLiteral("Write each packet awkwardly, to try a receiver out: trickle:MS (a byte per write, MS "
                        "apart), split:BYTES:MS (BYTES, then the rest MS later), delay:MS (before the first byte), "
                        "half-close (shut the sending side after the packet) or reset:BYTES (a reset after "
                        "BYTES); none (the default) writes it whole."),
         QStringLiteral("MODE")},
        {QStringLiteral("progress"),
         QStringLiteral("Write a status line to standard error every SECONDS (0.001 to 86400): counts so far, "
                        "and the rate and p99 over the last interval. Without it the status shows only on a "
                        "terminal, as one line kept up to date, and not with --quiet."),
         QStringLiteral("SECONDS")},
    });
    parser.addOptions(tlsClientOptions());
    addReportOptions(parser);

    switch (commandLine.parse(arguments, out)) {
    case CommandLine::Outcome::Help:
    case CommandLine::Outcome::Version:
        parsed.printed = true;
        return parsed;
    case CommandLine::Outcome::Error:
        return fail(commandLine.error());
    case CommandLine::Outcome::Run:
        break;
    }
    for (const QString &name : parser.optionNames()) {
        if (parser.values(name).size() > 1)
            return fail(QStringLiteral("--%1 is given twice").arg(name));
    }
    const auto given = [&](const char *name) { return parser.isSet(QLatin1String(name)); };
    const auto value = [&](const char *name) { return parser.value(QLatin1String(name)); };

    SendOptions options;
    options.quiet = given("quiet");
    if (given("misbehave")) {
        QString error;
        const std::optional<Misbehaviour> misbehaviour = Misbehaviour::fromText(value("misbehave"), &error);
        if (!misbehaviour)
            return fail(error);
        options.misbehaviour = *misbehaviour;
    }

    if (!given("host"))
        return fail(QStringLiteral("--host is required"));
    // A name, typed in the terminal's encoding.
    options.host = QString::fromUtf8(CommandLine::bytes(value("host"))).trimmed();
    // An IPv6 address as every message writes it, "[::1]".
    if (options.host.size() >= 2 && options.host.startsWith(QLatin1Char('[')) && options.host.endsWith(QLatin1Char(']')))
        options.host = options.host.mid(1, options.host.size() - 2).trimmed();
    if (options.host.isEmpty())
        return fail(QStringLiteral("--host: no address given"));

    if (!given("port"))
        return fail(QStringLiteral("--port is required"));
    options.port = value("port");
    bool portOk = false;
    const int port = options.port.trimmed().toInt(&portOk);
    if (!portOk || port < 1 || port > 65535)
        return fail(QStringLiteral("--port: %1 is not a port number (1 to 65535)").arg(CommandLine::quoted(options.port)));

    const bool record = given("record");
    const bool replay = given("replay");
    if (record == replay)
        return fail(QStringLiteral("give either --record or --replay"));

    if (record) {
        options.mode = SendOptions::Mode::Record;
        options.recordName = value("record");
        const std::optional<QByteArray> fixed = fixedRecord(options.recordName);
        if (!fixed)
            return fail(QStringLiteral("--record: %1 is not standard, noadd, long, min or max")
                            .arg(CommandLine::quoted(options.recordName)));
        options.record = *fixed;
        for (const char *replayOnly :
             {"format", "period", "count", "connections", "rate", "stages", "pace", "speed", "max-backlog", "ramp-up",
              "duration", "loop"}) {
            if (given(replayOnly))
                return fail(QStringLiteral("--%1 goes with --replay, not --record").arg(QLatin1String(replayOnly)));
        }
    } else {
        options.mode = SendOptions::Mode::Replay;
        options.replayFile = CommandLine::fileName(value("replay"));
        options.replayPath = CommandLine::bytes(value("replay"));
        // A pipe or a device given by name may never end; only a regular
        // file is replayed, or standard input when asked for by "-". The
        // name is looked up byte for byte: it need not be text.
        struct stat info = {};
        if (options.replayPath != "-"
            && (::stat(options.replayPath.constData(), &info) != 0 || !S_ISREG(info.st_mode)
                || ::access(options.replayPath.constData(), R_OK) != 0))
            return fail(QStringLiteral("--replay: %1 is not a readable file").arg(CommandLine::quoted(value("replay"))));

        const QString format = given("format") ? value("format") : QStringLiteral("rawlog");
        if (format == QLatin1String("rawlog"))
            options.format = QString::fromLatin1(RawLogMode);
        else if (format == QLatin1String("multipkt"))
            options.format = QString::fromLatin1(MultiPacketMode);
        else
            return fail(QStringLiteral("--format: %1 is not rawlog or multipkt").arg(CommandLine::quoted(format)));

        if (given("period")) {
            const QString text = value("period");
            // Below a millisecond the schedule would be finer than its timers.
            std::optional<double> period = seconds(text, SendOptions::MinPeriodSeconds);
            if (!period && seconds(text, 0) == 0.0)
                period = 0.0;
            if (!period)
                return fail(QStringLiteral("--period: %1 is not 0 or a number of seconds from 0.001 to 86400")
                                .arg(CommandLine::quoted(text)));
            options.periodSeconds = *period;
        }
        if (given("count")) {
            const QString text = value("count");
            bool ok = false;
            options.count = text.trimmed().toLongLong(&ok);
            if (!ok || options.count < 1)
                return fail(QStringLiteral("--count: %1 is not a whole number of 1 or more").arg(CommandLine::quoted(text)));
        }
        if (given("rate")) {
            if (given("period"))
                return fail(QStringLiteral("give either --rate or --period"));
            const QString text = value("rate");
            bool ok = false;
            options.rate = text.trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(options.rate) || options.rate < SendOptions::MinRate
                || options.rate > SendOptions::MaxRate)
                return fail(QStringLiteral("--rate: %1 is not a number of records per second from 0.001 to 1000000")
                                .arg(CommandLine::quoted(text)));
        }
        if (given("stages")) {
            for (const char *instead : {"rate", "period", "ramp-up", "duration"}) {
                if (given(instead))
                    return fail(QStringLiteral("--stages takes the place of --%1").arg(QLatin1String(instead)));
            }
            if (const QString error = readStages(value("stages"), &options); !error.isEmpty())
                return fail(error);
        }
        if (given("pace") || given("speed")) {
            if (const QString error = readPace(given("pace") ? std::optional(value("pace")) : std::nullopt,
                                               given("speed") ? std::optional(value("speed")) : std::nullopt, &options);
                !error.isEmpty())
                return fail(error);
            for (const char *instead : {"rate", "stages", "period", "loop"}) {
                if (given(instead))
                    return fail(QStringLiteral("--pace recorded does not go with --%1").arg(QLatin1String(instead)));
            }
        }
        if (given("ramp-up") && !given("rate"))
            return fail(QStringLiteral("--ramp-up goes with --rate"));
        if (given("max-backlog") && !given("rate") && !given("stages") && !given("pace"))
            return fail(QStringLiteral("--max-backlog goes with --rate, --stages or --pace"));
        if (given("max-backlog")) {
            const QString text = value("max-backlog");
            bool ok = false;
            options.maxBacklog = text.trimmed().toLongLong(&ok);
            if (!ok || options.maxBacklog < 0 || options.maxBacklog > SendOptions::MaxBacklog)
                return fail(QStringLiteral("--max-backlog: %1 is not a whole number from 0 to %2")
                                .arg(CommandLine::quoted(text))
                                .arg(SendOptions::MaxBacklog));
        }
        for (const auto &[option, target] : {std::pair{"ramp-up", &options.rampUpSeconds},
                                             std::pair{"duration", &options.durationSeconds}}) {
            if (!given(option))
                continue;
            const QString text = value(option);
            const std::optional<double> time = seconds(text, 0.001);
            if (!time)
                return fail(QStringLiteral("--%1: %2 is not a number of seconds from 0.001 to 86400")
                                .arg(QLatin1String(option), CommandLine::quoted(text)));
            *target = *time;
        }
        options.loop = given("loop");
        // A file read again and again never ends by itself.
        if (options.loop && !given("duration") && !given("count"))
            return fail(QStringLiteral("--loop needs --duration or --count"));
        // Standard input cannot be read again from its first line.
        if (options.loop && options.replayPath == "-")
            return fail(QStringLiteral("--loop cannot start standard input (--replay -) again"));
        if (given("connections")) {
            const QString text = value("connections");
            bool ok = false;
            options.connections = text.trimmed().toInt(&ok);
            if (!ok || options.connections < 1 || options.connections > SendOptions::MaxConnections)
                return fail(QStringLiteral("--connections: %1 is not a whole number from 1 to %2")
                                .arg(CommandLine::quoted(text))
                                .arg(SendOptions::MaxConnections));
        }
    }

    if (given("progress")) {
        const QString text = value("progress");
        const std::optional<double> interval = seconds(text, 0.001);
        if (!interval)
            return fail(QStringLiteral("--progress: %1 is not a number of seconds from 0.001 to 86400")
                            .arg(CommandLine::quoted(text)));
        options.progressSeconds = *interval;
    }

    for (const auto &[option, target] : {std::pair{"connect-timeout", &options.connectTimeoutMs},
                                         std::pair{"reply-timeout", &options.replyTimeoutMs}}) {
        if (!given(option))
            continue;
        const QString text = value(option);
        const std::optional<double> timeout = seconds(text, 0.001);
        if (!timeout)
            return fail(QStringLiteral("--%1: %2 is not a number of seconds from 0.001 to 86400")
                            .arg(QLatin1String(option), CommandLine::quoted(text)));
        *target = int(std::lround(*timeout * 1000));
    }

    if (given("reply-gap")) {
        const QString text = value("reply-gap");
        bool ok = false;
        const qint64 gap = text.trimmed().toLongLong(&ok);
        if (!ok || gap < 1 || gap > qint64(SendOptions::MaxSeconds) * 1000)
            return fail(QStringLiteral("--reply-gap: %1 is not a whole number of milliseconds from 1 to 86400000")
                            .arg(CommandLine::quoted(text)));
        options.replyGapMs = int(gap);
    }

    if (const QString error = readTlsClientOptions(parser, &options.tls); !error.isEmpty())
        return fail(error);

    QString reportError;
    if (!readReportOptions(parser, &options.reports, &reportError))
        return fail(reportError);
    if (!options.reports.manifestFile.isEmpty()) {
        if (options.mode != SendOptions::Mode::Replay)
            return fail(QStringLiteral("--manifest goes with --replay, not --record"));
        const QFileInfo manifest(options.reports.manifestFile);
        if (!manifest.exists() || manifest.isDir() || !manifest.isReadable())
            return fail(QStringLiteral("--manifest: %1 is not a readable file").arg(CommandLine::quoted(value("manifest"))));
        if (sameFile(options.reports.manifestFile, options.replayFile))
            return fail(QStringLiteral("--manifest: %1 is the data file itself").arg(CommandLine::quoted(value("manifest"))));
        // The manifest names each line of one pass through the file.
        if (options.loop)
            return fail(QStringLiteral("--loop does not go with --manifest"));
    }
    if (options.mode == SendOptions::Mode::Replay) {
        reportError = options.replayPath == "-" ? QString()
                                                : reportOverwritesInput(options.reports, options.replayFile,
                                                                        QStringLiteral("--replay"));
        if (!reportError.isEmpty())
            return fail(reportError);
    }

    parsed.options = options;
    return parsed;
}
