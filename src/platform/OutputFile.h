#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

#include <sys/types.h>

class QIODevice;

// Every file a program here writes (reports, captures, verdicts, generated
// data and manifests, the suite's reports) is opened and written through
// this. A name is the bytes the system takes, which need not be valid UTF-8:
// one given as text goes to the system as QFile::encodeName() gives it.

// "-": standard output.
inline bool isStandardOutput(const QByteArray &name)
{
    return name == "-";
}
inline bool isStandardOutput(const QString &name)
{
    return name == QLatin1String("-");
}

// Something under the name that is neither a regular file nor a directory:
// a device, a pipe or a socket.
bool isDeviceOrPipe(const QByteArray &name);
bool isDeviceOrPipe(const QString &name);

// The system's words for an error number: "No space left on device".
QString systemError(int number);

// How an output is opened.
struct OutputWay
{
    // A regular file, or a name with nothing under it yet.
    enum class File {
        Replaced,  // written into a new file that commitWhole() puts in place, so that no reader sees half of it
        Truncated, // emptied (or made) and written as it goes
    };
    // Anything else under the name.
    enum class Other {
        AsFile,         // as a regular file would be
        InPlace,        // written into (a directory too, which the open refuses), waiting for a pipe's reader
        WithoutWaiting, // a device or a pipe, opened without waiting for a reader (see openWithoutWaiting())
    };
    File file = File::Replaced;
    Other other = Other::InPlace;
    bool standardOutput = false; // "-" is standard output, which stays open after the file
    bool unbuffered = false;     // each write goes to the system at once: a full disk is met in it
};

// Opens the output. It is open, or isOpen() is false and errorString()
// says why. A name given as text is replaced through a QSaveFile (which
// follows a link to what it names); one given as bytes, which a save cannot
// be given, through a file beside it, renamed into place.
std::unique_ptr<QFileDevice> openOutput(const QString &name, const OutputWay &way);
std::unique_ptr<QFileDevice> openOutput(const QByteArray &name, const OutputWay &way);

// The descriptor of what is under the name, opened for writing with
// `flags` added and without waiting: the open of a pipe nobody reads would
// block for ever, and fails with ENXIO instead. The descriptor stays
// non-blocking. -1, with errno set, when it cannot be opened.
int openWithoutWaiting(const QByteArray &name, int flags = 0, mode_t mode = 0666);

// All of `bytes`, or false with the reason in `error`. What one write left
// over is written again: a disk that filled up then says so ("No space left
// on device") instead of leaving a short count and no reason. A full pipe
// opened without waiting is waited for; a signal ends the wait (a poll is
// never restarted), so a reader that stopped reading cannot hold up a stop.
bool writeAll(QIODevice &file, const QByteArray &bytes, QString *error);

// The new file put in place, or what was written flushed and the file
// closed. False, with the reason in errorString(), when it could not be
// written; a file to replace then stays as it was.
bool commitWhole(QFileDevice &file);

// `bytes` as the whole of the file, replaced through a save. False, with the
// reason in *error, when it cannot be written.
bool saveWhole(const QString &name, const QByteArray &bytes, QString *error);
