#pragma once

#include <QString>

// Text to whole number, as the operator's fields are read: decimal digits with
// an optional sign and surrounding blanks. Anything else throws a
// PlatformError (TypeMismatch); a number outside the type's range throws
// Overflow.
qint16 toInt16(const QString &text);
qint32 toInt32(const QString &text);
