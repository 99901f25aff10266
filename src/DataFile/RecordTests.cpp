#include "DataFile/RecordTests.h"

#include "platform/Digits.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

namespace {

bool validTime(const QRegularExpressionMatch &m, int first)
{
    int hour = m.captured(first).toInt();
    const int minute = m.captured(first + 1).toInt();
    const int second = m.captured(first + 2).isEmpty() ? 0 : m.captured(first + 2).toInt();
    const QString meridiem = m.captured(first + 3).trimmed().toUpper();
    if (!meridiem.isEmpty()) {
        if (hour < 1 || hour > 12)
            return false;
        hour = hour % 12 + (meridiem == QLatin1String("PM") ? 12 : 0);
    }
    return QTime::isValid(hour, minute, second);
}

// Year first, or day first with month-first as the fallback; one separator
// throughout.
bool validDate(const QRegularExpressionMatch &m)
{
    if (!m.captured(1).isEmpty())
        return QDate::isValid(m.captured(1).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
    const int a = m.captured(5).toInt();
    const int b = m.captured(7).toInt();
    const int year = m.captured(8).toInt();
    return QDate::isValid(year, b, a) || QDate::isValid(year, a, b);
}

// The shape that every log time stamp has, "yyyy-MM-dd HH:mm:ss" with '-',
// '/' or '.' between the date's parts: read directly, it costs a fraction of
// the full match that other shapes go through. Empty when the text has
// another shape.
std::optional<bool> stampIsDate(const QByteArray &text)
{
    if (text.size() != 19)
        return std::nullopt;
    const char *p = text.constData();
    static constexpr int digitAt[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
    for (const int i : digitAt) {
        if (!isDigit(p[i]))
            return std::nullopt;
    }
    if ((p[4] != '-' && p[4] != '/' && p[4] != '.') || p[7] != p[4] || p[10] != ' ' || p[13] != ':' || p[16] != ':')
        return std::nullopt;
    const auto number = [p](qsizetype from, qsizetype n) { return int(digitsValue(QByteArrayView(p + from, n))); };
    return QDate::isValid(number(0, 4), number(5, 2), number(8, 2))
        && QTime::isValid(number(11, 2), number(14, 2), number(17, 2));
}

} // namespace

bool isDateText(const QByteArray &text)
{
    static const QString date = QStringLiteral(
        R"((?:(\d{4})([-/.])(\d{1,2})\2(\d{1,2})|(\d{1,2})([-/.])(\d{1,2})\6(\d{4})))");
    static const QString time = QStringLiteral(R"((\d{1,2}):(\d{2})(?::(\d{2}))?(\s*[AaPp][Mm])?)");
    static const QRegularExpression dateTime(QStringLiteral(R"(^\s*%1(?:[ T]+%2)?\s*$)").arg(date, time));
    static const QRegularExpression timeOnly(QStringLiteral(R"(^\s*%1\s*$)").arg(time));

    if (const std::optional<bool> stamp = stampIsDate(text))
        return *stamp;
    const QString s = QString::fromLatin1(text);
    if (const QRegularExpressionMatch m = dateTime.match(s); m.hasMatch())
        return validDate(m) && (m.captured(9).isEmpty() || validTime(m, 9));
    if (const QRegularExpressionMatch m = timeOnly.match(s); m.hasMatch())
        return validTime(m, 1);
    return false;
}

bool isNumberText(const QByteArray &text)
{
    // Digits alone, the usual case, need no match.
    if (allDigits(text))
        return true;
    static const QRegularExpression number(QStringLiteral(R"(^ *[+-]?(?:\d+(?:\.\d*)?|\.\d+) *$)"));
    return number.match(QString::fromLatin1(text)).hasMatch();
}

std::optional<int> wholeNumber(const QByteArray &text)
{
    static const QRegularExpression whole(QStringLiteral(R"(^ *[+-]?\d+ *$)"));
    if (!whole.match(QString::fromLatin1(text)).hasMatch())
        return std::nullopt;
    return text.trimmed().toInt();
}
