#pragma once

#include "report/LogHistogram.h"
#include "report/Outcome.h"
#include "report/RunDescription.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <list>
#include <map>
#include <memory>

class HtmlPage;
class QTemporaryDir;

// A report written as the run goes: what a stopped or crashed run leaves on
// disk is readable and shows every record handled so far.
class ReportWriter
{
public:
    virtual ~ReportWriter() = default;

    // False, with a one-line reason in error(), when the file cannot be written.
    virtual bool open() = 0;
    virtual void add(const OutcomeRecord &record) = 0;
    // The whole run's figures, the thresholds it missed, and whether it passed.
    virtual void finish(const RunFigures &figures, const QStringList &missed, bool passed) = 0;

    // What was run, for the report to name; before open().
    void describe(const RunDescription &run) { m_run = run; }

    // The first write failure; empty while all is well.
    QString error() const { return m_error; }
    // error() the first time it is asked for once there is one, then empty.
    QString takeError()
    {
        if (m_errorTaken)
            return {};
        m_errorTaken = !m_error.isEmpty();
        return m_error;
    }

protected:
    void fail(const QString &fileName, const QString &reason);

    RunDescription m_run;

private:
    QString m_error;
    bool m_errorTaken = false;
};

// --report: JSON Lines, one object per line read and the summary last.
class JsonLinesReport final : public ReportWriter
{
public:
    explicit JsonLinesReport(const QString &fileName);
    bool open() override;
    void add(const OutcomeRecord &record) override;
    void finish(const RunFigures &figures, const QStringList &missed, bool passed) override;

private:
    void writeLine(const QByteArray &line);
    QString m_name; // as given: a file opened by its descriptor has none
    std::unique_ptr<QFileDevice> m_file;
    qint64 m_whole = 0; // the length of the lines written whole
};

// --junit: JUnit XML, one testcase per line read (a rejected line, or a
// record too short to send, skipped; a record that failed or was not sent,
// failed), a testcase per threshold (failed when missed), and one for a run that
// failed for no record's fault. The start tags of
// testsuites and testsuite sit in a fixed-size space at the top of the file
// and the closing tags at its end: each record overwrites the closing tags
// with its testcase and writes them again after it, then rewrites the counts
// at the top. After every record the file is a whole, valid document.
// Until finish() a failing case stands last, so that a run that is killed or
// cut short by a full disk never leaves a report that reads as passed.
// With a manifest each test case also goes to a file of its kind, and the
// finished report is made from those: one testsuite per kind.
class JUnitReport final : public ReportWriter
{
public:
    JUnitReport(const QString &fileName, const QString &suiteName);
    ~JUnitReport() override;
    bool open() override;
    void add(const OutcomeRecord &record) override;
    void finish(const RunFigures &figures, const QStringList &missed, bool passed) override;

private:
    enum class Result { Passed, Failed, Skipped };
    QByteArray header() const;
    // The header padded to the room kept for it, so that it is rewritten in place.
    QByteArray paddedHeader() const;
    void rewriteHeader();
    bool writeAt(qint64 position, const QByteArray &bytes);
    // The test case and how it came out.
    QByteArray testcase(const OutcomeRecord &record, Result *result) const;
    // `message` printable; `where` goes before it in the element's text.
    static QByteArray testcaseText(const QString &name, const QString &className, double time, Result result,
                                   const QByteArray &message, const QString &type, const QString &where);
    // Writes `testcase` where the closing tags were, and them after it.
    void append(const QByteArray &testcase, Result result);
    QByteArray properties() const;
    // The report again, put in place whole: one testsuite per kind (or, with
    // no manifest, one for the records read and one for the lines rejected),
    // and the run's own cases (thresholds, a failed run) in a suite of their own.
    void writeByKind(const QByteArray &interruption, const QByteArray &runCases, qint64 runTests, qint64 runFailures);
    // What follows the last case: the failing case that stands for a run
    // not yet finished, and the closing tags.
    QByteArray tail() const;

