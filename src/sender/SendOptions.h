#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What ipnd-send was asked to do.
struct SendOptions
{
    enum class Mode { Record, Replay };

    QString host;
    QString port;
    Mode mode = Mode::Record;
    QString recordName;   // standard, noadd, long, min or max
    QByteArray record;    // the fixed record itself
    QString replayFile;
    QString format;       // "RAWLOG" or "MULTIPKT"
    double periodSeconds = 1.0;
    qint64 count = -1;    // periods; -1 until the end of the file
    int connectTimeoutMs = 10000;
    int replyTimeoutMs = 10000;
    bool quiet = false;
};

struct ParsedSendArguments
{
    std::optional<SendOptions> options;
    bool help = false;
    QString error; // one line naming the bad argument
};

// The arguments without the program name.
ParsedSendArguments parseSendArguments(const QStringList &arguments);

QString sendUsage();
