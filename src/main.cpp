#include "console/frmIPNDTCPServer.h"
#include "platform/CommandLine.h"
#include "platform/Version.h"

#include <QApplication>

#include <cstdio>

namespace {

CommandLine makeCommandLine()
{
    return CommandLine(QStringLiteral("ipnd-testgen"),
                       QStringLiteral("Sends IPND customer records to a receiving server over TCP, one record "
                                      "per connection, and shows and counts the replies."));
}

} // namespace

int main(int argc, char *argv[])
{
    // --help and --version need no display: a line that holds nothing but
    // this program's options is answered before the window system is asked
    // for one. Any other line (Qt's own options among them) goes on to Qt.
    if (const CommandLine::Outcome early = makeCommandLine().parse(CommandLine::byteArguments(argc, argv));
        early == CommandLine::Outcome::Help || early == CommandLine::Outcome::Version)
        return 0;

    // QApplication takes its own options (-platform, -style, ...) out of argv
    // first; what is left is this program's.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ipnd-testgen"));
    QApplication::setApplicationVersion(QString::fromLatin1(Version::FileVersion));

    CommandLine commandLine = makeCommandLine();
    switch (commandLine.parse(CommandLine::byteArguments(argc, argv))) {
    case CommandLine::Outcome::Help:
    case CommandLine::Outcome::Version:
        return 0;
    case CommandLine::Outcome::Error:
        std::fprintf(stderr, "ipnd-testgen: %s\nusage: ipnd-testgen [--help] [--version] [Qt options]\n",
                     CommandLine::bytes(commandLine.error()).constData());
        return 2;
    case CommandLine::Outcome::Run:
        break;
    }

    frmIPNDTCPServer window;
    window.show();
    return app.exec();
}
