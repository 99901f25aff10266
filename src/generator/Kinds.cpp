#include "generator/Kinds.h"

namespace {

struct Named
{
    GenKind kind;
    const char *name;
};

constexpr Named Names[] = {
    {GenKind::FieldCount52, "field-count-52"},
    {GenKind::FieldCount54, "field-count-54"},
    {GenKind::TooWide, "too-wide"},
    {GenKind::BadChar, "bad-char"},
    {GenKind::NotDigits, "not-digits"},
    {GenKind::BadDate, "bad-date"},
    {GenKind::BadFlag, "bad-flag"},
    {GenKind::BadState, "bad-state"},
    {GenKind::BadCode, "bad-code"},
    {GenKind::BadTimestamp, "bad-timestamp"},
    {GenKind::BadHeader, "bad-header"},
    {GenKind::PartOutOfRange, "part-out-of-range"},
    {GenKind::DuplicatePart, "duplicate-part"},
    {GenKind::MissingPart, "missing-part"},
    {GenKind::TerminalChange, "terminal-change"},
};

} // namespace

QByteArray kindName(GenKind kind)
{
    for (const Named &n : Names) {
        if (n.kind == kind)
            return n.name;
    }
    return {};
}

std::optional<GenKind> kindFromName(const QByteArray &name)
{
    for (const Named &n : Names) {
        if (name == n.name)
            return n.kind;
    }
    return {};
}

bool isRecordKind(GenKind kind)
{
    return kind <= GenKind::BadCode;
}

bool fitsFormat(GenKind kind, DataFormat format)
{
    if (isRecordKind(kind) || kind == GenKind::BadHeader)
        return true;
    return (kind == GenKind::BadTimestamp) == (format == DataFormat::RawLog);
}

QList<GenKind> kindsFor(DataFormat format)
{
    QList<GenKind> kinds;
    for (const Named &n : Names) {
        if (fitsFormat(n.kind, format))
            kinds.append(n.kind);
    }
    return kinds;
}
