#include "report/Outcome.h"

QString outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Answered:
        return QStringLiteral("answered");
    case Outcome::Unexpected:
        return QStringLiteral("unexpected");
    case Outcome::Unmatched:
        return QStringLiteral("unmatched");
    case Outcome::Unanswered:
        return QStringLiteral("unanswered");
    case Outcome::NotSent:
        return QStringLiteral("not-sent");
    case Outcome::Rejected:
        return QStringLiteral("rejected");
    }
    return {};
}

bool isFailure(Outcome outcome)
{
    return outcome == Outcome::Unexpected || outcome == Outcome::Unmatched || outcome == Outcome::Unanswered
        || outcome == Outcome::NotSent;
}

bool wasSent(Outcome outcome)
{
    return outcome == Outcome::Answered || outcome == Outcome::Unexpected || outcome == Outcome::Unmatched
        || outcome == Outcome::Unanswered;
}

void OutcomeRecord::keepReply(const QByteArray &whole)
{
    replyBytes = whole.size();
    reply = whole.left(ReplyKeptBytes);
}

QString isoTime(const QDateTime &time)
{
    if (!time.isValid())
        return {};
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QByteArray recordId(const QByteArray &record)
{
    const qsizetype bar = record.indexOf('|');
    return bar < 0 ? record : record.left(bar);
}

QByteArray printable(const QByteArray &bytes)
{
    static const char Hex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\\')
            out += "\\\\";
        else if (b == '\r')
            out += "\\r";
        else if (b == '\n')
            out += "\\n";
        else if (b == '\t')
            out += "\\t";
        else if (b >= 0x20 && b <= 0x7e)
            out += c;
        else
            out += QByteArray("\\x") + Hex[b >> 4] + Hex[b & 0xf];
    }
    return out;
}

void RunFigures::count(Outcome outcome)
{
    if (outcome == Outcome::Rejected) {
        ++rejected;
        return;
    }
    ++read;
    switch (outcome) {
    case Outcome::Answered:
        ++sent, ++answered;
        break;
    case Outcome::Unexpected:
    case Outcome::Unmatched: // no verdict is no pass
        ++sent, ++unexpected;
        break;
    case Outcome::Unanswered:
        ++sent, ++unanswered;
        break;
    case Outcome::NotSent:
        ++notSent;
        break;
    case Outcome::Rejected:
        break;
    }
}
