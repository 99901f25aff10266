#pragma once

#include "link/SendResult.h"

#include <QByteArray>
#include <QString>

class FileDialog;

// What the replay procedures need of whoever sends and logs for them: the
// link, the event log, and word of what the readers did. Each event comes
// after the log line that tells it.
class DataFileHost
{
public:
    virtual ~DataFileHost() = default;

    virtual SendResult SendTCPPacket(const QByteArray &source) = 0;
    virtual void InsertLog(const QByteArray &source) = 0;
    // A line of text rather than bytes: a path, what the operator typed.
    virtual void InsertLogText(const QString &text) { InsertLog(text.toLatin1()); }

    // A reader yielded a record: it is framed and sent next.
    virtual void recordRead() {}
    // A line went into no record; `reason` is the log line that said why.
    virtual void lineRejected(const QByteArray &reason) { Q_UNUSED(reason); }
    // The record just read is too short to frame: it is never sent.
    virtual void recordTooShort(const QByteArray &record) { Q_UNUSED(record); }
    // The link did not take the record just read; `reason` is the log line
    // that said why. Not said of a record SendTCPPacket withheld itself.
    virtual void recordNotSent(const QByteArray &reason) { Q_UNUSED(reason); }
};

// How the window lets the operator choose the data file.
class DataFileChooser
{
public:
    virtual ~DataFileChooser() = default;

    virtual void OpenDialogBox(FileDialog &commonDialog, const QString &title, QString &source,
                               const QString &filterText) = 0;
    // The window's file-open dialog control.
    virtual FileDialog &dataFileDialog() = 0;
    // The path shown in the window's data file box.
    virtual void showDataFilePath(const QString &path) = 0;
};
