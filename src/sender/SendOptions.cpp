#include "sender/SendOptions.h"

#include "platform/CommandLine.h"
#include "platform/SameFile.h"
#include "platform/TlsOptions.h"
#include "sender/SendOptionTable.h"

#include <QFileInfo>

// What the options of ipnd-send say together, once each one's value is read
// by its line of the table (SendOptionTable.cpp).

namespace {

// What must be given, and what only a replay takes.
QString checkTarget(const CommandLine &line)
{
    const auto given = [&](const char *name) { return line.given(QLatin1String(name)); };
    if (!given("host"))
        return QStringLiteral("--host is required");
    if (!given("port"))
        return QStringLiteral("--port is required");
    if (given("record") == given("replay"))
        return QStringLiteral("give either --record or --replay");
    const QString replayOnly = line.firstGiven({"format", "period", "count", "connections", "rate", "stages", "pace",
                                                "speed", "max-backlog", "ramp-up", "duration", "loop"});
    if (given("record") && !replayOnly.isEmpty())
        return QStringLiteral("--%1 goes with --replay, not --record").arg(replayOnly);
    return {};
}

// The pacing options of a replay that do not go together.
QString checkPacing(const CommandLine &line, const SendOptions &options)
{
    const auto given = [&](const char *name) { return line.given(QLatin1String(name)); };
    if (given("rate") && given("period"))
        return QStringLiteral("give either --rate or --period");
    if (const QString instead = line.firstGiven({"rate", "period", "ramp-up", "duration"});
        given("stages") && !instead.isEmpty())
        return QStringLiteral("--stages takes the place of --%1").arg(instead);
    if (given("speed") && !given("pace"))
        return QStringLiteral("--speed goes with --pace recorded");
    // Only a RAWLOG line carries the time it was logged at.
    if (given("pace") && options.format != DataFormat::RawLog)
        return QStringLiteral("--pace recorded needs --format rawlog: MULTIPKT lines carry no time");
    if (const QString instead = line.firstGiven({"rate", "stages", "period", "loop"}); given("pace") && !instead.isEmpty())
        return QStringLiteral("--pace recorded does not go with --%1").arg(instead);
    if (QString error = OptionChecks::goesWith(line.parser, {"ramp-up"}, QStringLiteral("rate")); !error.isEmpty())
        return error;
    if (given("max-backlog") && !given("rate") && !given("stages") && !given("pace"))
        return QStringLiteral("--max-backlog goes with --rate, --stages or --pace");
    // A file read again and again never ends by itself.
    if (options.loop && !given("duration") && !given("count"))
        return QStringLiteral("--loop needs --duration or --count");
    // Standard input cannot be read again from its first line.
    if (options.loop && options.replayPath == "-")
        return QStringLiteral("--loop cannot start standard input (--replay -) again");
    return {};
}

// The reports, and the manifest a replay is held against.
QString checkReports(const CommandLine &line, SendOptions *options)
{
    if (QString error = checkReportOptions(line.parser, &options->reports); !error.isEmpty())
        return error;
    const QString manifestName = CommandLine::quoted(line.parser.value(QStringLiteral("manifest")));
    if (!options->reports.manifestFile.isEmpty()) {
        if (options->mode != SendOptions::Mode::Replay)
            return QStringLiteral("--manifest goes with --replay, not --record");
        const QFileInfo manifest(options->reports.manifestFile);
        if (!manifest.exists() || manifest.isDir() || !manifest.isReadable())
            return QStringLiteral("--manifest: %1 is not a readable file").arg(manifestName);
        if (sameFile(options->reports.manifestFile, options->replayFile))
            return QStringLiteral("--manifest: %1 is the data file itself").arg(manifestName);
        // The manifest names each line of one pass through the file.
        if (options->loop)
            return QStringLiteral("--loop does not go with --manifest");
    }
    if (options->mode == SendOptions::Mode::Replay && options->replayPath != "-")
        return reportOverwritesInput(options->reports, options->replayFile, QStringLiteral("--replay"));
    return {};
}

} // namespace

ParsedSendArguments parseSendArguments(const QStringList &arguments, std::FILE *out)
{
    ParsedSendArguments parsed;
    SendOptions options;
    CommandLine commandLine(QStringLiteral("ipnd-send"),
                            QStringLiteral("Sends one fixed record, or replays a data file, to a receiving server over "
                                           "TCP: one record per connection, with the window's event-log lines on "
                                           "standard output and a summary at the end. Give either --record or "
                                           "--replay."));
    commandLine.addOptions(sendOptionTable(&options));
    commandLine.addChecks({
        [&] { return checkTarget(commandLine); },
        [&] { return options.mode == SendOptions::Mode::Replay ? checkPacing(commandLine, options) : QString(); },
        [&] { return checkTlsClientOptions(commandLine); },
        [&] { return checkReports(commandLine, &options); },
    });
    if (commandLine.runs(arguments, out, &parsed.printed, &parsed.error))
        parsed.options = options;
    return parsed;
}
