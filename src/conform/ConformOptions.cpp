#include "conform/ConformOptions.h"

#include "conform/Cases.h"
#include "platform/CommandLine.h"
#include "platform/TlsOptions.h"

#include <cmath>

namespace {

// A number from `least` to `most`, or none.
std::optional<double> number(const QString &text, double least, double most)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < least || value > most)
        return std::nullopt;
    return value;
}

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

struct NumberOption
{
    const char *name;
    double least;
    double most;
    const char *what;
};

void addOptions(QCommandLineParser &parser)
{
    const auto value = [](const char *name, const char *help, const char *valueName) {
        return QCommandLineOption(QLatin1String(name), QLatin1String(help), QLatin1String(valueName));
    };
    const auto flag = [](const char *name, const char *help) {
        return QCommandLineOption(QLatin1String(name), QLatin1String(help));
    };
    parser.addOptions({
        value("host", "Address or name of the receiving server.", "HOST"),
        value("port", "Port of the receiving server, 1 to 65535.", "N"),
        value("timeout", "Seconds to wait for one reply (and for a connection), 0.01 to 3600 (default 5).",
              "SECONDS"),
        value("accept", "The whole reply that accepts a record; {id} stands for its id (default 'ACK {id}').",
              "PATTERN"),
        value("refuse", "The whole reply that refuses a record (default 'NAK {id}( .*)?').", "PATTERN"),
        value("seed", "Seed of the records sent (default 1): the same seed sends the same bytes.", "N"),
        value("cases", "Run only these cases: comma-separated case ids or section numbers, such as 2,3.1.",
              "LIST"),
        value("exclude", "Leave these cases out, as --cases names them.", "LIST"),
        flag("list", "Print every case's id, level and title, and send nothing."),
        flag("strict", "A non-strict outcome fails the run."),
        value("rate", "Section 4: valid records a second, 0.1 to 100000 (default 50).", "RECORDS_PER_SECOND"),
        value("duration", "Section 4.1: seconds of load, 0.1 to 3600 (default 10).", "SECONDS"),
        value("max-p99", "Section 4: the highest 99th percentile latency that passes, in ms (default 1000).", "MS"),
        value("report", "Write the JSON report to FILE.", "FILE"),
        value("junit", "Write JUnit XML to FILE: a testsuite per section, a testcase per case.", "FILE"),
        value("html", "Write a self-contained HTML page of the evidence to FILE.", "FILE"),
        value("compare", "An earlier JSON report of the same suite: cases that now fail are regressions.", "FILE"),
        flag("quiet", "Print only the summary line."),
    });
    parser.addOptions(tlsClientOptions());
}

// The options with values beyond --host and --port.
QString readValues(const QCommandLineParser &parser, ConformOptions *o)
{
    ConformOptions &options = *o;
    double timeoutSeconds = 5;
    const NumberOption numbers[] = {{"timeout", 0.01, 3600, "a number of seconds from 0.01 to 3600"},
                                    {"rate", 0.1, 100000, "a rate from 0.1 to 100000 records a second"},
                                    {"duration", 0.1, 3600, "a number of seconds from 0.1 to 3600"},
                                    {"max-p99", 0.001, 3600000, "a number of milliseconds above 0"}};
    double *const targets[] = {&timeoutSeconds, &options.rate, &options.durationSeconds, &options.maxP99Ms};
    for (int i = 0; i < 4; ++i) {
        const QString name = QLatin1String(numbers[i].name);
        if (!parser.isSet(name))
            continue;
        const std::optional<double> v = number(parser.value(name), numbers[i].least, numbers[i].most);
        if (!v)
            return QStringLiteral("--%1: %2 is not %3")
                .arg(name, CommandLine::quoted(parser.value(name)), QLatin1String(numbers[i].what));
        *targets[i] = *v;
    }
    options.timeoutMs = int(std::lround(timeoutSeconds * 1000));
    if (parser.isSet(QStringLiteral("seed"))) {
        bool ok = false;
        options.seed = parser.value(QStringLiteral("seed")).trimmed().toULongLong(&ok);
        if (!ok)
            return QStringLiteral("--seed: %1 is not a whole number from 0")
                .arg(CommandLine::quoted(parser.value(QStringLiteral("seed"))));
    }
    if (parser.isSet(QStringLiteral("accept")))
        options.accept = CommandLine::bytes(parser.value(QStringLiteral("accept")));
    if (parser.isSet(QStringLiteral("refuse")))
        options.refuse = CommandLine::bytes(parser.value(QStringLiteral("refuse")));
    for (const auto &[name, into] : {std::pair{QStringLiteral("cases"), &options.cases},
                                     std::pair{QStringLiteral("exclude"), &options.exclude}}) {
        if (parser.isSet(name)) {
            if (const QString error = readSelection(name, parser.value(name), into); !error.isEmpty())
                return error;
        }
    }
    options.reportFile = CommandLine::fileName(parser.value(QStringLiteral("report")));
    options.junitFile = CommandLine::fileName(parser.value(QStringLiteral("junit")));
    options.htmlFile = CommandLine::fileName(parser.value(QStringLiteral("html")));
    options.compareFile = CommandLine::fileName(parser.value(QStringLiteral("compare")));
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
    CommandLine commandLine(QStringLiteral("ipnd-conform"),
                            QStringLiteral("Runs a fixed, numbered battery of cases against a receiving server: "
                                           "valid and broken records, hostile framing, awkward delivery and load. "
                                           "One line per case on standard output, then the summary."));
    QCommandLineParser &parser = commandLine.parser;
    addOptions(parser);
    switch (commandLine.parse(arguments, out)) {
    case CommandLine::Outcome::Help:
    case CommandLine::Outcome::Version:
        parsed.printed = true;
        return parsed;
    case CommandLine::Outcome::Error:
        parsed.error = commandLine.error();
        return parsed;
    case CommandLine::Outcome::Run:
        break;
    }
    const auto fail = [&](const QString &error) {
        parsed.error = error;
        return parsed;
    };

    ConformOptions options;
    options.commandLine = CommandLine::shellText(arguments);
    options.list = parser.isSet(QStringLiteral("list"));
    options.strict = parser.isSet(QStringLiteral("strict"));
    options.quiet = parser.isSet(QStringLiteral("quiet"));
    options.host = parser.value(QStringLiteral("host"));
    if (!options.list) {
        if (options.host.isEmpty())
            return fail(QStringLiteral("--host is needed"));
        const QString port = parser.value(QStringLiteral("port"));
        const std::optional<double> p = number(port, 1, 65535);
        if (!p || *p != std::floor(*p))
            return fail(QStringLiteral("--port: %1 is not a port from 1 to 65535").arg(CommandLine::quoted(port)));
        options.port = quint16(*p);
    }
    if (const QString error = readValues(parser, &options); !error.isEmpty())
        return fail(error);
    if (const QString error = readTlsClientOptions(parser, &options.tls); !error.isEmpty())
        return fail(error);
    parsed.options = options;
    return parsed;
}
