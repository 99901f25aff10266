#include "report/ReportOptions.h"

#include "platform/CommandLine.h"
#include "platform/SameFile.h"

#include <QCommandLineParser>

#include <cmath>
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
const QString MaxFailed = QStringLiteral("max-failed");
const QString MinRate = QStringLiteral("min-rate");

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

// A positive, finite number, or none with `error` set.
std::optional<double> positive(const QCommandLineParser &parser, const QString &name, const QString &unit,
                               QString *error)
{
    const QString value = parser.value(name);
    bool ok = false;
    const double number = value.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number) || number <= 0) {
        *error = QStringLiteral("--%1: \"%2\" is not a number of %3 above 0").arg(name, value, unit);
        return std::nullopt;
    }
    return number;
}

// A share from 0 to 1, or none with `error` set.
std::optional<double> fraction(const QCommandLineParser &parser, const QString &name, QString *error)
{
    const QString value = parser.value(name);
    bool ok = false;
    const double number = value.trimmed().toDouble(&ok);
    if (!ok || !(number >= 0 && number <= 1)) {
        *error = QStringLiteral("--%1: \"%2\" is not a fraction from 0 to 1").arg(name, value);
        return std::nullopt;
    }
    return number;
}

bool readThresholds(const QCommandLineParser &parser, Thresholds *thresholds, QString *error)
{
    for (const PercentileOption &option : PercentileOptions) {
        if (parser.isSet(option.name)) {
            thresholds->*option.limit = positive(parser, option.name, QStringLiteral("milliseconds"), error);
            if (!(thresholds->*option.limit))
                return false;
        }
    }
    if (parser.isSet(MaxFailed)) {
        thresholds->maxFailed = fraction(parser, MaxFailed, error);
        if (!thresholds->maxFailed)
            return false;
    }
    if (parser.isSet(MinRate)) {
        thresholds->minRate = positive(parser, MinRate, QStringLiteral("records per second"), error);
        if (!thresholds->minRate)
            return false;
    }
    return true;
}
} // namespace

void addReportOptions(QCommandLineParser &parser)
{
    parser.addOption({Expect,
                      QStringLiteral("A regular expression each whole reply must match; {id} in it stands for the "
                                     "sent record's id (its first field, at most its 8 bytes), matched literally. A reply that does not "
                                     "match counts as unexpected and fails the run."),
                      QStringLiteral("PATTERN")});
    parser.addOption({Manifest,
                      QStringLiteral("A conformance run: the manifest ipnd-gen wrote for the replayed file, read in "
                                     "step with it. Each record's reply is judged by the record's kind: a valid "
                                     "record must be accepted, a broken one refused; the lines the manifest marks "
                                     "as not arriving must be the ones the reader rejects. Not with --expect."),
                      QStringLiteral("FILE")});
    parser.addOption({Accept,
                      QStringLiteral("With --manifest, the whole reply that accepts a record, {id} as in --expect "
                                     "(default \"ACK {id}\")."),
                      QStringLiteral("PATTERN")});
    parser.addOption({Refuse,
                      QStringLiteral("With --manifest, the whole reply that refuses a record, {id} as in --expect "
                                     "(default \"NAK {id}( .*)?\")."),
                      QStringLiteral("PATTERN")});
    parser.addOption({Report, QStringLiteral("Write a JSON Lines report, one line per line read as each one ends "
                                             "(its seq gives the file order) and the summary last. - writes it to "
                                             "standard output, and the log and summary to standard error."),
                      QStringLiteral("FILE")});
    parser.addOption({JUnit, QStringLiteral("Write a JUnit XML report as the run goes: a test case per line read, "
                                            "failed for a record that failed or was not sent, and one per "
                                            "threshold missed."),
                      QStringLiteral("FILE")});
    parser.addOption({Html, QStringLiteral("Write a self-contained HTML page with the summary, round-trip charts and "
                                           "the failed records, as the run goes."),
                      QStringLiteral("FILE")});
    for (const PercentileOption &option : PercentileOptions)
        parser.addOption({option.name,
                          QStringLiteral("Fail the run when the %1 latency from the intended send time (with --rate), "
                                         "or else round trip, is above MS.")
                              .arg(QLatin1String(option.percentile)),
                          QStringLiteral("MS")});
    parser.addOption({MaxFailed, QStringLiteral("Fail the run when more than this share (0 to 1) of the records read "
                                                "failed: answered unexpectedly, unanswered or not sent."),
                      QStringLiteral("FRACTION")});
    parser.addOption({MinRate, QStringLiteral("Fail the run when fewer records than this went out per second."),
                      QStringLiteral("RECORDS_PER_SECOND")});
}

bool readReportOptions(const QCommandLineParser &parser, ReportOptions *options, QString *error)
{
    QString reason;
    ReportOptions read;
    if (parser.isSet(Expect)) {
        read.expectation = ReplyExpectation::fromPattern(parser.value(Expect).toLatin1(), &reason);
        if (!read.expectation) {
            *error = reason;
            return false;
        }
    }
    if (parser.isSet(Manifest)) {
        if (parser.isSet(Expect)) {
            *error = QStringLiteral("--expect and --manifest cannot go together: with a manifest, --accept and "
                                    "--refuse say what the replies must be");
            return false;
        }
        read.manifestFile = CommandLine::fileName(parser.value(Manifest));
        if (read.manifestFile.isEmpty()) {
            *error = QStringLiteral("--manifest: no file name given");
            return false;
        }
        for (const auto &[name, fallback, target] : {std::tuple{Accept, DefaultAccept, &read.accept},
                                                     std::tuple{Refuse, DefaultRefuse, &read.refuse}}) {
            const QByteArray pattern = parser.isSet(name) ? parser.value(name).toLatin1() : fallback;
            *target = ReplyExpectation::fromPattern(pattern, &reason, QStringLiteral("--") + name);
            if (!*target) {
                *error = reason;
                return false;
            }
        }
    } else {
        for (const QString &name : {Accept, Refuse}) {
            if (parser.isSet(name)) {
                *error = QStringLiteral("--%1 goes with --manifest").arg(name);
                return false;
            }
        }
    }
    read.reportFile = CommandLine::fileName(parser.value(Report));
    read.junitFile = CommandLine::fileName(parser.value(JUnit));
    read.htmlFile = CommandLine::fileName(parser.value(Html));
    const QList<std::pair<QString, QString>> files{{Report, read.reportFile}, {JUnit, read.junitFile}, {Html, read.htmlFile}};
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (parser.isSet(files[i].first) && files[i].second.isEmpty()) {
            *error = QStringLiteral("--%1: no file name given").arg(files[i].first);
            return false;
        }
        // Standard output takes a report written line by line, not one
        // rewritten in place or whole.
        if (files[i].second == QLatin1String("-") && files[i].first != Report) {
            *error = QStringLiteral("--%1: only --report can go to standard output (-)").arg(files[i].first);
            return false;
        }
        // Two reports into one file would overwrite each other.
        for (qsizetype j = 0; j < i; ++j) {
            if (sameFile(files[i].second, files[j].second)) {
                *error = QStringLiteral("--%1 and --%2 name the same file \"%3\"")
                             .arg(files[j].first, files[i].first, files[i].second);
                return false;
            }
        }
    }
    if (!readThresholds(parser, &read.thresholds, error))
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
