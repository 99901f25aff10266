#include "platform/Convert.h"

#include "platform/PlatformError.h"

#include <QRegularExpression>

#include <limits>

namespace {

qint64 toWholeNumber(const QString &text, qint64 min, qint64 max)
{
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
