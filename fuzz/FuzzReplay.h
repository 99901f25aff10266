#pragma once

// Shared by the reader harnesses. The first input byte sets the line input's
// limits: its high four bits 0 to 14 make them small (longest line 8 to 120
// bytes, read chunk 1 to 16 bytes from the low four bits), so that small
// inputs reach the chunk seams and over-long lines; 15 keeps the real ones
// for whole records. The rest is the data file. The tests' FakeHost stands
// in for the window and keeps what it was given.

#include "FakeHost.h"
#include "FuzzCheck.h"

#include "DataFile/DataFile.h"
#include "platform/PlatformError.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QTemporaryDir>

#include <memory>

namespace fuzz {

struct Knobs
{
    qint64 chunkSize;
    qsizetype maxLineLength;

    explicit Knobs(uint8_t byte)
        : chunkSize((byte >> 4) == 15 ? TextInput::DefaultChunkSize : 1 + (byte & 15)),
          maxLineLength((byte >> 4) == 15 ? TextInput::DefaultMaxLineLength : 8 * (1 + (byte >> 4)))
    {
    }
};

// The lines of the data file as the line input is to read them: ended by CR,
// CR LF or LF, the last one also by the end of the file.
inline QList<QByteArray> referenceLines(const QByteArray &contents)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < contents.size(); ++i) {
        if (contents[i] != '\r' && contents[i] != '\n')
            continue;
        lines.append(contents.mid(start, i - start));
        if (contents[i] == '\r' && i + 1 < contents.size() && contents[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < contents.size())
        lines.append(contents.mid(start));
    return lines;
}

// A data file written from the input and opened through OpenDataFile.
struct Replay
{
    Knobs knobs;
    QByteArray contents;
    FakeHost host;
    std::unique_ptr<DataFile> data;

    Replay(const uint8_t *bytes, size_t size)
        : knobs(size ? bytes[0] : 0),
          contents(size ? QByteArray(reinterpret_cast<const char *>(bytes + 1), qsizetype(size - 1)) : QByteArray())
    {
        static QTemporaryDir dir;
        FUZZ_CHECK(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("ipnd.dat"));
        host.dialog.choose(path);
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(contents) == contents.size());
        file.close();
        data = std::make_unique<DataFile>(host, knobs.maxLineLength, knobs.chunkSize);
        data->OpenDataFile(host);
        FUZZ_CHECK(data->isDataFileOpen());
        FUZZ_CHECK(host.logLines.isEmpty());
    }

    // One period of the data file's reading and sending, with the host's log
    // and packets holding only what it gave. A record whose characters 3 and
    // 4 are no number cannot be framed; the callers log that failure and go on.
    template <typename Read>
    void period(const Read &read)
    {
        host.logLines.clear();
        host.packets.clear();
        try {
            read(*data);
        } catch (const PlatformError &) {
        }
    }

    QByteArray tooLongLine(const char *tag, qsizetype length) const
    {
        return tag + QByteArray(" Line too long: ") + QByteArray::number(length) + " bytes, at most "
               + QByteArray::number(knobs.maxLineLength) + " allowed";
    }
};

} // namespace fuzz
