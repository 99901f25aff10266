#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The receiver's files of lines (--verdicts, --capture): each line written
// whole and flushed at once, so that a reader during the run, or after the
// receiver was killed, sees every line that was said.
namespace LineFile {

// Opens `path` for writing, truncated or appended to, without waiting: a
// FIFO that nobody reads is refused instead of holding start-up in open()
// for ever. False, with the reason in *reason, when it cannot be written.
bool open(QFile &file, const QString &path, bool append, QByteArray *reason);

// `line` and its LF, whole; false when they could not be written.
bool writeLine(QFile &file, const QByteArray &line);

} // namespace LineFile
