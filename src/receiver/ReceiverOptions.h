#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <optional>

// The receiver's command line:
//   ipnd-receiver [--bind ADDR] [--port N] [--reply TEXT]
//                 [--misbehave none|silent|close|split|slow:MS] [--save DIR] [--verdicts FILE] [--quiet]
// Each option also takes its value as --option=VALUE; a repeated option's
// last value counts.
struct ReceiverOptions
{
    enum class Misbehaviour { None, Silent, Close, Split, Slow };

    static constexpr quint16 DefaultPort = 50003;
    static constexpr int LongestDelay = 600000; // slow:MS, 10 minutes at most

    QHostAddress bind{QHostAddress::LocalHost};
    quint16 port = DefaultPort;           // 0: any free port
    std::optional<QByteArray> reply;      // none: "ACK <record id>"
    Misbehaviour misbehaviour = Misbehaviour::None;
    int delay = 0;                        // slow:MS
    QString saveDirectory;                // empty: packets are not saved
    QString verdictsFile;                 // empty: no JSON line per packet
    bool quiet = false;                   // no line per packet
    bool help = false;                    // --help / -h: print the usage line only
};

struct ParsedOptions
{
    ReceiverOptions options;
    QByteArray error; // one line naming the argument; empty when the arguments are good

    bool ok() const { return error.isEmpty(); }
};

// The arguments after the program name, as the bytes they were given in.
ParsedOptions parseReceiverOptions(const QList<QByteArray> &arguments);

QByteArray receiverUsage();
