#pragma once

// A host that stands in for the main window: it keeps every log line and
// every packet handed to it, answers each send with a result the caller
// chooses, and opens the data file its scripted dialog is told to choose.
// Needs no test framework, so the fuzz harnesses use it too.

#include "DataFile/DataFileHost.h"
#include "ScriptedFileDialog.h"
#include "platform/FileDialog.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <utility>

class FakeHost final : public DataFileHost, public DataFileChooser
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
        chooseFile(commonDialog, title, source, filterText);
    }
    FileDialog &dataFileDialog() override { return dialog; }
    void showDataFilePath(const QString &) override {}

    // The log lines written since the last call.
    QList<QByteArray> takeLog() { return std::exchange(logLines, {}); }
    QList<QByteArray> takePackets() { return std::exchange(packets, {}); }
};
