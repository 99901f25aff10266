#include "receiver/ReceiverOptions.h"

#include "platform/CommandLine.h"

#include <QList>
#include <QRegularExpression>

#include <cmath>

namespace {

// A whole number of at most `maxDigits` digits, from 0 to `highest`.
std::optional<int> wholeNumber(const QByteArray &text, int maxDigits, int highest)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    const int value = text.toInt();
    if (value > highest)
        return std::nullopt;
    return value;
}

bool setPort(const QByteArray &text, ReceiverOptions *options)
{
    const std::optional<int> port = wholeNumber(text, 5, 65535);
    if (port)
        options->port = quint16(*port);
    return bool(port);
}

bool setMisbehaviour(const QByteArray &text, ReceiverOptions *options)
{
    using M = ReceiverOptions::Misbehaviour;
    if (text == "none" || text == "silent" || text == "close" || text == "split") {
        options->misbehaviour = text == "none" ? M::None : text == "silent" ? M::Silent : text == "close" ? M::Close : M::Split;
        return true;
    }
    const QByteArray prefix = "slow:";
    if (!text.startsWith(prefix))
        return false;
    const std::optional<int> delay = wholeNumber(text.mid(prefix.size()), 6, ReceiverOptions::LongestDelay);
    if (!delay)
        return false;
    options->misbehaviour = M::Slow;
    options->delay = *delay;
    return true;
}

bool setMaxPacket(const QByteArray &text, ReceiverOptions *options)
{
    const std::optional<int> bytes = wholeNumber(text, 10, int(ReceiverOptions::LargestMaxPacket));
    if (bytes && *bytes > 0)
        options->maxPacket = *bytes;
    return bytes && *bytes > 0;
}

bool setMaxConnections(const QByteArray &text, ReceiverOptions *options)
{
    const std::optional<int> count = wholeNumber(text, 7, ReceiverOptions::LargestMaxConnections);
    if (count && *count > 0)
        options->maxConnections = *count;
    return count && *count > 0;
}

bool setBareGap(const QByteArray &text, ReceiverOptions *options)
{
    const std::optional<int> gap = wholeNumber(text, 5, ReceiverOptions::LongestBareGap);
    if (gap)
        options->bareGap = *gap;
    return bool(gap);
}

// Seconds with up to three decimals (a millisecond is the finest step); 0
// keeps idle connections for ever.
bool setIdleTimeout(const QByteArray &text, ReceiverOptions *options)
{
    static const QRegularExpression form(QStringLiteral("^\\d{1,5}(\\.\\d{1,3})?$"));
    if (!form.match(QString::fromLatin1(text)).hasMatch())
        return false;
    const qint64 ms = std::llround(text.toDouble() * 1000);
    if (ms > ReceiverOptions::LongestIdleTimeout)
        return false;
    options->idleTimeout = int(ms);
    return true;
}

// An option that takes a value: its name, the value's name in the usage, a
// line of help, what a bad value is not, and how a value is taken.
struct ValueOption
{
    const char *name;
    const char *valueName;
    const char *description;
    const char *badValue; // "is not ..." after the quoted value
    bool (*take)(const QByteArray &value, ReceiverOptions *options);
};

