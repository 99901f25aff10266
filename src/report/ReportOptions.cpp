#include "report/ReportOptions.h"

#include "platform/SameFile.h"

#include <QCommandLineParser>

#include <limits>
#include <tuple>

namespace {
const QString Expect = QStringLiteral("expect");
const QString Manifest = QStringLiteral("manifest");
const QString Accept = QStringLiteral("accept");
const QString Refuse = QStringLiteral("refuse");
const QByteArray DefaultAccept = "ACK {id}";
const QByteArray DefaultRefuse = "NAK {id}( .*)?";
const QString Report = QStringLiteral("report");
const QString JUnit = QStringLiteral("junit");
const QString Html = QStringLiteral("html");

// The latency limits, as the options name them and the thresholds hold them.
struct PercentileOption
{
    QString name;
    const char *percentile;
    std::optional<double> Thresholds::*limit;
};
const PercentileOption PercentileOptions[] = {
    {QStringLiteral("max-p50"), "median", &Thresholds::maxP50Ms},
    {QStringLiteral("max-p90"), "90th percentile", &Thresholds::maxP90Ms},
    {QStringLiteral("max-p95"), "95th percentile", &Thresholds::maxP95Ms},
    {QStringLiteral("max-p99"), "99th percentile", &Thresholds::maxP99Ms},
    {QStringLiteral("max-p99-9"), "99.9th percentile", &Thresholds::maxP99_9Ms},
};

// A pattern every whole reply of its kind must match, the option named in
// its error.
OptionReader readPattern(std::optional<ReplyExpectation> *into)
{
    return [into](const OptionValue &value) {
        QString error;
        *into = ReplyExpectation::fromPattern(value.bytes(), &error, QStringLiteral("--") + value.name);
        return error;
    };
}

// Standard output takes a report written line by line, not one rewritten in
// place or whole: only --report and the manifest, which is read, may be "-".
OptionReader readFile(QString *into, bool standardOutput = true)
{
    return [into, standardOutput](const OptionValue &value) {
        *into = value.fileName();
        if (into->isEmpty())
            return value.error(QStringLiteral("no file name given"));
        if (!standardOutput && *into == QLatin1String("-"))
            return value.error(QStringLiteral("only --report can go to standard output (-)"));
        return QString();
    };
}

// A finite number from `least` to `most`.
OptionReader readLimit(std::optional<double> *into, double least, double most, const QString &what)
{
    return [=](const OptionValue &value) {
        double number = 0;
        QString error = OptionRead::number(&number, least, most, what)(value);
        if (error.isEmpty())
            *into = number;
        return error;
    };
}

// Above 0: from the least number there is above it.
OptionReader readPositive(std::optional<double> *into, const QString &unit)
{
    return readLimit(into, std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(),
                     QStringLiteral("a number of %1 above 0").arg(unit));
}

// What each reply must be.
QList<OptionSpec> replyOptions(ReportOptions *o)
{
    return {
        {{Expect}, QStringLiteral("PATTERN"),
         QStringLiteral("A regular expression each whole reply must match; {id} in it stands for the "
                        "sent record's id (its first field, at most its 8 bytes), matched literally. A reply that does not "
                        "match counts as unexpected and fails the run."),
         readPattern(&o->expectation)},
        {{Manifest}, QStringLiteral("FILE"),
         QStringLiteral("A conformance run: the manifest ipnd-gen wrote for the replayed file, read in "
                        "step with it. Each record's reply is judged by the record's kind: a valid "
                        "record must be accepted, a broken one refused; the lines the manifest marks "
                        "as not arriving must be the ones the reader rejects. Not with --expect."),
         readFile(&o->manifestFile)},
        {{Accept}, QStringLiteral("PATTERN"),
         QStringLiteral("With --manifest, the whole reply that accepts a record, {id} as in --expect "
                        "(default \"ACK {id}\")."),
         readPattern(&o->accept)},
        {{Refuse}, QStringLiteral("PATTERN"),
         QStringLiteral("With --manifest, the whole reply that refuses a record, {id} as in --expect "
                        "(default \"NAK {id}( .*)?\")."),
         readPattern(&o->refuse)},
    };
}

// The reports, and the thresholds that fail the run.
QList<OptionSpec> reportFileOptions(ReportOptions *o)
{
    QList<OptionSpec> table = {
        {{Report}, QStringLiteral("FILE"),
         QStringLiteral("Write a JSON Lines report, one line per line read as each one ends "
                        "(its seq gives the file order) and the summary last. - writes it to "
                        "standard output, and the log and summary to standard error."),
         readFile(&o->reportFile)},
        {{JUnit}, QStringLiteral("FILE"),
         QStringLiteral("Write a JUnit XML report as the run goes: a test case per line read, "
                        "failed for a record that failed or was not sent, and one per "
                        "threshold missed."),
         readFile(&o->junitFile, false)},
        {{Html}, QStringLiteral("FILE"),
         QStringLiteral("Write a self-contained HTML page with the summary, round-trip charts and "
                        "the failed records, as the run goes."),
         readFile(&o->htmlFile, false)},
    };
    for (const PercentileOption &option : PercentileOptions)
        table.append({{option.name}, QStringLiteral("MS"),
                      QStringLiteral("Fail the run when the %1 latency from the intended send time (with --rate), "
                                     "or else round trip, is above MS.")
                          .arg(QLatin1String(option.percentile)),
                      readPositive(&(o->thresholds.*option.limit), QStringLiteral("milliseconds"))});
    table.append({{QStringLiteral("max-failed")}, QStringLiteral("FRACTION"),
                  QStringLiteral("Fail the run when more than this share (0 to 1) of the records read "
                                 "failed: answered unexpectedly, unanswered or not sent."),
                  readLimit(&o->thresholds.maxFailed, 0, 1, QStringLiteral("a fraction from 0 to 1"))});
    table.append({{QStringLiteral("min-rate")}, QStringLiteral("RECORDS_PER_SECOND"),
                  QStringLiteral("Fail the run when fewer records than this went out per second."),
                  readPositive(&o->thresholds.minRate, QStringLiteral("records per second"))});
    return table;
}
} // namespace

