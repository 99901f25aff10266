#include "receiver/Verdicts.h"

QByteArray jsonString(const QByteArray &bytes)
{
    QByteArray text = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte > 126 || c == '"' || c == '\\')
            text += "\\u00" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            text += c;
    }
    return text + '"';
}

QByteArray verdictLine(int packet, const PacketCheck::Result &result)
{
    QByteArray line = "{\"packet\": " + QByteArray::number(packet) +
                      ", \"framed\": " + (result.framed ? "true" : "false") + ", \"id\": " +
                      jsonString(result.recordId) + ", \"verdict\": " + jsonString(result.verdict()) +
                      ", \"findings\": [";
    for (qsizetype i = 0; i < result.findings.size(); ++i) {
        const FieldTable::Finding &f = result.findings[i];
        line += (i ? ", " : "") + QByteArray("{\"kind\": ") + jsonString(f.kind) +
                ", \"field\": " + QByteArray::number(f.field) + ", \"detail\": " + jsonString(f.detail) + '}';
    }
    return line + "]}";
}

bool Verdicts::open(const QString &path, QByteArray *error)
{
    QByteArray reason;
    if (m_file.open(path, false, &reason))
        return true;
    *error = "--verdicts: cannot write \"" + path.toLocal8Bit() + "\": " + reason;
    return false;
}

bool Verdicts::add(int packet, const PacketCheck::Result &result, QByteArray *reason)
{
    if (result.findings.isEmpty())
        ++m_valid;
    else
        ++m_kinds[result.verdict()];
    if (!m_file.isOpen())
        return true;
    return m_file.writeLine(verdictLine(packet, result), reason);
}

QByteArray Verdicts::summaryLine() const
{
    QByteArray line = "verdicts: valid " + QByteArray::number(m_valid);
    for (auto it = m_kinds.cbegin(); it != m_kinds.cend(); ++it)
        line += ", " + it.key() + ' ' + QByteArray::number(it.value());
    return line;
}
