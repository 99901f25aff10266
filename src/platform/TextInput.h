#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Sequential text input: one file opened for reading, read a line at a time.
// A line ends at CR, CR LF or LF; the line end is not part of the line. Every
// other byte is kept as it is. Failures throw PlatformError.
class TextInput
{
public:
    void open(const QString &path);
    // Opens the channel on lines handed over in memory with feed() instead
    // of a file; what has been read is dropped.
    void openFeed();
    void feed(const QByteArray &bytes);
    bool isOpen() const { return m_file.isOpen() || m_feeding; }
    // True when no further line can be read: closed, or everything read.
    bool atEnd();
    QByteArray readLine();
    // Closing a channel that is not open does nothing.
    void close();

private:
    bool fill();

    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_feeding = false;
};
