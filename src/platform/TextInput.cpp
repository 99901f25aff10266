#include "platform/TextInput.h"

#include "platform/PlatformError.h"

#include <QDir>
#include <QFileInfo>

namespace {
constexpr qint64 ChunkSize = 64 * 1024;
// Records are well under a kilobyte; a "line" longer than this is cut into
// pieces rather than read whole into memory.
constexpr qsizetype MaxLineLength = 1024 * 1024;
} // namespace

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
}

void TextInput::openFeed()
{
    if (isOpen())
        throw PlatformError{ErrorNumber::FileAlreadyOpen, QStringLiteral("File already open")};
    m_feeding = true;
    m_buffer.clear();
    m_pos = 0;
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
    const QByteArray more = m_file.read(ChunkSize);
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

    // fill() drops what was consumed, so positions are kept relative to m_pos.
    qsizetype length = 0;
    for (;;) {
        while (m_pos + length < m_buffer.size() && m_buffer[m_pos + length] != '\r'
               && m_buffer[m_pos + length] != '\n')
            ++length;
        if (m_pos + length < m_buffer.size())
            break;
        if (length >= MaxLineLength) { // no line end in sight: hand over what there is
            QByteArray line = m_buffer.mid(m_pos, MaxLineLength);
            m_pos += MaxLineLength;
            return line;
        }
        if (!fill()) { // the last line has no line end
            QByteArray line = m_buffer.mid(m_pos);
            m_pos = m_buffer.size();
            return line;
        }
    }
    QByteArray line = m_buffer.mid(m_pos, length);
    const bool cr = m_buffer[m_pos + length] == '\r';
    // A CR at the end of the buffer may be the first half of a CR LF.
    if (cr && m_pos + length + 1 == m_buffer.size())
        fill();
    m_pos += length + 1;
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
}
