#pragma once

#include "report/ReportOptions.h"
#include "report/ReportWriters.h"

#include <map>
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

    // Records reach the reports in file order (by seq) whatever order their
    // exchanges end in over several connections: one that ends early waits
    // for those before it, but never more than HeldAtMost of them.
    void add(const OutcomeRecord &record);
    static constexpr size_t HeldAtMost = 4096;
    void finish(const RunFigures &figures, const QStringList &missed, bool passed);

    // Write failures since the last call, one line each, once per report.
    QStringList takeErrors();
    // Whether any report has failed to write since open().
    bool failed() const;

private:
    void write(const OutcomeRecord &record);

    std::map<qint64, OutcomeRecord> m_held;
    qint64 m_nextSeq = 1;
    std::vector<std::unique_ptr<ReportWriter>> m_writers;
};
