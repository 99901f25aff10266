#include "report/Reports.h"

#include <algorithm>

bool Reports::open(const ReportOptions &options, const RunDescription &run, QString *error)
{
    const QString &title = run.title;
    m_writers.clear();
    if (!options.reportFile.isEmpty())
        m_writers.push_back(std::make_unique<JsonLinesReport>(options.reportFile));
    if (!options.junitFile.isEmpty())
        m_writers.push_back(std::make_unique<JUnitReport>(options.junitFile, title));
    if (!options.htmlFile.isEmpty())
        m_writers.push_back(std::make_unique<HtmlReport>(options.htmlFile, title));
    for (const auto &writer : m_writers) {
        writer->describe(run);
        if (!writer->open()) {
            *error = writer->error();
            m_writers.clear();
            return false;
        }
    }
    return true;
}

void Reports::add(const OutcomeRecord &record)
{
    for (const auto &writer : m_writers)
        writer->add(record);
}

void Reports::finish(const RunFigures &figures, const QStringList &missed, bool passed)
{
    // The page first (a pipe or device takes it only now), the JUnit and
    // JSON Lines reports after it: a report that could not be finished
    // fails the run, and the others say so.
    for (auto writer = m_writers.rbegin(); writer != m_writers.rend(); ++writer)
        (*writer)->finish(figures, missed, passed && !failed());
}

QStringList Reports::takeErrors()
{
    QStringList errors;
    for (const auto &writer : m_writers) {
        if (const QString error = writer->takeError(); !error.isEmpty())
            errors << error;
    }
    return errors;
}

bool Reports::failed() const
{
    return std::any_of(m_writers.begin(), m_writers.end(), [](const auto &writer) { return !writer->error().isEmpty(); });
}
