#pragma once

// Shared fixture for the data-file readers: a replay whose data file is
// written into the test's own temporary folder and opened through
// OpenDataFile, with a FakeHost in place of the main window.

#include "DataFile/DataFile.h"
#include "FakeHost.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QtTest>

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
        data.OpenDataFile(host);
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
