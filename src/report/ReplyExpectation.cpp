#include "report/ReplyExpectation.h"

#include "report/Outcome.h"

namespace {
const QLatin1String IdField("{id}");
// An id as the start-up check puts it in: with a byte that escaping changes.
constexpr char SampleId[] = "0990.1";

bool isPlainText(QByteArrayView text)
{
    for (const char c : text) {
        if (QByteArrayView("\\^$.|?*+()[]{}").contains(c))
            return false;
    }
    return true;
}

// Whether the rest of a pattern after its {id} means the same compiled alone,
// at the start of what follows the id: no alternative that would take in the
// head, no quantifier of the id's last character, nothing that looks back.
bool standsAlone(const QByteArray &tail)
{
    if (tail.startsWith('*') || tail.startsWith('+') || tail.startsWith('?') || tail.startsWith('{'))
        return false;
    for (const char *backward : {"|", "(?<", "\\b", "\\B", "\\A", "\\G", "\\K", "{id}"}) {
        if (tail.contains(backward))
            return false;
    }
    for (qsizetype i = tail.indexOf('^'); i >= 0; i = tail.indexOf('^', i + 1)) {
        if (i == 0 || tail[i - 1] != '[')
            return false;
    }
    return true;
}
} // namespace

ReplyExpectation::ReplyExpectation(const QByteArray &pattern)
    : m_pattern(pattern), m_perRecord(pattern.contains(IdField.data()))
{
    if (!m_perRecord) {
        m_fixed = expression({});
        return;
    }
    const qsizetype at = pattern.indexOf(IdField.data());
    const QByteArray tail = pattern.mid(at + IdField.size());
    if (isPlainText(QByteArrayView(pattern).first(at)) && standsAlone(tail)) {
        m_tail = QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(tail)));
        if (m_tail.isValid())
            m_literalHead = pattern.left(at);
    }
}

QRegularExpression ReplyExpectation::expression(const QByteArray &id) const
{
    QString pattern = QString::fromLatin1(m_pattern);
    // In a group of its own, the id cannot join what stands next to it:
    // "x{{id}}" stays a literal brace, never a count of the id's digits.
    pattern.replace(IdField, QStringLiteral("(?:%1)").arg(QRegularExpression::escape(QString::fromLatin1(id))));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}

std::optional<ReplyExpectation> ReplyExpectation::fromPattern(const QByteArray &pattern, QString *error,
                                                              const QString &option)
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
                *error = QStringLiteral("%1: not a valid regular expression%2: %3 (at character %4 of %5)")
                             .arg(option, how, check.errorString())
                             .arg(check.patternErrorOffset())
                             .arg(QString::fromLatin1(printable(shown)));
            return std::nullopt;
        }
    }
    return expectation;
}

ReplyExpectation::Match ReplyExpectation::match(const QByteArray &reply, const QByteArray &id) const
{
    QRegularExpressionMatch match;
    if (m_literalHead) {
        const qsizetype headSize = m_literalHead->size() + id.size();
        if (!reply.startsWith(*m_literalHead) || !QByteArrayView(reply).sliced(m_literalHead->size()).startsWith(id))
            return Match::No;
        match = m_tail.match(QString::fromLatin1(reply.constData() + headSize, reply.size() - headSize));
    } else {
        const QRegularExpression expression = m_perRecord ? this->expression(id) : m_fixed;
        if (!expression.isValid())
            return Match::GaveUp;
        match = expression.match(QString::fromLatin1(reply));
    }
    if (match.hasMatch())
        return Match::Yes;
    // A match that ran out of the engine's limits is no match and not valid.
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
