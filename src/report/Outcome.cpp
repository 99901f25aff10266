#include "report/Outcome.h"

#include <algorithm>

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
    case Outcome::Accepted:
        return QStringLiteral("accepted");
    case Outcome::Refused:
        return QStringLiteral("refused");
    case Outcome::FalseAccept:
        return QStringLiteral("false-accept");
    case Outcome::FalseRefuse:
        return QStringLiteral("false-refuse");
    }
    return {};
}

bool isFailure(Outcome outcome)
{
    return outcome == Outcome::Unexpected || outcome == Outcome::Unmatched || outcome == Outcome::Unanswered
        || outcome == Outcome::NotSent || outcome == Outcome::FalseAccept || outcome == Outcome::FalseRefuse;
}

bool isFailure(const OutcomeRecord &record)
{
    return (isFailure(record.outcome) && !record.dataFault) || (record.outcome == Outcome::Rejected && record.unplanned);
}

bool wasAnswered(Outcome outcome)
{
    return outcome == Outcome::Answered || outcome == Outcome::Unexpected || outcome == Outcome::Unmatched
        || outcome == Outcome::Accepted || outcome == Outcome::Refused || outcome == Outcome::FalseAccept || outcome == Outcome::FalseRefuse;
}

bool wasSent(Outcome outcome)
{
    return wasAnswered(outcome) || outcome == Outcome::Unanswered;
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

void RunCounts::settled(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Answered:
    case Outcome::Accepted:
    case Outcome::Refused:
        ++answered;
        break;
    case Outcome::Unexpected:
    case Outcome::Unmatched:
    case Outcome::FalseAccept:
    case Outcome::FalseRefuse:
        ++unexpected;
        break;
    case Outcome::Unanswered:
        ++unanswered;
        break;
    case Outcome::NotSent:
        ++notSent;
        break;
    case Outcome::Rejected:
        break;
    }
}

void RunCounts::count(const OutcomeRecord &record)
{
    if (record.outcome == Outcome::Rejected) {
        ++rejected;
        return;
    }
    ++read;
    sent += wasSent(record.outcome);
    settled(record.outcome);
}

void RunFigures::count(const OutcomeRecord &record)
{
    byExpect.count(record);
    counts.count(record);
}

QString RunFigures::interruptedText() const
{
    return planned ? QStringLiteral("Interrupted after %1 of %2 records").arg(handled).arg(*planned)
                   : QStringLiteral("Interrupted after %1 records").arg(handled);
}

const QList<ExpectCounts::Column> &ExpectCounts::columns()
{
    static const QList<Column> Columns{
        {Outcome::Accepted, &ExpectCounts::accepted},
        {Outcome::Refused, &ExpectCounts::refused},
        {Outcome::FalseAccept, &ExpectCounts::falseAccept},
        {Outcome::FalseRefuse, &ExpectCounts::falseRefuse},
        {Outcome::Unexpected, &ExpectCounts::unexpected},
        {Outcome::Unanswered, &ExpectCounts::unanswered},
        {Outcome::NotSent, &ExpectCounts::notSent},
        {Outcome::Rejected, &ExpectCounts::rejected},
    };
    return Columns;
}

void ExpectTable::count(const OutcomeRecord &record)
{
    if (record.expect.isEmpty())
        return;
    ExpectCounts &row = m_rows[record.expect];
    if (wasSent(record.outcome))
        ++row.sent;
    for (const ExpectCounts::Column &column : ExpectCounts::columns()) {
        if (column.outcome == record.outcome)
            ++(row.*column.count);
    }
}

QList<std::pair<QByteArray, ExpectCounts>> ExpectTable::rows() const
{
    QList<std::pair<QByteArray, ExpectCounts>> rows;
    const QByteArray valid = "valid";
    if (const auto it = m_rows.constFind(valid); it != m_rows.cend())
        rows.append({valid, *it});
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        if (it.key() != valid)
            rows.append({it.key(), it.value()});
    }
    return rows;
}

QList<std::pair<QString, qint64>> replyCounts(const RunCounts &counts, const ExpectTable &byExpect)
{
    if (byExpect.isEmpty())
        return {{outcomeName(Outcome::Answered), counts.answered}, {outcomeName(Outcome::Unexpected), counts.unexpected}};
    ExpectCounts total;
    for (const auto &[kind, counts] : byExpect.rows()) {
        total.accepted += counts.accepted;
        total.refused += counts.refused;
        total.falseAccept += counts.falseAccept;
        total.falseRefuse += counts.falseRefuse;
    }
    // Replies the pattern engine gave up on count with those neither pattern took.
    return {{outcomeName(Outcome::Accepted), total.accepted},
            {outcomeName(Outcome::Refused), total.refused},
            {outcomeName(Outcome::FalseAccept), total.falseAccept},
            {outcomeName(Outcome::FalseRefuse), total.falseRefuse},
            {outcomeName(Outcome::Unexpected), counts.unexpected - total.falseAccept - total.falseRefuse}};
}

QByteArray ExpectTable::text() const
{
    const QList<std::pair<QByteArray, ExpectCounts>> table = rows();
    // A kind comes from the manifest as it is: shown printable on a terminal.
    QList<QByteArray> kinds;
    qsizetype kindWidth = qsizetype(qstrlen("by expect"));
    for (const auto &[kind, counts] : table)
        kindWidth = std::max(kindWidth, kinds.emplace_back(printable(kind)).size());
    QByteArray out = QByteArray("by expect").leftJustified(kindWidth) + "  sent";
    for (const ExpectCounts::Column &column : ExpectCounts::columns())
        out += ' ' + outcomeName(column.outcome).toLatin1();
    out += '\n';
    for (qsizetype row = 0; row < table.size(); ++row) {
        const ExpectCounts &counts = table[row].second;
        out += kinds[row].leftJustified(kindWidth) + ' ' + QByteArray::number(counts.sent).rightJustified(5);
        for (const ExpectCounts::Column &column : ExpectCounts::columns())
            out += ' ' + QByteArray::number(counts.*column.count).rightJustified(outcomeName(column.outcome).size());
        out += '\n';
    }
    return out;
}
