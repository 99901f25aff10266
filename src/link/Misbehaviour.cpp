#include "link/Misbehaviour.h"

#include <QStringList>

namespace {
std::optional<int> count(const QString &text, int most)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok && value >= 0 && value <= most ? std::optional<int>(value) : std::nullopt;
}
} // namespace

std::optional<Misbehaviour> Misbehaviour::fromText(const QString &text, QString *error)
{
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    // A mode is named in any letter case, as every choice on a command line.
    const QString name = parts.constFirst().toLower();
    Misbehaviour m;
    const auto numbers = [&](int wanted) { return parts.size() == wanted + 1; };
    std::optional<int> a;
    std::optional<int> b;
    if (name == QLatin1String("none") && numbers(0))
        return m;
    if (name == QLatin1String("half-close") && numbers(0)) {
        m.mode = Mode::HalfClose;
        return m;
    }
    if ((name == QLatin1String("trickle") || name == QLatin1String("delay")) && numbers(1)
        && (a = count(parts[1], LongestMs))) {
        m.mode = name == QLatin1String("trickle") ? Mode::Trickle : Mode::Delay;
        m.ms = *a;
        return m;
    }
    if (name == QLatin1String("split") && numbers(2) && (a = count(parts[1], 1 << 30)) &&
        (b = count(parts[2], LongestMs))) {
        m.mode = Mode::Split;
        m.bytes = *a;
        m.ms = *b;
        return m;
    }
    if (name == QLatin1String("reset") && numbers(1) && (a = count(parts[1], 1 << 30))) {
        m.mode = Mode::Reset;
        m.bytes = *a;
        return m;
    }
    *error = QStringLiteral("--misbehave: \"%1\" is not none, trickle:MS, split:BYTES:MS, delay:MS, half-close or "
                            "reset:BYTES (MS at most 600000)")
                 .arg(text);
    return std::nullopt;
}

QList<std::pair<int, QByteArray>> Misbehaviour::pieces(const QByteArray &packet) const
{
    switch (mode) {
    case Mode::Trickle: {
        QList<std::pair<int, QByteArray>> bytes;
        for (qsizetype i = 0; i < packet.size(); ++i)
            bytes.append({i ? ms : 0, packet.mid(i, 1)});
        return bytes;
    }
    case Mode::Split:
        return {{0, packet.left(bytes)}, {ms, packet.mid(bytes)}};
    case Mode::Delay:
        return {{ms, packet}};
    case Mode::Reset:
        return {{0, packet.left(bytes)}};
    case Mode::HalfClose:
    case Mode::None:
        break;
    }
    return {{0, packet}};
}
