#include "report/ReplyExpectation.h"

#include "report/Outcome.h"

namespace {
const QLatin1String IdField("{id}");
// An id as the start-up check puts it in: with a byte that escaping changes.
constexpr char SampleId[] = "0990.1";
}

ReplyExpectation::ReplyExpectation(const QByteArray &pattern)
    : m_pattern(pattern), m_perRecord(pattern.contains(IdField.data()))
{
    if (!m_perRecord)
        m_fixed = expression({});
}

QRegularExpression ReplyExpectation::expression(const QByteArray &id) const
{
    QString pattern = QString::fromLatin1(m_pattern);
    // In a group of its own, the id cannot join what stands next to it:
    // "x{{id}}" stays a literal brace, never a count of the id's digits.
    pattern.replace(IdField, QStringLiteral("(?:%1)").arg(QRegularExpression::escape(QString::fromLatin1(id))));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}

std::optional<ReplyExpectation> ReplyExpectation::fromPattern(const QByteArray &pattern, QString *error)
{
    // Checked as given, not inside the anchors: "A)|(B" would make a valid
    // but different expression there. Then as each record's expression is
    // made, with a sample id: the run must not find out record by record.
    QString unanchored = QString::fromLatin1(pattern);
    unanchored.replace(IdField, QStringLiteral("0"));
    const ReplyExpectation expectation(pattern);
    const QRegularExpression withId = expectation.expression(SampleId);
    const QList<std::tuple<QRegularExpression, QString, QByteArray>> checks{
        {QRegularExpression(unanchored), QString(), pattern},
        {withId, QStringLiteral(" with the id %1 in place of {id}").arg(QLatin1String(SampleId)),
         withId.pattern().toLatin1()}};
    for (const auto &[check, how, shown] : checks) {
        if (!check.isValid()) {
            if (error)
                *error = QStringLiteral("--expect: not a valid regular expression%1: %2 (at character %3 of %4)")
                             .arg(how, check.errorString())
                             .arg(check.patternErrorOffset())
                             .arg(QString::fromLatin1(printable(shown)));
            return std::nullopt;
        }
    }
    return expectation;
}

ReplyExpectation::Match ReplyExpectation::match(const QByteArray &reply, const QByteArray &id) const
{
    const QRegularExpression expression = m_perRecord ? this->expression(id) : m_fixed;
    if (!expression.isValid())
        return Match::GaveUp;
    // A match that ran out of the engine's limits is no match and not valid.
    const QRegularExpressionMatch match = expression.match(QString::fromLatin1(reply));
    if (match.hasMatch())
        return Match::Yes;
    return match.isValid() ? Match::No : Match::GaveUp;
}

namespace {
// The reply as a log line shows it: printable, and short whatever its length.
QByteArray shownReply(const QByteArray &reply)
{
    QByteArray text = printable(reply.left(OutcomeRecord::ReplyKeptBytes));
    if (reply.size() > OutcomeRecord::ReplyKeptBytes)
        text += "... (" + QByteArray::number(reply.size()) + " bytes)";
    return text;
}
} // namespace

QByteArray ReplyExpectation::unexpectedLine(const QByteArray &id, const QByteArray &reply)
{
    return "Event: Unexpected reply to record " + printable(id) + ": " + shownReply(reply);
}

QByteArray ReplyExpectation::gaveUpLine(const QByteArray &id, const QByteArray &reply)
{
    return "Event: Reply to record " + printable(id)
        + " not judged: the pattern engine gave up on it (too much backtracking): " + shownReply(reply);
}
