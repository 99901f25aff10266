#include "conform/ConformOptions.h"

#include "conform/Cases.h"
#include "platform/CommandLine.h"
#include "platform/TlsOptions.h"

#include <cmath>
#include <limits>

namespace {

// Case ids and section numbers, each one the battery knows.
QString readSelection(const QString &option, const QString &text, QStringList *into)
{
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString id = item.trimmed();
        if (!isCaseOrSection(id))
            return QStringLiteral("--%1: %2 is neither a case id nor a section number").arg(option, CommandLine::quoted(id));
        into->append(id);
    }
    return {};
}

OptionReader readSelection(QStringList *into)
{
    return [into](const OptionValue &value) { return readSelection(value.name, value.text, into); };
}

// The server, the replies it must give and what is run against it.
QList<OptionSpec> runOptions(ConformOptions *o, QString *port)
{
    using namespace OptionRead;
    return {
        {{QStringLiteral("host")}, QStringLiteral("HOST"), QStringLiteral("Address or name of the receiving server."),
         text(&o->host)},
        {{QStringLiteral("port")}, QStringLiteral("N"), QStringLiteral("Port of the receiving server, 1 to 65535."),
         text(port)},
        {{QStringLiteral("timeout")}, QStringLiteral("SECONDS"),
         QStringLiteral("Seconds to wait for one reply (and for a connection), 0.01 to 3600 (default 5)."),
         milliseconds(&o->timeoutMs, 0.01, 3600, QStringLiteral("a number of seconds from 0.01 to 3600"))},
        {{QStringLiteral("accept")}, QStringLiteral("PATTERN"),
         QStringLiteral("The whole reply that accepts a record; {id} stands for its id (default 'ACK {id}')."),
         bytes(&o->accept)},
        {{QStringLiteral("refuse")}, QStringLiteral("PATTERN"),
         QStringLiteral("The whole reply that refuses a record (default 'NAK {id}( .*)?')."), bytes(&o->refuse)},
        {{QStringLiteral("seed")}, QStringLiteral("N"),
         QStringLiteral("Seed of the records sent (default 1): the same seed sends the same bytes."),
         number(&o->seed, quint64(0), std::numeric_limits<quint64>::max(), QStringLiteral("a whole number from 0"))},
        {{QStringLiteral("cases")}, QStringLiteral("LIST"),
         QStringLiteral("Run only these cases: comma-separated case ids or section numbers, such as 2,3.1."),
         readSelection(&o->cases)},
        {{QStringLiteral("exclude")}, QStringLiteral("LIST"), QStringLiteral("Leave these cases out, as --cases names them."),
         readSelection(&o->exclude)},
        {{QStringLiteral("list")}, QString(), QStringLiteral("Print every case's id, level and title, and send nothing."),
         flag(&o->list)},
        {{QStringLiteral("strict")}, QString(), QStringLiteral("A non-strict outcome fails the run."), flag(&o->strict)},
    };
}

// The load of section 4, and the reports.
QList<OptionSpec> loadAndReportOptions(ConformOptions *o)
{
    using namespace OptionRead;
    return {
        {{QStringLiteral("rate")}, QStringLiteral("RECORDS_PER_SECOND"),
         QStringLiteral("Section 4: valid records a second, 0.1 to 100000 (default 50)."),
         number(&o->rate, 0.1, 100000.0, QStringLiteral("a rate from 0.1 to 100000 records a second"))},
        {{QStringLiteral("duration")}, QStringLiteral("SECONDS"),
         QStringLiteral("Section 4.1: seconds of load, 0.1 to 3600 (default 10)."),
         number(&o->durationSeconds, 0.1, 3600.0, QStringLiteral("a number of seconds from 0.1 to 3600"))},
        {{QStringLiteral("max-p99")}, QStringLiteral("MS"),
         QStringLiteral("Section 4: the highest 99th percentile latency that passes, in ms (default 1000)."),
         number(&o->maxP99Ms, 0.001, 3600000.0, QStringLiteral("a number of milliseconds above 0"))},
        {{QStringLiteral("report")}, QStringLiteral("FILE"), QStringLiteral("Write the JSON report to FILE."),
         fileName(&o->reportFile)},
        {{QStringLiteral("junit")}, QStringLiteral("FILE"),
         QStringLiteral("Write JUnit XML to FILE: a testsuite per section, a testcase per case."), fileName(&o->junitFile)},
        {{QStringLiteral("html")}, QStringLiteral("FILE"),
         QStringLiteral("Write a self-contained HTML page of the evidence to FILE."), fileName(&o->htmlFile)},
        {{QStringLiteral("compare")}, QStringLiteral("FILE"),
         QStringLiteral("An earlier JSON report of the same suite: cases that now fail are regressions."),
         fileName(&o->compareFile)},
        {{QStringLiteral("quiet")}, QString(), QStringLiteral("Print only the summary line."), flag(&o->quiet)},
    };
}

// The server a run goes to: both must be given, unless the cases are only listed.
QString checkServer(const QString &port, ConformOptions *options)
{
    if (options->host.isEmpty())
        return QStringLiteral("--host is needed");
    const std::optional<double> p = OptionValue{QStringLiteral("port"), port}.real();
    if (!p || *p < 1 || *p > 65535 || *p != std::floor(*p))
        return QStringLiteral("--port: %1 is not a port from 1 to 65535").arg(CommandLine::quoted(port));
    options->port = quint16(*p);
    return {};
}

} // namespace

QString conformUsage()
{
    return QStringLiteral(
        "usage: ipnd-conform --host H --port P [--timeout SECONDS] [--accept PATTERN] [--refuse PATTERN]\n"
        "                    [--seed N] [--cases LIST] [--exclude LIST] [--strict]\n"
        "                    [--rate RECORDS_PER_SECOND] [--duration SECONDS] [--max-p99 MS]\n"
        "                    [--report FILE] [--junit FILE] [--html FILE] [--compare EARLIER.json] [--quiet]\n"
        "                    [--tls [--ca FILE | --insecure] [--servername NAME] [--cert FILE --key FILE]\n"
        "                           [--ciphers LIST] [--no-resume]]\n"
        "       ipnd-conform --list\n");
}

ParsedConformArguments parseConformArguments(const QStringList &arguments, std::FILE *out)
{
    ParsedConformArguments parsed;
    ConformOptions options;
    QString port;
    CommandLine commandLine(QStringLiteral("ipnd-conform"),
                            QStringLiteral("Runs a fixed, numbered battery of cases against a receiving server: "
                                           "valid and broken records, hostile framing, awkward delivery and load. "
                                           "One line per case on standard output, then the summary."));
    commandLine.addOptions(runOptions(&options, &port) + loadAndReportOptions(&options) + tlsClientOptions(&options.tls));
    commandLine.addChecks({[&] { return options.list ? QString() : checkServer(port, &options); },
                           [&] { return checkTlsClientOptions(commandLine); }});
    if (!commandLine.runs(arguments, out, &parsed.printed, &parsed.error))
        return parsed;
    options.commandLine = CommandLine::shellText(arguments);
    parsed.options = options;
    return parsed;
}
