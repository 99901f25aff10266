// ipnd-conform: a fixed, numbered battery of cases against a receiving
// server, a line per case and the evidence in reports.

#include "conform/ConformOptions.h"
#include "conform/ConformRun.h"
#include "platform/CommandLine.h"
#include "platform/StopSignals.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = CommandLine::byteArguments(argc, argv);
    const ParsedConformArguments parsed = parseConformArguments(arguments);
    if (parsed.printed)
        return 0;
    if (!parsed.options) {
        std::fprintf(stderr, "ipnd-conform: %s\n%s", CommandLine::bytes(parsed.error).constData(),
                     qPrintable(conformUsage()));
        return ConformRun::Usage;
    }
    std::signal(SIGPIPE, SIG_IGN);
    ConformRun run(*parsed.options, stdout, stderr);
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &run, &ConformRun::interrupt);
    return run.run();
}