    struct Kind
    {
        QString casesPath;
        QFile cases;
        qint64 tests = 0;
        qint64 failures = 0;
        qint64 skipped = 0;
        double seconds = 0;
        double firstSentMs = -1; // since the epoch; -1 until one is sent
        double lastEndMs = 0;
    };
    // The kind's file, open to append to. Only the kinds used last are held
    // open: thousands of kinds need no more descriptors than a few.
    QFile *casesOf(Kind &kind);
    static constexpr size_t MaxOpenKinds = 8;
    std::map<QByteArray, Kind> m_kinds;
    // Without a manifest: the records read, and the lines that went into
    // none, each a suite of its own in the finished report.
    Kind m_records;
    Kind m_rejectedLines;
    // The kind a case goes to in the finished report.
    Kind &kindOf(const OutcomeRecord &record);
    std::list<Kind *> m_openKinds; // the latest used first
    std::unique_ptr<QTemporaryDir> m_kindDir;
    bool m_finished = false;
    QByteArray m_unfinished; // the case that stands for a run not finished

    QString m_name;
    std::unique_ptr<QFileDevice> m_file;
    QString m_suite;
    qint64 m_headerAt = 0;
    qint64 m_headerSize = 0;
    qint64 m_tailAt = 0;
    qint64 m_tests = 0;
    qint64 m_failures = 0;
    qint64 m_skipped = 0;
    double m_seconds = 0;
    QDateTime m_firstSent;
    double m_lastEndMs = 0; // since the epoch: the latest end of an exchange
};

// --html: one self-contained page. Its content is held in fixed-size form
// (round trips in log-scaled bins, the run in at most MaxSpans spans of
// records, the first MaxFailedRows failed records), and the page is
// rewritten whole, atomically, at most every `rewriteIntervalMs` and at the
// end, so that it stays small for any length of run. A record that came
// within the interval is written when the interval is over (by a timer, in
// the event loop), so the page is never more than an interval behind.
class HtmlReport final : public ReportWriter
{
public:
    static constexpr int MaxSpans = 400;
    static constexpr int MaxFailedRows = 500;

    HtmlReport(const QString &fileName, const QString &title, int rewriteIntervalMs = 1000);
    bool open() override;
    void add(const OutcomeRecord &record) override;
    void finish(const RunFigures &figures, const QStringList &missed, bool passed) override;

    // The page as it stands; `figures` null while the run goes on.
    QByteArray page(const RunFigures *figures, const QStringList &missed, bool passed) const;

private:
    struct Span
    {
        qint64 count = 0;    // replies
        qint64 failures = 0; // records that failed
        double sumMs = 0;
        double minMs = 0;
        double maxMs = 0;
        // From the intended send time, with --rate.
        qint64 latencyCount = 0;
        double latencySumMs = 0;
        double latencyMinMs = 0;
        double latencyMaxMs = 0;
    };
    void write(const RunFigures *figures, const QStringList &missed, bool passed);
    // The parts of the page, top to bottom: the head, the heading and the verdict;
    // what was run; the figures and thresholds; the charts; the failed
    // records and the rejected lines.
    void head(HtmlPage &html, const RunFigures *figures, bool passed) const;
    void runTable(HtmlPage &html) const;
    void summaryTable(HtmlPage &html, const RunFigures *figures, const QStringList &missed) const;
    void charts(HtmlPage &html, const RunFigures *figures) const;
    void failedTable(HtmlPage &html) const;
    void rejectedTable(HtmlPage &html) const;

    QString m_fileName;
    QString m_title;
    int m_rewriteIntervalMs;
    QElapsedTimer m_sinceWrite;
    QTimer m_catchUp;
    RunFigures m_tally;
    LogHistogram m_roundTrips;
    LogHistogram m_latencies;
    QList<Span> m_spans;
    qint64 m_spanWidth = 1; // records sent per span
    QList<OutcomeRecord> m_failed;
    qint64 m_failedNotShown = 0;
    QList<OutcomeRecord> m_rejected;
    qint64 m_rejectedNotShown = 0;
    bool m_once = false; // a device or pipe: the final page only, written into it
    std::unique_ptr<QFileDevice> m_pipe; // that device or pipe, until the page goes in
};
