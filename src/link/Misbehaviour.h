#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// How a source writes its packet when told to misbehave, for trying out how
// a receiver copes: a byte at a time, in two parts, late, with its sending
// side shut after the packet, or reset part-way.
struct Misbehaviour
{
    enum class Mode { None, Trickle, Split, Delay, HalfClose, Reset };

    static constexpr int LongestMs = 600000;

    Mode mode = Mode::None;
    int ms = 0;    // trickle, split and delay
    int bytes = 0; // split and reset

    // "none", "trickle:MS", "split:BYTES:MS", "delay:MS", "half-close",
    // "reset:BYTES"; none, with a one-line reason in *error, for anything else.
    static std::optional<Misbehaviour> fromText(const QString &text, QString *error);

    // The packet as it is written: pieces, each after its wait in ms (from
    // the connection's coming up for the first). Half-close shuts the
    // sending side after the last piece, reset sends a reset instead of the
    // rest. ipnd-send's link and the conformance suite's delivery cases
    // write the same pieces.
    QList<std::pair<int, QByteArray>> pieces(const QByteArray &packet) const;
};
