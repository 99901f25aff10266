#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <utility>

// What was run, as every report names it, so that a report read on its own
// says which receiver was tested with which data.
struct RunDescription
{
    QString title;       // the page's heading and the JUnit suites' name
    QDateTime startedAt; // UTC
    QString program;     // "ipnd-send"
    QString version;
    QString commandLine; // the arguments as typed, each quoted where it needs it
    QString target;      // "host:port"
    QString dataFile;    // empty for a fixed record
    QString format;      // "rawlog" or "multipkt"; empty for a fixed record
    QString manifest;    // empty: none

    // Key and value in report order; the keys are the JSON summary's.
    QList<std::pair<QString, QString>> fields() const
    {
        return {{QStringLiteral("started_at"), startedAt.isValid()
                                                   ? startedAt.toUTC().toString(Qt::ISODateWithMs)
                                                   : QString()},
                {QStringLiteral("program"), program},
                {QStringLiteral("version"), version},
                {QStringLiteral("command_line"), commandLine},
                {QStringLiteral("target"), target},
                {QStringLiteral("data_file"), dataFile},
                {QStringLiteral("format"), format},
                {QStringLiteral("manifest"), manifest}};
    }
};
