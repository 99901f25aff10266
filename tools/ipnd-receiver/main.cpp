// ipnd-receiver: a receiving server for trying ipnd-testgen out on one
// machine. It prints one line when it listens, one line per packet, and a
// summary when it is stopped with SIGINT or SIGTERM.

#include "platform/CommandLine.h"
#include "platform/StopSignals.h"
#include "receiver/Receiver.h"
#include "receiver/ReceiverOptions.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace {

constexpr int LinesLost = 1;
constexpr int BadArguments = 2;
constexpr int CannotListen = 3;

void say(std::FILE *stream, const QByteArray &line)
{
    const QByteArray text = line + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
    // SIGPIPE is ignored for the files of lines, which count what they lose;
    // a reader of these lines that went away still ends the program.
    if (std::fflush(stream) != 0 && errno == EPIPE) {
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
}

void complain(const QByteArray &line)
{
    say(stderr, "ipnd-receiver: " + line);
}

} // namespace

int main(int argc, char *argv[])
{
    const QStringList arguments = CommandLine::byteArguments(argc, argv);
    QCoreApplication app(argc, argv);

    const ParsedOptions parsed = parseReceiverOptions(arguments);
    if (!parsed.ok()) {
        complain(parsed.error);
        say(stderr, receiverUsage());
        return BadArguments;
    }
    if (parsed.outcome != ParsedOptions::Outcome::Run)
        return 0;
    const ReceiverOptions &options = parsed.options;
    // A capture on standard output leaves it to the capture alone.
    std::FILE *const out = options.captureToStdout() ? stderr : stdout;

    // A full disk or a gone reader is an error from write(), not the end.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    StopSignals signalWatch;
    if (!signalWatch.isWatching()) {
        complain("cannot watch for SIGINT and SIGTERM");
        return 1;
    }

    Receiver receiver(options);
    QObject::connect(&receiver, &Receiver::line, &app, [out](const QByteArray &line) { say(out, line); });
    QObject::connect(&receiver, &Receiver::failure, &app, [](const QByteArray &line) { complain(line); });
    QObject::connect(&signalWatch, &StopSignals::stopRequested, &app, [&receiver, out] {
        receiver.finishOutputs();
        for (const QByteArray &line : receiver.summaryLines())
            say(out, line);
        QCoreApplication::exit(receiver.linesLost() ? LinesLost : 0);
    });

    QByteArray error;
    if (!receiver.openOutputs(&error)) {
        complain(error);
        say(stderr, receiverUsage());
        return BadArguments;
    }
    if (!receiver.listen(&error)) {
        complain(error);
        return CannotListen;
    }
    if (!receiver.writePortFile(&error)) {
        complain(error);
        return BadArguments;
    }
    say(out, receiver.listeningLine());
    return app.exec();
}
