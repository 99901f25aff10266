#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Sequential text input: one file opened for reading, read a line at a time.
// A line ends at CR, CR LF or LF; the line end is not part of the line. Every
// other byte is kept as it is. Failures throw PlatformError.
//
// A line longer than maxLineLength() bytes is never held in memory: readLine()
// skips it whole, up to and including its line end, returns an empty text and
// sets lineTooLong() until the next read.
class TextInput
{
public:
    static constexpr qsizetype DefaultMaxLineLength = 1024 * 1024;
    static constexpr qint64 DefaultChunkSize = 64 * 1024;

    // Tests and fuzzing make both small to reach the seams with small files.
    explicit TextInput(qsizetype maxLineLength = DefaultMaxLineLength, qint64 chunkSize = DefaultChunkSize)
        : m_maxLineLength(maxLineLength), m_chunkSize(chunkSize)
    {
    }

    void open(const QString &path);
    // Opens the channel on a descriptor opened already: standard input, or a
    // file whose name is not text. `owned`: closed with the channel.
    void openDescriptor(int fd, bool owned);
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

    qsizetype maxLineLength() const { return m_maxLineLength; }
    // Whether the last readLine() skipped an over-long line, and its length.
    bool lineTooLong() const { return m_tooLongLength > 0; }
    qint64 tooLongLength() const { return m_tooLongLength; }

private:
    bool fill();

    qsizetype m_maxLineLength;
    qint64 m_chunkSize;
    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_feeding = false;
    qint64 m_tooLongLength = 0;
};
