// ipnd-send: the fixed records and the data-file replay, without a window.

#include "platform/CommandLine.h"
#include "platform/Dispatch.h"
#include "platform/StopSignals.h"
#include "platform/TextSink.h"
#include "platform/Tls.h"
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
    // One context for the whole run: every connection resumes from it.
    std::unique_ptr<TlsClient> tls;
    if (const TlsClientOptions &wanted = parsed.options->tls; wanted.enabled) {
        QString error;
        tls = TlsClient::create(wanted, parsed.options->host, &error);
        if (!tls) {
            std::fprintf(stderr, "ipnd-send: %s\n", CommandLine::bytes(error).constData());
            return 2;
        }
        if (wanted.insecure)
            std::fputs("ipnd-send: --insecure: the server's certificate is not checked\n", stderr);
    }

    // A reader of standard output that goes away ends the run as a signal
    // does, with the reports finished, rather than killing it mid-write.
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(stdout);
    DescriptorSink out(STDOUT_FILENO);
    DescriptorSink err(STDERR_FILENO);
    const bool logToErr = parsed.options->reports.reportFile == QLatin1String("-");
    SendRun run(*parsed.options, logToErr ? err : out, err, &err, ::isatty(STDERR_FILENO));
    run.setCommandLine(CommandLine::shellText(arguments));
    if (tls)
        run.setTls(tls.get());
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &run, &SendRun::interrupt);
    return run.run();
}
