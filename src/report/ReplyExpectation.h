#pragma once

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <optional>

// --expect PATTERN (and --accept, --refuse): a regular expression that each
// whole reply must match. "{id}" in it stands for the id of the record sent,
// matched literally. Pattern, id and reply are taken byte for byte (one
// character per byte), so that any byte the receiver sends can be matched.
class ReplyExpectation
{
public:
    // None, with a one-line reason naming `option` in `error`, when the
    // pattern is not a valid regular expression.
    static std::optional<ReplyExpectation> fromPattern(const QByteArray &pattern, QString *error,
                                                       const QString &option = QStringLiteral("--expect"));

    enum class Match {
        Yes,
        No,
        GaveUp, // the engine could not finish (too much backtracking): no verdict
    };
    Match match(const QByteArray &reply, const QByteArray &id) const;
    bool matches(const QByteArray &reply, const QByteArray &id) const { return match(reply, id) == Match::Yes; }
    QByteArray pattern() const { return m_pattern; }

    // The log line for a reply that did not match.
    static QByteArray unexpectedLine(const QByteArray &id, const QByteArray &reply);
    // The log line for a reply the engine gave up on.
    static QByteArray gaveUpLine(const QByteArray &id, const QByteArray &reply);

private:
    explicit ReplyExpectation(const QByteArray &pattern);
    QRegularExpression expression(const QByteArray &id) const;

    QByteArray m_pattern;
    bool m_perRecord = false;
    QRegularExpression m_fixed; // the compiled pattern when it has no {id}
    // A pattern that is plain text up to its one {id} ("ACK {id}", "NAK
    // {id}( .*)?") needs no expression compiled per reply: the reply starts
    // with the text and the id, and the rest, compiled once, matches what
    // follows them.
    std::optional<QByteArray> m_literalHead;
    QRegularExpression m_tail;
};
