#pragma once

#include "platform/CommandLine.h"
#include "report/ReplyExpectation.h"
#include "report/Thresholds.h"

#include <QList>
#include <QString>

#include <optional>

class QCommandLineParser;

// --expect, --manifest with --accept and --refuse, --report, --junit,
// --html, --max-p99 and --min-rate.
struct ReportOptions
{
    std::optional<ReplyExpectation> expectation;
    // A conformance run: each record's verdict by the manifest's kind.
    QString manifestFile; // empty: none
    std::optional<ReplyExpectation> accept;
    std::optional<ReplyExpectation> refuse;
    QString reportFile; // JSON Lines; empty: none
    QString junitFile;
    QString htmlFile;
    Thresholds thresholds;
};

// The options' table, each value read into *reports; checkReportOptions()
// then holds them against each other once the line is read.
QList<OptionSpec> reportOptions(ReportOptions *reports);
// One line naming what does not go together, else empty; --accept and
// --refuse of a manifest take their defaults here.
QString checkReportOptions(const QCommandLineParser &parser, ReportOptions *reports);

// The same table on a parser of the caller's own, and the values it parsed
// read and checked: false, with one line naming the bad option in `error`,
// when a value is unusable. Values are read one character per byte, as the
// program's command line gives them.
void addReportOptions(QCommandLineParser &parser);
bool readReportOptions(const QCommandLineParser &parser, ReportOptions *options, QString *error);
// One line naming the report that would overwrite `input` (the file the run
// reads, given as `inputOption`); empty when none does.
QString reportOverwritesInput(const ReportOptions &options, const QString &input, const QString &inputOption);
