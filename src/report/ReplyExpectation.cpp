#include "report/ReplyExpectation.h"

#include "report/Outcome.h"

namespace {
const QLatin1String IdField("{id}");
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
    pattern.replace(IdField, QRegularExpression::escape(QString::fromLatin1(id)));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}

std::optional<ReplyExpectation> ReplyExpectation::fromPattern(const QByteArray &pattern, QString *error)
{
    // Checked as given, not inside the anchors: "A)|(B" would make a valid
    // but different expression there. The id is escaped, so any id gives a
    // valid expression when one does.
    QString unanchored = QString::fromLatin1(pattern);
    unanchored.replace(IdField, QStringLiteral("0"));
    const QRegularExpression check(unanchored);
    if (!check.isValid()) {
        if (error)
            *error = QStringLiteral("--expect: not a valid regular expression: %1 (at character %2 of %3)")
                         .arg(check.errorString())
                         .arg(check.patternErrorOffset())
                         .arg(QString::fromLatin1(printable(pattern)));
        return std::nullopt;
    }
    return ReplyExpectation(pattern);
}

bool ReplyExpectation::matches(const QByteArray &reply, const QByteArray &id) const
{
    const QString text = QString::fromLatin1(reply);
    return (m_perRecord ? expression(id) : m_fixed).match(text).hasMatch();
}

QByteArray ReplyExpectation::unexpectedLine(const QByteArray &id, const QByteArray &reply)
{
    return "Event: Unexpected reply to record " + printable(id) + ": " + printable(reply);
}
