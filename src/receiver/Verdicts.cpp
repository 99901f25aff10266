#include "receiver/Verdicts.h"

#include "platform/JsonText.h"

QByteArray verdictLine(int packet, const PacketCheck::Result &result)
{
    Json::Array findings;
    for (const FieldTable::Finding &f : result.findings)
        findings.value(Json::Object()
                           .string("kind", f.kind)
                           .number("field", f.field)
                           .string("detail", f.detail)
                           .text());
    return Json::Object()
        .number("packet", packet)
        .boolean("framed", result.framed)
        .string("id", result.recordId)
        .string("verdict", result.verdict())
        .value("findings", findings.text())
        .text();
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
