#include "conform/Cases.h"

namespace {
constexpr CaseOutcome Outcomes[] = {CaseOutcome::Pass, CaseOutcome::NonStrict, CaseOutcome::Fail, CaseOutcome::Info,
                                    CaseOutcome::Missing};
} // namespace

QByteArray levelName(Level level)
{
    switch (level) {
    case Level::Must:
        return "must";
    case Level::Should:
        return "should";
    case Level::Info:
        break;
    }
    return "info";
}

QByteArray caseOutcomeName(CaseOutcome outcome)
{
    switch (outcome) {
    case CaseOutcome::Pass:
        return "pass";
    case CaseOutcome::NonStrict:
        return "non-strict";
    case CaseOutcome::Fail:
        return "fail";
    case CaseOutcome::Info:
        return "info";
    case CaseOutcome::Missing:
        break;
    }
    return "missing";
}

std::optional<CaseOutcome> caseOutcomeFromName(const QByteArray &name)
{
    for (const CaseOutcome outcome : Outcomes) {
        if (caseOutcomeName(outcome) == name)
            return outcome;
    }
    return std::nullopt;
}

const QList<CaseInfo> &battery()
{
    using L = Level;
    static const QList<CaseInfo> cases = {
        {"1.1", 1, L::Must, "50 valid records, each accepted", true},
        {"1.2", 1, L::Must, "the fixed records standard, noadd and min, bare, each accepted", true},
        {"1.3", 1, L::Info, "the fixed records long and max, bare", true},
        {"1.4", 1, L::Must, "10 records with 52 fields, each refused", true},
        {"1.5", 1, L::Must, "10 records with 54 fields, each refused", true},
        {"1.6", 1, L::Must, "10 records with a field too wide, each refused", true},
        {"1.7", 1, L::Must, "10 records with a bad character, each refused", true},
        {"1.8", 1, L::Must, "10 records with letters in a digit field, each refused", true},
        {"1.9", 1, L::Must, "10 records with a bad date, each refused", true},
        {"1.10", 1, L::Must, "10 records with a bad flag, each refused", true},
        {"1.11", 1, L::Must, "10 records with a bad state, each refused", true},
        {"1.12", 1, L::Must, "10 records with a bad code, each refused", true},
        {"2.1", 2, L::Must, "length field one less than the record", true},
        {"2.2", 2, L::Should, "length field one more than the record, nothing more sent", true},
        {"2.3", 2, L::Must, "length field not digits", true},
        {"2.4", 2, L::Must, "packet code not the record's characters 3 and 4", true},
        {"2.5", 2, L::Must, "packet code not digits", true},
        {"2.6", 2, L::Must, "header only, length 0000", true},
        {"2.7", 2, L::Info, "two framed valid records in one write", true},
        {"2.8", 2, L::Must, "header 0909999 and 9,999 bytes of A", true},
        {"2.9", 2, L::Must, "a connection closed without a byte", true},
        {"2.10", 2, L::Must, "16 KiB of seeded random bytes", true},
        {"3.1", 3, L::Must, "one byte per write, 5 ms apart", true},
        {"3.2", 3, L::Must, "split between header and record, 200 ms apart", true},
        {"3.3", 3, L::Must, "split inside the record, 200 ms apart", true},
        {"3.4", 3, L::Must, "the first byte 2 s after the connection is up", true},
        {"3.5", 3, L::Should, "the source half-closes right after the packet", true},
        {"3.6", 3, L::Must, "a reset after half the packet", true},
        {"3.7", 3, L::Must, "64 connections at once, one record each", true},
        {"3.8", 3, L::Must, "a record accepted while 100 connections are held open and silent", true},
        {"3.9", 3, L::Must, "a record accepted while 20 connections send one byte a second", true},
        {"3.10", 3, L::Info, "how long the receiver takes to close an idle connection", true},
        {"4.1", 4, L::Must, "valid records at --rate for --duration, each accepted within --max-p99", true},
        {"4.2", 4, L::Info, "capacity: the highest rate held, doubling from --rate", true},
    };
    return cases;
}

QString sectionTitle(int section)
{
    static const char *const Titles[] = {"Records", "Framing", "Delivery", "Load"};
    return section >= 1 && section <= 4 ? QLatin1String(Titles[section - 1]) : QString();
}

bool isCaseOrSection(const QString &id)
{
    for (const CaseInfo &info : battery()) {
        if (id == QLatin1String(info.id) || id == QString::number(info.section))
            return true;
    }
    return false;
}

namespace {
bool named(const CaseInfo &info, const QStringList &list)
{
    for (const QString &item : list) {
        if (item == QLatin1String(info.id) || item == QString::number(info.section))
            return true;
    }
    return false;
}
} // namespace

bool isSelected(const CaseInfo &info, const QStringList &cases, const QStringList &exclude)
{
    return (cases.isEmpty() || named(info, cases)) && !named(info, exclude);
}

int SuiteResult::count(CaseOutcome outcome) const
{
    int n = 0;
    for (const CaseResult &c : cases)
        n += c.outcome == outcome;
    return n;
}

int SuiteResult::regressions() const
{
    int n = 0;
    for (const CaseResult &c : cases)
        n += c.regression;
    return n;
}

bool SuiteResult::passed() const
{
    return !interrupted && count(CaseOutcome::Fail) == 0 && !(strict && count(CaseOutcome::NonStrict) > 0);
}

QByteArray caseLine(const CaseResult &result)
{
    QByteArray line = QByteArray(result.info.id) + ' ' + result.info.title + " ... " + caseOutcomeName(result.outcome);
    if (!result.reason.isEmpty())
        line += ": " + result.reason.toLatin1(); // made of printable text
    if (result.regression)
        line += " [regression: was " + caseOutcomeName(*result.earlier) + ']';
    return line;
}

QByteArray summaryLine(const SuiteResult &result)
{
    QByteArray line = "cases " + QByteArray::number(result.cases.size());
    for (const auto &[name, outcome] : {std::pair{"pass", CaseOutcome::Pass}, {"non-strict", CaseOutcome::NonStrict},
                                        {"fail", CaseOutcome::Fail}, {"info", CaseOutcome::Info},
                                        {"missing", CaseOutcome::Missing}})
        line += QByteArray(line.contains(':') ? ", " : ": ") + name + ' ' + QByteArray::number(result.count(outcome));
    if (result.compared)
        line += ", regressions " + QByteArray::number(result.regressions());
    return line;
}
