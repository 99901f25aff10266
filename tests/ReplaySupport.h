#pragma once

// Shared fixture for the data-file readers: a host that stands in for the
// main window (it keeps every log line and every packet handed to it and
// answers each send with a result the test chooses), a file dialog that
// "chooses" a path set by the test, and a replay whose data file is written
// into the test's own temporary folder and opened through OpenDataFile.

#include "DataFile/DataFile.h"
#include "DataFile/DataFileHost.h"
#include "ScriptedFileDialog.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

class FakeHost final : public DataFileHost
{
public:
    QList<QByteArray> logLines;
    QList<QByteArray> packets;
    SendResult result = SendResult::Sent;
    // Runs inside SendTCPPacket, as a handler nested in the wait would.
    std::function<void()> duringSend;
    ScriptedFileDialog dialog;

    SendResult SendTCPPacket(const QByteArray &source) override
    {
        packets.append(source);
        if (duringSend)
            duringSend();
        return result;
    }
    void InsertLog(const QByteArray &source) override { logLines.append(source); }
    void OpenDialogBox(FileDialog &commonDialog, const QString &title, QString &source,
                       const QString &filterText) override
    {
        commonDialog.DialogTitle = title;
        commonDialog.FileName = source;
        commonDialog.Filter = filterText;
        commonDialog.ShowOpen();
        source = commonDialog.FileName;
    }
    FileDialog &dataFileDialog() override { return dialog; }
    void showDataFilePath(const QString &) override {}

    // The log lines written since the last call.
    QList<QByteArray> takeLog() { return std::exchange(logLines, {}); }
    QList<QByteArray> takePackets() { return std::exchange(packets, {}); }
};

// A DataFile with its own host and temporary folder.
struct Replay
{
    QTemporaryDir dir;
    FakeHost host;
    DataFile data{host};

    // Writes the bytes to a data file and opens it the way Start does.
    // Fails the calling test (and returns false) when that does not work.
    [[nodiscard]] bool open(const QByteArray &contents)
    {
        if (!dir.isValid()) {
            QTest::qFail("no temporary folder", __FILE__, __LINE__);
            return false;
        }
        const QString path = dir.filePath(QStringLiteral("ipnd.dat"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
            QTest::qFail("cannot write the data file", __FILE__, __LINE__);
            return false;
        }
        file.close();
        host.dialog.choose(path);
        data.OpenDataFile();
        if (!data.isDataFileOpen() || !host.logLines.isEmpty()) {
            QTest::qFail(qPrintable(QStringLiteral("data file not opened: ") + QString::fromLatin1(host.logLines.join('\n'))),
                         __FILE__, __LINE__);
            return false;
        }
        return true;
    }
};

// Lines joined by the given line end, with one after the last line too.
inline QByteArray dataFileText(const QList<QByteArray> &lines, const QByteArray &lineEnd = "\r\n")
{
    QByteArray text;
    for (const QByteArray &line : lines)
        text += line + lineEnd;
    return text;
}
