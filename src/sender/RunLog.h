#pragma once

#include "platform/Clock.h"
#include "platform/TextSink.h"
#include "sender/RunSummary.h"

#include <QByteArray>

#include <functional>

// The log of a run: one line per event, with the date and the time to the
// millisecond and, when there is more than one connection, the
// connection's number ("[3] "). Complaints (what went wrong with the command
// line, the reports or the manifest) go to the error sink as
// "ipnd-send: ...".
class RunLog
{
public:
    RunLog(TextSink &out, TextSink &err, const Clock &wallClock) : m_out(out), m_err(err), m_wallClock(wallClock) {}

    // Quiet: no line is written, complaints still are.
    void setQuiet(bool quiet) { m_quiet = quiet; }
    void setNumbered(bool numbered) { m_numbered = numbered; }
    // Called once, when the reader of the log has been found gone (a closed
    // pipe, `| head`); nothing more is written to it.
    void setGoneHandler(std::function<void()> gone) { m_onGone = std::move(gone); }

    // `connection` 0: a line of the run's own.
    void line(int connection, const QByteArray &text);
    // Text as it is (the summary); false when its reader has gone.
    bool write(const QByteArray &text);
    void complain(const QByteArray &text);
    bool gone() const { return m_gone; }

private:
    TextSink &m_out;
    TextSink &m_err;
    const Clock &m_wallClock;
    std::function<void()> m_onGone;
    bool m_quiet = false;
    bool m_numbered = false;
    bool m_gone = false;
    // The date and time down to the second, made once a second.
    qint64 m_stampSecond = -1;
    QByteArray m_stampPrefix;
};

// What a run shows as it goes: on a terminal, one line kept up to date; for
// a CI log, a --progress line now and then.
class StatusLine
{
public:
    explicit StatusLine(TextSink &sink) : m_sink(sink) {}

    // "R read, S sent, A answered, U unexpected, N unanswered, J rejected".
    void showLive(const RunCounts &counts);
    // Takes the terminal's line back, as it was.
    void clearLive();
    void writeProgress(const ProgressFigures &figures);

private:
    TextSink &m_sink;
};
