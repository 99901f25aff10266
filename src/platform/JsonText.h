#pragma once

#include <QByteArray>

// JSON text made of bytes, for the lines the programs write by hand:
//   {"seq": 1, "id": "00000001", "findings": [{"kind": "bad-flag", "field": 39}]}
// with ", " between members and ": " after each name. A string is any bytes:
// each byte outside printable ASCII, '"' and '\' as \u00XX (bytes above 127
// taken as Latin-1), so that the text is ASCII and a reader gets every byte
// back.
namespace Json {

// A JSON string of `bytes`, quotes included.
QByteArray string(const QByteArray &bytes);

// An object, member by member; text() closes it.
class Object
{
public:
    Object() { m_text.reserve(96); }
    Object &number(const char *name, qint64 value);
    Object &boolean(const char *name, bool value);
    Object &string(const char *name, const QByteArray &bytes);
    // `json` as it is: an array or object already made.
    Object &value(const char *name, const QByteArray &json);
    QByteArray text() const { return m_text + '}'; }

private:
    QByteArray &member(const char *name);

    QByteArray m_text = "{";
};

// An array, element by element; text() closes it.
class Array
{
public:
    Array &value(const QByteArray &json);
    QByteArray text() const { return m_text + ']'; }

private:
    QByteArray m_text = "[";
};

} // namespace Json
