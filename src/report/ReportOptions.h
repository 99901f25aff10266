#pragma once

#include "report/ReplyExpectation.h"
#include "report/Thresholds.h"

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

void addReportOptions(QCommandLineParser &parser);
// False, with one line naming the bad option in `error`, when a value is
// unusable. Values are read one character per byte, as the program's
// command line gives them.
bool readReportOptions(const QCommandLineParser &parser, ReportOptions *options, QString *error);
// One line naming the report that would overwrite `input` (the file the run
// reads, given as `inputOption`); empty when none does.
QString reportOverwritesInput(const ReportOptions &options, const QString &input, const QString &inputOption);
