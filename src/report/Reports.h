#pragma once

#include "report/ReportOptions.h"
#include "report/ReportWriters.h"

#include <memory>
#include <vector>

// The reports a run was asked for, fed together: add() at each record's
// outcome, finish() once at the end.
class Reports
{
public:
    // Opens every report the options name. False, with one line in `error`,
    // when one cannot be written; `run` says in each report what was run.
    bool open(const ReportOptions &options, const RunDescription &run, QString *error);
    bool open(const ReportOptions &options, const QString &title, QString *error)
    {
        RunDescription run;
        run.title = title;
        return open(options, run, error);
    }

    // Each record goes into the reports as its exchange ends, in whatever
    // order the connections end them (its seq gives the file order back):
    // a stuck exchange holds nothing up, and a stopped or killed run leaves
    // every record that had ended.
    void add(const OutcomeRecord &record);
    void finish(const RunFigures &figures, const QStringList &missed, bool passed);

    // Write failures since the last call, one line each, once per report.
    QStringList takeErrors();
    // Whether any report has failed to write since open().
    bool failed() const;

private:
    std::vector<std::unique_ptr<ReportWriter>> m_writers;
};
