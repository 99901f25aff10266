#include "platform/Convert.h"

#include "platform/PlatformError.h"

#include <QRegularExpression>

#include <limits>

namespace {

qint64 toWholeNumber(const QString &text, qint64 min, qint64 max)
{
    // Plain digits, such as a port read at every connection, need no match.
    if (const qsizetype n = text.size(); n > 0 && n <= 18) {
        qint64 value = 0;
        const QChar *c = text.constData();
        qsizetype i = 0;
        for (; i < n && c[i] >= u'0' && c[i] <= u'9'; ++i)
            value = value * 10 + (c[i].unicode() - u'0');
        if (i == n && value >= min && value <= max)
            return value;
    }
    static const QRegularExpression wholeNumber(QStringLiteral("^[+-]?[0-9]+$"));
    const QString trimmed = text.trimmed();
    if (!wholeNumber.match(trimmed).hasMatch())
        throw PlatformError{ErrorNumber::TypeMismatch,
                            QStringLiteral("Type mismatch: \"%1\" is not a whole number").arg(text)};
    bool ok = false;
    const qint64 value = trimmed.toLongLong(&ok, 10);
    if (!ok || value < min || value > max)
        throw PlatformError{ErrorNumber::Overflow,
                            QStringLiteral("Overflow: %1 is outside %2 to %3").arg(trimmed).arg(min).arg(max)};
    return value;
}

} // namespace

qint16 toInt16(const QString &text)
{
    return qint16(toWholeNumber(text, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()));
}

qint32 toInt32(const QString &text)
{
    return qint32(toWholeNumber(text, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}
