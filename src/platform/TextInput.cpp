#include "platform/TextInput.h"

#include "platform/PlatformError.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>

void TextInput::open(const QString &path)
{
    if (m_file.isOpen())
        throw PlatformError{ErrorNumber::FileAlreadyOpen, QStringLiteral("File already open: %1").arg(m_file.fileName())};
    const QFileInfo info(path);
    if (path.isEmpty())
        throw PlatformError{ErrorNumber::BadFileNameOrNumber, QStringLiteral("Bad file name: no file name given")};
    if (!info.dir().exists())
        throw PlatformError{ErrorNumber::PathNotFound, QStringLiteral("Path not found: %1").arg(path)};
    if (!info.exists())
        throw PlatformError{ErrorNumber::FileNotFound, QStringLiteral("File not found: %1").arg(path)};
    if (info.isDir())
        throw PlatformError{ErrorNumber::PathFileAccessError,
                            QStringLiteral("Path/File access error: %1 is a folder").arg(path)};
    // A pipe or a device could block the window or never end a line.
    if (!info.isFile())
        throw PlatformError{ErrorNumber::PathFileAccessError,
                            QStringLiteral("Path/File access error: %1 is not a regular file").arg(path)};
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        throw PlatformError{ErrorNumber::PermissionDenied,
                            QStringLiteral("Permission denied: %1 (%2)").arg(path, m_file.errorString())};
    m_buffer.clear();
    m_pos = 0;
    m_tooLongLength = 0;
}

void TextInput::openDescriptor(int fd, bool owned)
{
    if (m_file.isOpen())
        throw PlatformError{ErrorNumber::FileAlreadyOpen, QStringLiteral("File already open: %1").arg(m_file.fileName())};
    if (!m_file.open(fd, QIODevice::ReadOnly, owned ? QFileDevice::AutoCloseHandle : QFileDevice::DontCloseHandle))
        throw PlatformError{ErrorNumber::PermissionDenied, QStringLiteral("Permission denied: %1").arg(m_file.errorString())};
    m_buffer.clear();
    m_pos = 0;
    m_tooLongLength = 0;
}

void TextInput::openFeed()
{
    if (isOpen())
        throw PlatformError{ErrorNumber::FileAlreadyOpen, QStringLiteral("File already open")};
    m_feeding = true;
    m_buffer.clear();
    m_pos = 0;
    m_tooLongLength = 0;
}

void TextInput::feed(const QByteArray &bytes)
{
    m_buffer += bytes;
}

bool TextInput::fill()
{
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    if (m_feeding)
        return false;
    const QByteArray more = m_file.read(m_chunkSize);
    m_buffer += more;
    return !more.isEmpty();
}

bool TextInput::atEnd()
{
    if (!isOpen())
        return true;
    return m_pos >= m_buffer.size() && !fill();
}

QByteArray TextInput::readLine()
{
    if (!isOpen())
        throw PlatformError{ErrorNumber::BadFileNameOrNumber, QStringLiteral("Bad file name or number: no file open")};
    if (atEnd())
        throw PlatformError{ErrorNumber::InputPastEndOfFile, QStringLiteral("Input past end of file")};

    m_tooLongLength = 0;
    // fill() drops what was consumed, so positions are kept relative to m_pos.
    qsizetype length = 0;
    qint64 skipped = 0; // bytes of an over-long line already dropped
    bool ended = false;
    for (;;) {
        const char *begin = m_buffer.constData() + m_pos;
        const char *end = m_buffer.constData() + m_buffer.size();
        // The first CR or LF: the LF searched first, then a CR before it.
        const char *from = begin + length;
        const auto *lf = static_cast<const char *>(std::memchr(from, '\n', size_t(end - from)));
        const char *lineEnd = lf ? lf : end;
        const auto *cr = static_cast<const char *>(std::memchr(from, '\r', size_t(lineEnd - from)));
        const char *stop = cr ? cr : lineEnd;
        length = stop - begin;
        if (stop != end) {
            ended = true;
            break;
        }
        // Only a line already known to be too long is dropped while its end
        // is sought: one of exactly the limit may end with the next byte.
        if (skipped + length > m_maxLineLength) {
            skipped += length;
            m_pos += length;
            length = 0;
        }
        if (!fill()) // the last line has no line end
            break;
    }
    QByteArray line;
    if (skipped + length > m_maxLineLength)
        m_tooLongLength = skipped + length;
    else
        line = m_buffer.mid(m_pos, length);
    m_pos += length;
    if (!ended)
        return line;
    const bool cr = m_buffer[m_pos] == '\r';
    // A CR at the end of the buffer may be the first half of a CR LF.
    if (cr && m_pos + 1 == m_buffer.size())
        fill();
    ++m_pos;
    if (cr && m_pos < m_buffer.size() && m_buffer[m_pos] == '\n')
        ++m_pos;
    return line;
}

void TextInput::close()
{
    m_file.close();
    m_feeding = false;
    m_buffer.clear();
    m_pos = 0;
    m_tooLongLength = 0;
}
