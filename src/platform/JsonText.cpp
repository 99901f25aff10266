#include "platform/JsonText.h"

namespace {

void appendString(QByteArray &out, const QByteArray &bytes)
{
    static constexpr char Hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte > 126 || c == '"' || c == '\\') {
            const char escape[] = {'\\', 'u', '0', '0', Hex[byte >> 4], Hex[byte & 15]};
            out.append(escape, sizeof escape);
        } else {
            out += c;
        }
    }
    out += '"';
}

} // namespace

namespace Json {

QByteArray string(const QByteArray &bytes)
{
    QByteArray text;
    text.reserve(bytes.size() + 2);
    appendString(text, bytes);
    return text;
}

QByteArray &Object::member(const char *name)
{
    if (m_text.size() > 1)
        m_text += ", ";
    m_text += '"';
    m_text += name;
    m_text += "\": ";
    return m_text;
}

Object &Object::number(const char *name, qint64 value)
{
    member(name) += QByteArray::number(value);
    return *this;
}

Object &Object::boolean(const char *name, bool value)
{
    member(name) += value ? "true" : "false";
    return *this;
}

Object &Object::string(const char *name, const QByteArray &bytes)
{
    appendString(member(name), bytes);
    return *this;
}

Object &Object::value(const char *name, const QByteArray &json)
{
    member(name) += json;
    return *this;
}

Array &Array::value(const QByteArray &json)
{
    if (m_text.size() > 1)
        m_text += ", ";
    m_text += json;
    return *this;
}

} // namespace Json
