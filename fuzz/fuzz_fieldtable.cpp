// The field table's check on arbitrary records: a record without 53 fields
// gets the one field-count finding; otherwise at most one finding per field,
// in field order, each the field's own check, and the record with those
// fields emptied is valid (any field may be empty).

#include "FuzzCheck.h"

#include "testpackets/FieldTable.h"

#include <QByteArray>
#include <QList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray record(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const QList<FieldTable::Finding> findings = FieldTable::checkRecord(record);
    const QList<QByteArray> values = record.split('|');

    if (values.size() != FieldTable::FieldCount) {
        FUZZ_CHECK(findings.size() == 1);
        FUZZ_CHECK(findings.first().kind == FieldTable::Kind::fieldCount(values.size()));
        FUZZ_CHECK(findings.first().field == 0);
        return 0;
    }

    QList<QByteArray> emptied = values;
    int previous = 0;
    for (const FieldTable::Finding &finding : findings) {
        FUZZ_CHECK(finding.field > previous && finding.field <= FieldTable::FieldCount);
        previous = finding.field;
        const std::optional<FieldTable::Finding> own =
            FieldTable::checkField(finding.field, values.at(finding.field - 1));
        FUZZ_CHECK(own && *own == finding);
        FUZZ_CHECK(printableAscii(finding.detail));
        emptied[finding.field - 1].clear();
    }
    for (int number = 1; number <= FieldTable::FieldCount; ++number) {
        if (!emptied.at(number - 1).isEmpty())
            FUZZ_CHECK(!FieldTable::checkField(number, values.at(number - 1)));
    }
    FUZZ_CHECK(FieldTable::checkRecord(emptied.join('|')).isEmpty());
    return 0;
}
