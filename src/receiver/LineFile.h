#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class QSocketNotifier;

// One of the receiver's files of lines (--verdicts, --capture). Each line is
// written whole at once, so that a reader during the run, or after the
// receiver was killed, sees every line that was said; and never half: a line
// the file cannot take (a full disk, a reader that went away) is taken back
// or not begun, and counted as lost. Writing never waits: a pipe whose reader
// is slow keeps the lines in memory, up to a bound, and gets them as it reads.
// (A line longer than a pipe takes at once goes in parts; a stop while its
// reader sits still may leave the last part unwritten.)
class LineFile
{
public:
    // Lines waiting for a slow reader beyond this many bytes are lost.
    static constexpr qsizetype MostWaiting = 4 << 20;

    LineFile();
    ~LineFile();
    LineFile(const LineFile &) = delete;
    LineFile &operator=(const LineFile &) = delete;

    // Opens `path` for writing, truncated or appended to, without waiting: a
    // FIFO that nobody reads is refused instead of holding start-up in open()
    // for ever. False, with the reason in *reason, when it cannot be written.
    bool open(const QString &path, bool append, QByteArray *reason);
    // Writes to standard output, which stays open after this file.
    bool openStandardOutput(QByteArray *reason);
    bool isOpen() const { return m_fd >= 0; }

    // `line` and its LF, whole: written, or waiting for the reader. False,
    // with why in *reason, when the line is lost.
    bool writeLine(const QByteArray &line, QByteArray *reason);
    // Writes what still waits, for at most `ms` milliseconds; what is left
    // then is lost.
    void finish(int ms);
    // Lines lost so far, also those lost while they waited.
    int lost() const { return m_lost; }

private:
    bool start(int fd, bool owned, QByteArray *reason);
    // Writes from the waiting lines; false when the file failed.
    bool writeWaiting();
    void fail(const QByteArray &reason);
    void close();

    int m_fd = -1;
    bool m_owned = false;
    bool m_regular = false;  // a regular file, where a half line can be cut off again
    int m_restoreFlags = -1; // standard output's flags, set back at the end
    QByteArray m_failure;    // why no line can be written any more; empty while they can
    QList<QByteArray> m_waiting;
    qsizetype m_waitingBytes = 0;
    qsizetype m_written = 0; // of the first waiting line
    int m_lost = 0;
    std::unique_ptr<QSocketNotifier> m_writable;
};
