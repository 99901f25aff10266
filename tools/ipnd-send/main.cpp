// ipnd-send: the fixed records and the data-file replay, without a window.

#include "platform/CommandLine.h"
#include "platform/Dispatch.h"
#include "platform/StopSignals.h"
#include "sender/SendOptions.h"
#include "sender/SendRun.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    preferPlainEventDispatcher();
    // --expect with {id} compiles one expression per reply; compiling each to
    // machine code costs more than matching a short reply ever gains (it
    // halves the rate of a fast run). Read once, before the first expression.
    if (!qEnvironmentVariableIsSet("QT_ENABLE_REGEXP_JIT"))
        qputenv("QT_ENABLE_REGEXP_JIT", "0");
    QCoreApplication app(argc, argv);
    const QStringList arguments = CommandLine::byteArguments(argc, argv);
    const ParsedSendArguments parsed = parseSendArguments(arguments);
    if (parsed.printed)
        return 0;
    if (!parsed.options) {
        // The error quotes the arguments byte for byte, as they were typed.
        std::fprintf(stderr, "ipnd-send: %s\n%s", CommandLine::bytes(parsed.error).constData(),
                     qPrintable(sendUsage()));
        return 2;
    }

    // One log line at a time, so that a pipe or `tail -f` sees each as it
    // happens. Standard output taken by the JSON Lines report leaves the log
    // and the summary to standard error.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // A reader of standard output that goes away ends the run as a signal
    // does, with the reports finished, rather than killing it mid-write.
    std::signal(SIGPIPE, SIG_IGN);
    FILE *log = parsed.options->reports.reportFile == QLatin1String("-") ? stderr : stdout;
    SendRun run(*parsed.options, log, stderr, ::isatty(STDERR_FILENO));
    run.setCommandLine(CommandLine::shellText(arguments));
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &run, &SendRun::interrupt);
    return run.run();
}