const QList<ValueOption> &valueOptions()
{
    static const QList<ValueOption> options = {
        {"bind", "ADDR", "Listen on the IP address ADDR (default 127.0.0.1).", "is not an IP address",
         [](const QByteArray &value, ReceiverOptions *o) { return o->bind.setAddress(QString::fromLatin1(value)); }},
        {"port", "N", "Listen on port N (default 50003; 0 picks a free port).", "is not a port number (0 to 65535)",
         setPort},
        {"reply", "TEXT",
         "Reply with the bytes of TEXT instead of \"ACK\" and the record id; {id} in TEXT stands for the record "
         "id, and \\r, \\n, \\t and \\\\ for CR, LF, TAB and a backslash.",
         "",
         [](const QByteArray &value, ReceiverOptions *o) {
             o->reply = replyEscapesTaken(value);
             return true;
         }},
        {"misbehave", "MODE",
         "Behave as MODE: none (reply, the default), silent (never reply), close (close without a reply), "
         "split (reply in two pieces, 20 ms apart) or slow:MS (reply after MS milliseconds, at most 600000).",
         "is not none, silent, close, split or slow:MS", setMisbehaviour},
        {"idle-timeout", "SECONDS",
         "Close a connection that has sent nothing for SECONDS (default 30, at most 86400; 0 never).",
         "is not a number of seconds (0 to 86400)", setIdleTimeout},
        {"save", "DIR",
         "Keep the bytes of each packet in DIR/packet-N.bin (of a too-large packet, its first BYTES); DIR must be "
         "writable and hold no packets of an earlier run.",
         "is not a directory name",
         [](const QByteArray &value, ReceiverOptions *o) {
             o->saveDirectory = CommandLine::fileName(QString::fromLatin1(value));
             return !value.isEmpty();
         }},
        {"verdicts", "FILE",
         "Write one JSON line per packet to FILE: packet number, framed, record id, verdict and findings. A "
         "line FILE cannot take is lost whole and counted.",
         "is not a file name",
         [](const QByteArray &value, ReceiverOptions *o) {
             o->verdictsFile = CommandLine::fileName(QString::fromLatin1(value));
             return !value.isEmpty();
         }},
        {"max-packet", "BYTES",
         "Judge a packet longer than BYTES too-large, answer it as the mode says and close (default 1048576, "
         "1 to 1073741824).",
         "is not a number of bytes (1 to 1073741824)", setMaxPacket},
        {"max-connections", "N",
         "Serve at most N connections at once; further clients wait until one closes (default 1000, "
         "1 to 1000000).",
         "is not a number of connections (1 to 1000000)", setMaxConnections},
        {"capture", "FILE",
         "Append each packet's record to FILE as a RAWLOG line (receive time, TCPIN, the peer, the record), "
         "flushed as written, for ipnd-send or the window to replay; a bare packet is framed on replay. A record "
         "holding CR or LF, or one a replay would not send (10 characters or fewer, characters 3 to 8 not a "
         "number), is left out and counted. A line FILE cannot take is lost whole and counted, and a judging "
         "receiver answers its record NAK. - is standard output (the other lines then go to standard error).",
         "is not a file name",
         [](const QByteArray &value, ReceiverOptions *o) {
             o->captureFile = CommandLine::fileName(QString::fromLatin1(value));
             return !value.isEmpty();
         }},
        {"bare-gap", "MS",
         "Take a bare packet, or a framed one that may go on, as whole after MS milliseconds without a new byte "
         "once it may have ended (default 100, 0 to 60000).",
         "is not a number of milliseconds (0 to 60000)", setBareGap},
        {"port-file", "FILE",
         "Once listening, write the port number and a line end to FILE, whole, in place of what it held.",
         "is not a file name",
         [](const QByteArray &value, ReceiverOptions *o) {
             o->portFile = CommandLine::fileName(QString::fromLatin1(value));
             return !value.isEmpty();
         }},
    };
    return options;
}

const QLatin1String Judge("judge");
const QLatin1String Quiet("quiet");

} // namespace

QByteArray replyEscapesTaken(const QByteArray &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const char *taken = text[i] != '\\' ? nullptr
                            : next == 'r'     ? "\r"
                            : next == 'n'     ? "\n"
                            : next == 't'     ? "\t"
                            : next == '\\'    ? "\\"
                                              : nullptr;
        if (taken) {
            bytes += *taken;
            ++i;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

QByteArray receiverUsage()
{
    QByteArray usage = "usage: ipnd-receiver";
    for (const ValueOption &option : valueOptions())
        usage += " [--" + QByteArray(option.name) + ' ' + option.valueName + ']';
    return usage + " [--judge] [--quiet]";
}

ParsedOptions parseReceiverOptions(const QStringList &arguments, std::FILE *out)
{
    CommandLine commandLine(QStringLiteral("ipnd-receiver"),
                            QStringLiteral("A receiving server for trying ipnd-testgen and ipnd-send out on one "
                                           "machine: it reads one packet per connection, checks and reports it, "
                                           "replies and closes; SIGINT or SIGTERM prints a summary. Exit "
                                           "status 1 when a line of --verdicts or --capture was lost."));
    QCommandLineParser &parser = commandLine.parser;
    for (const ValueOption &option : valueOptions())
        parser.addOption({QLatin1String(option.name), QLatin1String(option.description), QLatin1String(option.valueName)});
    parser.addOption({Judge, QStringLiteral("Reply \"ACK\" and the record id to a record the checks find valid, "
                                            "\"NAK\", the record id and the verdict's kind to any other.")});
    parser.addOption({Quiet, QStringLiteral("Print no line per packet, only the summary.")});

    ParsedOptions parsed;
    const auto fail = [&parsed](const QByteArray &error) {
        parsed.outcome = ParsedOptions::Outcome::Error;
        parsed.error = error;
        return parsed;
    };

    parsed.outcome = commandLine.parse(arguments, out);
    if (parsed.outcome == ParsedOptions::Outcome::Error)
        return fail(CommandLine::bytes(commandLine.error()));
    if (parsed.outcome != ParsedOptions::Outcome::Run)
        return parsed;

    for (const ValueOption &option : valueOptions()) {
        const QString name = QLatin1String(option.name);
        if (!parser.isSet(name))
            continue;
        const QByteArray value = CommandLine::bytes(parser.values(name).constLast());
        if (!option.take(value, &parsed.options))
            return fail("--" + QByteArray(option.name) + ": " + CommandLine::quoted(value) + ' ' + option.badValue);
    }
    parsed.options.judge = parser.isSet(Judge);
    parsed.options.quiet = parser.isSet(Quiet);
    if (parsed.options.judge && parsed.options.reply)
        return fail("--judge and --reply cannot be used together");
    return parsed;
}
