#include "report/ReplyExpectation.h"

#include "report/Outcome.h"

namespace {
const QLatin1String IdField("{id}");

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
    pattern.replace(IdField, QRegularExpression::escape(QString::fromLatin1(id)));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}

std::optional<ReplyExpectation> ReplyExpectation::fromPattern(const QByteArray &pattern, QString *error,
                                                              const QString &option)
{
    // Checked as given, not inside the anchors: "A)|(B" would make a valid
    // but different expression there. The id is escaped, so any id gives a
    // valid expression when one does.
    QString unanchored = QString::fromLatin1(pattern);
    unanchored.replace(IdField, QStringLiteral("0"));
    const QRegularExpression check(unanchored);
    if (!check.isValid()) {
        if (error)
            *error = QStringLiteral("%1: not a valid regular expression: %2 (at character %3 of %4)")
                         .arg(option, check.errorString())
                         .arg(check.patternErrorOffset())
                         .arg(QString::fromLatin1(printable(pattern)));
        return std::nullopt;
    }
    return ReplyExpectation(pattern);
}

bool ReplyExpectation::matches(const QByteArray &reply, const QByteArray &id) const
{
    if (m_literalHead) {
        const qsizetype headSize = m_literalHead->size() + id.size();
        return reply.startsWith(*m_literalHead) && QByteArrayView(reply).sliced(m_literalHead->size()).startsWith(id)
            && m_tail.match(QString::fromLatin1(reply.constData() + headSize, reply.size() - headSize)).hasMatch();
    }
    const QString text = QString::fromLatin1(reply);
    return (m_perRecord ? expression(id) : m_fixed).match(text).hasMatch();
}

QByteArray ReplyExpectation::unexpectedLine(const QByteArray &id, const QByteArray &reply)
{
    return "Event: Unexpected reply to record " + printable(id) + ": " + printable(reply);
}
