#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// ASCII digits in record bytes, read per field and per packet: no locale, and
// no copy of the bytes.
inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Nothing is not a number: empty bytes are not all digits.
inline bool allDigits(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (!isDigit(c))
            return false;
    }
    return !bytes.isEmpty();
}

// The value of bytes the caller has found to be digits, at most 18 of them so
// that it cannot overflow; 0 for none.
inline qint64 digitsValue(QByteArrayView digits)
{
    qint64 value = 0;
    for (const char c : digits)
        value = value * 10 + (c - '0');
    return value;
}
