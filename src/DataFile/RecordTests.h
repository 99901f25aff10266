#pragma once

#include <QByteArray>
#include <optional>

// The date test: a calendar date, a time of day, or a date followed by a
// time. "2007-11-14 13:38:24" passes; so do "14/11/2007", "2007-11-14",
// "13:38", "1:38:24 PM". An empty text fails, and so does an impossible date
// or time.
bool isDateText(const QByteArray &text);

// The number test: a decimal number, blanks around it allowed, an optional
// sign, digits with an optional decimal fraction. "890302" passes; an empty
// text, or one with a '|', fails.
bool isNumberText(const QByteArray &text);

// A whole number for a header field: blanks around it and a sign allowed, no
// fraction. Empty or anything else gives no value.
std::optional<int> wholeNumber(const QByteArray &text);
