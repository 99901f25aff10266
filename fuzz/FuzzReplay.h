#pragma once

// Shared by the reader harnesses. The first input byte sets the line input's
// limits: its high four bits 0 to 14 make them small (longest line 8 to 120
// bytes, read chunk 1 to 16 bytes from the low four bits), so that small
// inputs reach the chunk seams and over-long lines; 15 keeps the real ones
// for whole records. The rest is the data file. A host stands in for the
// window and keeps what it was given.

#include "FuzzCheck.h"

#include "DataFile/DataFile.h"
#include "DataFile/DataFileHost.h"
#include "platform/FileDialog.h"

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

class ChosenFile final : public FileDialog
{
public:
    QString path;
    void ShowOpen() override { FileName = path; }
};

class Host final : public DataFileHost
{
public:
    QList<QByteArray> log;
    QList<QByteArray> packets;
    ChosenFile dialog;

    SendResult SendTCPPacket(const QByteArray &source) override
    {
        packets.append(source);
        return SendResult::Sent;
    }
    void InsertLog(const QByteArray &source) override { log.append(source); }
    void OpenDialogBox(FileDialog &commonDialog, const QString &title, QString &source,
                       const QString &filterText) override
    {
        chooseFile(commonDialog, title, source, filterText);
    }
    FileDialog &dataFileDialog() override { return dialog; }
    void showDataFilePath(const QString &) override {}
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
    Host host;
    std::unique_ptr<DataFile> data;

    Replay(const uint8_t *bytes, size_t size)
        : knobs(size ? bytes[0] : 0),
          contents(size ? QByteArray(reinterpret_cast<const char *>(bytes + 1), qsizetype(size - 1)) : QByteArray())
    {
        static QTemporaryDir dir;
        FUZZ_CHECK(dir.isValid());
        host.dialog.path = dir.filePath(QStringLiteral("ipnd.dat"));
        QFile file(host.dialog.path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(contents) == contents.size());
        file.close();
        data = std::make_unique<DataFile>(host, knobs.maxLineLength, knobs.chunkSize);
        data->OpenDataFile();
        FUZZ_CHECK(data->isDataFileOpen());
        FUZZ_CHECK(host.log.isEmpty());
    }

    QByteArray tooLongLine(const char *tag, qsizetype length) const
    {
        return tag + QByteArray(" Line too long: ") + QByteArray::number(length) + " bytes, at most "
               + QByteArray::number(knobs.maxLineLength) + " allowed";
    }
};

} // namespace fuzz
