#pragma once

#include "platform/CommandLine.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

// The receiver's command line:
//   ipnd-receiver [--bind ADDR] [--port N] [--reply TEXT]
//                 [--misbehave none|silent|close|split|slow:MS] [--idle-timeout SECONDS]
//                 [--save DIR] [--verdicts FILE] [--max-packet BYTES]
//                 [--max-connections N] [--capture FILE] [--bare-gap MS]
//                 [--port-file FILE] [--tls-cert FILE --tls-key FILE [--tls-client-ca FILE]]
//                 [--judge] [--quiet]
// Each option also takes its value as --option=VALUE; an option given twice
// is refused.
struct ReceiverOptions
{
    enum class Misbehaviour { None, Silent, Close, Split, Slow };

    static constexpr quint16 DefaultPort = 50003;
    static constexpr int LongestDelay = 600000;       // slow:MS, 10 minutes at most
    static constexpr int DefaultIdleTimeout = 30000;  // ms
    static constexpr int LongestIdleTimeout = 86400000; // ms, a day
    static constexpr qsizetype DefaultMaxPacket = 1 << 20;
    static constexpr qsizetype LargestMaxPacket = 1 << 30;
    static constexpr int DefaultMaxConnections = 1000;
    static constexpr int LargestMaxConnections = 1000000;
    static constexpr int DefaultBareGap = 100;   // ms
    static constexpr int LongestBareGap = 60000; // ms

    QHostAddress bind{QHostAddress::LocalHost};
    quint16 port = DefaultPort;           // 0: any free port
    std::optional<QByteArray> reply;      // escapes taken; "{id}" stands for the record id; none: "ACK <record id>"
    Misbehaviour misbehaviour = Misbehaviour::None;
    int delay = 0;                        // slow:MS
    int idleTimeout = DefaultIdleTimeout; // ms a connection may send nothing; 0: for ever
    QString saveDirectory;                // empty: packets are not saved
    QString verdictsFile;                 // empty: no JSON line per packet
    qsizetype maxPacket = DefaultMaxPacket; // bytes: a longer packet is too-large
    int maxConnections = DefaultMaxConnections; // exchanges at once; the rest wait in the backlog
    QString captureFile;                  // empty: no capture; "-": standard output
    int bareGap = DefaultBareGap;         // ms of quiet that end a record that may have ended
    QString portFile;                     // empty: the port is only printed
    QString tlsCert;                      // PEM; with tlsKey, connections speak TLS
    QString tlsKey;
    QString tlsClientCa;                  // PEM; a client certificate from it is required
    bool judge = false;                   // ACK a valid record, NAK any other
    bool quiet = false;                   // no line per packet

    bool captureToStdout() const { return captureFile == QLatin1String("-"); }
};

struct ParsedOptions
{
    using Outcome = CommandLine::Outcome;

    ReceiverOptions options;
    Outcome outcome = Outcome::Run;
    QByteArray error; // one line naming the argument when the arguments are bad

    bool ok() const { return outcome != Outcome::Error; }
};

// The whole command line, the program's name first, one character per byte
// (CommandLine::byteArguments). --help and --version are printed to `out`.
ParsedOptions parseReceiverOptions(const QStringList &arguments, std::FILE *out = stdout);

// TEXT of --reply with its escapes \r, \n, \t and \\ taken; any other
// backslash stays as typed.
QByteArray replyEscapesTaken(const QByteArray &text);

// The one-line usage printed after an error.
QByteArray receiverUsage();