QList<OptionSpec> reportOptions(ReportOptions *reports)
{
    return replyOptions(reports) + reportFileOptions(reports);
}

QString checkReportOptions(const QCommandLineParser &parser, ReportOptions *reports)
{
    const bool manifest = parser.isSet(Manifest);
    if (manifest && parser.isSet(Expect))
        return QStringLiteral("--expect and --manifest cannot go together: with a manifest, --accept and "
                              "--refuse say what the replies must be");
    if (QString error = OptionChecks::goesWith(parser, {Accept, Refuse}, Manifest); !error.isEmpty())
        return error;
    // The defaults are valid patterns.
    for (const auto &[name, fallback, target] : {std::tuple{Accept, DefaultAccept, &reports->accept},
                                                 std::tuple{Refuse, DefaultRefuse, &reports->refuse}}) {
        QString unused;
        if (manifest && !*target)
            *target = ReplyExpectation::fromPattern(fallback, &unused, QStringLiteral("--") + name);
    }
    // Two reports into one file would overwrite each other.
    const QList<std::pair<QString, QString>> files{
        {Report, reports->reportFile}, {JUnit, reports->junitFile}, {Html, reports->htmlFile}};
    for (qsizetype i = 0; i < files.size(); ++i) {
        for (qsizetype j = 0; j < i; ++j) {
            if (sameFile(files[i].second, files[j].second))
                return QStringLiteral("--%1 and --%2 name the same file \"%3\"")
                    .arg(files[j].first, files[i].first, files[i].second);
        }
    }
    return {};
}

void addReportOptions(QCommandLineParser &parser)
{
    ReportOptions unused;
    addOptionTable(parser, reportOptions(&unused));
}

bool readReportOptions(const QCommandLineParser &parser, ReportOptions *options, QString *error)
{
    ReportOptions read;
    *error = readOptionTable(parser, reportOptions(&read));
    if (error->isEmpty())
        *error = checkReportOptions(parser, &read);
    if (!error->isEmpty())
        return false;
    *options = read;
    return true;
}

QString reportOverwritesInput(const ReportOptions &options, const QString &input, const QString &inputOption)
{
    for (const auto &[name, file] : {std::pair{Report, options.reportFile}, std::pair{JUnit, options.junitFile},
                                     std::pair{Html, options.htmlFile}}) {
        if (sameFile(file, input))
            return QStringLiteral("--%1 would overwrite the file of %2 \"%3\"").arg(name, inputOption, file);
        if (sameFile(file, options.manifestFile))
            return QStringLiteral("--%1 would overwrite the file of --manifest \"%2\"").arg(name, file);
    }
    return {};
}
