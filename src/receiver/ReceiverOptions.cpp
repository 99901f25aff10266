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

// The mode's name in any letter case, as every choice on a command line.
bool setMisbehaviour(const QByteArray &typed, ReceiverOptions *options)
{
    using M = ReceiverOptions::Misbehaviour;
    const QByteArray text = typed.toLower();
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

// An option whose value needs no more than to be there: a file or a directory.
OptionReader named(QString *into, const char *what)
{
    return OptionRead::fileName(into, QLatin1String(what));
}

// A whole number of plain digits, from `least` to `highest`.
template <class T>
OptionReader digits(T *into, T least, T highest, const char *what)
{
    return OptionRead::number(into, least, highest, QLatin1String(what), NumberForm::Digits);
}

// What is answered, and how.
QList<OptionSpec> replyOptions(ReceiverOptions *o)
{
    return {
        {{QStringLiteral("bind")}, QStringLiteral("ADDR"), QStringLiteral("Listen on the IP address ADDR (default 127.0.0.1)."),
         [o](const OptionValue &value) {
             return o->bind.setAddress(value.text) ? QString() : value.isNot(QStringLiteral("an IP address"));
         }},
        {{QStringLiteral("port")}, QStringLiteral("N"), QStringLiteral("Listen on port N (default 50003; 0 picks a free port)."),
         digits(&o->port, quint16(0), quint16(65535), "a port number (0 to 65535)")},
        {{QStringLiteral("reply")}, QStringLiteral("TEXT"),
         QStringLiteral("Reply with the bytes of TEXT instead of \"ACK\" and the record id; {id} in TEXT stands for the record "
         "id, and \\r, \\n, \\t and \\\\ for CR, LF, TAB and a backslash."),
         [o](const OptionValue &value) {
             o->reply = replyEscapesTaken(value.bytes());
             return QString();
         }},
        {{QStringLiteral("misbehave")}, QStringLiteral("MODE"),
         QStringLiteral("Behave as MODE: none (reply, the default), silent (never reply), close (close without a reply), "
         "split (reply in two pieces, 20 ms apart) or slow:MS (reply after MS milliseconds, at most 600000)."),
         [o](const OptionValue &value) {
             return setMisbehaviour(value.bytes(), o) ? QString()
                                                      : value.isNot(QStringLiteral("none, silent, close, split or slow:MS"));
         }},
        {{QStringLiteral("idle-timeout")}, QStringLiteral("SECONDS"),
         QStringLiteral("Close a connection that has sent nothing for SECONDS (default 30, at most 86400; 0 never)."),
         [o](const OptionValue &value) {
             return setIdleTimeout(value.bytes(), o) ? QString()
                                                     : value.isNot(QStringLiteral("a number of seconds (0 to 86400)"));
         }},
    };
}

// What is kept of each packet, and where.
QList<OptionSpec> keepingOptions(ReceiverOptions *o)
{
    return {
        {{QStringLiteral("save")}, QStringLiteral("DIR"),
         QStringLiteral("Keep the bytes of each packet in DIR/packet-N.bin (of a too-large packet, its first BYTES); DIR must be "
         "writable and hold no packets of an earlier run."),
         named(&o->saveDirectory, "a directory name")},
        {{QStringLiteral("verdicts")}, QStringLiteral("FILE"),
         QStringLiteral("Write one JSON line per packet to FILE: packet number, framed, record id, verdict and findings. A "
         "line FILE cannot take is lost whole and counted."),
         named(&o->verdictsFile, "a file name")},
        {{QStringLiteral("max-packet")}, QStringLiteral("BYTES"),
         QStringLiteral("Judge a packet longer than BYTES too-large, answer it as the mode says and close (default 1048576, "
         "1 to 1073741824)."),
         digits(&o->maxPacket, qsizetype(1), ReceiverOptions::LargestMaxPacket, "a number of bytes (1 to 1073741824)")},
        {{QStringLiteral("max-connections")}, QStringLiteral("N"),
         QStringLiteral("Serve at most N connections at once; further clients wait until one closes (default 1000, "
         "1 to 1000000)."),
         digits(&o->maxConnections, 1, ReceiverOptions::LargestMaxConnections, "a number of connections (1 to 1000000)")},
        {{QStringLiteral("capture")}, QStringLiteral("FILE"),
         QStringLiteral("Append each packet's record to FILE as a RAWLOG line (receive time, TCPIN, the peer, the record), "
         "flushed as written, for ipnd-send or the window to replay; a bare packet is framed on replay. A record "
         "holding CR or LF, or one a replay would not send (10 characters or fewer, characters 3 to 8 not a "
         "number), is left out and counted. A line FILE cannot take is lost whole and counted, and a judging "
         "receiver answers its record NAK. - is standard output (the other lines then go to standard error)."),
         named(&o->captureFile, "a file name")},
        {{QStringLiteral("bare-gap")}, QStringLiteral("MS"),
         QStringLiteral("Take a bare packet, or a framed one that may go on, as whole after MS milliseconds without a new byte "
         "once it may have ended (default 100, 0 to 60000)."),
         digits(&o->bareGap, 0, ReceiverOptions::LongestBareGap, "a number of milliseconds (0 to 60000)")},
        {{QStringLiteral("port-file")}, QStringLiteral("FILE"),
         QStringLiteral("Once listening, write the port number and a line end to FILE, whole, in place of what it held."),
         named(&o->portFile, "a file name")},
    };
}

// TLS, and the flags.
QList<OptionSpec> serverOptions(ReceiverOptions *o)
{
    return {
        {{QStringLiteral("tls-cert")}, QStringLiteral("FILE"),
         QStringLiteral("Serve TLS 1.2 or later with the certificate (and its chain) in FILE (PEM); needs --tls-key. A "
         "connection whose handshake fails, or does not end within --idle-timeout, is said and counted."),
         named(&o->tlsCert, "a file name")},
        {{QStringLiteral("tls-key")}, QStringLiteral("FILE"), QStringLiteral("The private key of --tls-cert (PEM)."),
         named(&o->tlsKey, "a file name")},
        {{QStringLiteral("tls-client-ca")}, QStringLiteral("FILE"),
         QStringLiteral("With --tls-cert: require a client certificate issued by a CA in FILE (PEM)."),
         named(&o->tlsClientCa, "a file name")},
        {{QStringLiteral("judge")}, QString(),
         QStringLiteral("Reply \"ACK\" and the record id to a record the checks find valid, \"NAK\", the record id and "
                        "the verdict's kind to any other."),
         OptionRead::flag(&o->judge)},
        {{QStringLiteral("quiet")}, QString(), QStringLiteral("Print no line per packet, only the summary."),
         OptionRead::flag(&o->quiet)},
    };
}

QList<OptionSpec> receiverOptions(ReceiverOptions *o)
{
    return replyOptions(o) + keepingOptions(o) + serverOptions(o);
}

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
    ReceiverOptions unused;
    QByteArray usage = "usage: ipnd-receiver";
    for (const OptionSpec &option : receiverOptions(&unused)) {
        usage += " [--" + CommandLine::bytes(option.names.constFirst());
        if (!option.valueName.isEmpty())
            usage += ' ' + CommandLine::bytes(option.valueName);
        usage += ']';
    }
    return usage;
}

ParsedOptions parseReceiverOptions(const QStringList &arguments, std::FILE *out)
{
    CommandLine commandLine(QStringLiteral("ipnd-receiver"),
                            QStringLiteral("A receiving server for trying ipnd-testgen and ipnd-send out on one "
                                           "machine: it reads one packet per connection, checks and reports it, "
                                           "replies and closes; SIGINT or SIGTERM prints a summary. Exit "
                                           "status 1 when a line of --verdicts or --capture was lost."));
    ParsedOptions parsed;
    commandLine.addOptions(receiverOptions(&parsed.options));
    commandLine.addChecks({[&] {
        if (parsed.options.judge && parsed.options.reply)
            return QStringLiteral("--judge and --reply cannot be used together");
        if (QString error = OptionChecks::together(commandLine.parser, QStringLiteral("tls-cert"), QStringLiteral("tls-key"));
            !error.isEmpty())
            return error;
        return OptionChecks::goesWith(commandLine.parser, {"tls-client-ca"}, QStringLiteral("tls-cert"));
    }});
    parsed.outcome = commandLine.parse(arguments, out);
    parsed.error = CommandLine::bytes(commandLine.error());
    return parsed;
}
