#pragma once

#include "link/SendResult.h"

#include <QByteArray>
#include <QString>

class FileDialog;

// What the replay procedures reach of the main window.
class DataFileHost
{
public:
    virtual ~DataFileHost() = default;

    virtual SendResult SendTCPPacket(const QByteArray &source) = 0;
    virtual void InsertLog(const QByteArray &source) = 0;
    // A line of text rather than bytes: a path, what the operator typed.
    virtual void InsertLogText(const QString &text) { InsertLog(text.toLatin1()); }
    virtual void OpenDialogBox(FileDialog &commonDialog, const QString &title, QString &source,
                               const QString &filterText) = 0;
    // The window's file-open dialog control.
    virtual FileDialog &dataFileDialog() = 0;
    // The path shown in the window's data file box.
    virtual void showDataFilePath(const QString &path) = 0;
};
