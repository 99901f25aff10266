#pragma once

#include "platform/Tls.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

// What ipnd-conform was asked to do.
struct ConformOptions
{
    QString host;
    quint16 port = 0;
    int timeoutMs = 5000;     // the wait for one reply
    QByteArray accept = "ACK {id}";
    QByteArray refuse = "NAK {id}( .*)?";
    quint64 seed = 1;
    QStringList cases;        // ids and section numbers; empty: every case
    QStringList exclude;
    bool list = false;
    bool strict = false;
    double rate = 50;         // section 4: records a second
    double durationSeconds = 10;
    double maxP99Ms = 1000;
    QString reportFile;       // JSON; empty: none
    QString junitFile;
    QString htmlFile;
    QString compareFile;      // an earlier JSON report
    bool quiet = false;
    TlsClientOptions tls;     // --tls and what goes with it
    QString commandLine;      // as a shell would take it back
};

struct ParsedConformArguments
{
    std::optional<ConformOptions> options;
    bool printed = false; // --help or --version: nothing to run
    QString error;
};

// The arguments as CommandLine::byteArguments gives them, the program first.
ParsedConformArguments parseConformArguments(const QStringList &arguments, std::FILE *out = stdout);
QString conformUsage();
