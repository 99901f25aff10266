#include "sender/RunLog.h"

#include <cerrno>

void RunLog::line(int connection, const QByteArray &text)
{
    if (m_quiet || m_gone)
        return;
    const QDateTime now = m_wallClock.now();
    const qint64 ms = now.toMSecsSinceEpoch();
    if (ms / 1000 != m_stampSecond || m_stampPrefix.isEmpty()) {
        m_stampSecond = ms / 1000;
        m_stampPrefix = now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.")).toLatin1();
    }
    const int milli = int(ms % 1000);
    QByteArray out;
    out.reserve(m_stampPrefix.size() + text.size() + 12);
    out += m_stampPrefix;
    out += char('0' + milli / 100);
    out += char('0' + milli / 10 % 10);
    out += char('0' + milli % 10);
    out += ' ';
    if (connection > 0 && m_numbered)
        out += '[' + QByteArray::number(connection) + "] ";
    out += text;
    out += '\n';
    write(out);
}

bool RunLog::write(const QByteArray &text)
{
    if (m_gone)
        return false;
    // Any other failure (a full disk) loses the text but not the run.
    if (m_out.write(text) || m_out.error() != EPIPE)
        return true;
    m_gone = true;
    if (m_onGone)
        m_onGone();
    return false;
}

void RunLog::complain(const QByteArray &text)
{
    m_err.write("ipnd-send: " + text + '\n');
}

void StatusLine::showLive(const RunCounts &f)
{
    m_sink.write("\r\033[K" + QByteArray::number(f.read) + " read, " + QByteArray::number(f.sent) + " sent, "
                 + QByteArray::number(f.answered) + " answered, " + QByteArray::number(f.unexpected)
                 + " unexpected, " + QByteArray::number(f.unanswered) + " unanswered, "
                 + QByteArray::number(f.rejected) + " rejected");
}

void StatusLine::clearLive()
{
    m_sink.write("\r\033[K");
}

void StatusLine::writeProgress(const ProgressFigures &figures)
{
    m_sink.write(progressLine(figures));
}
