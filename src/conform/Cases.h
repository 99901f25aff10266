#pragma once

#include "conform/Exchange.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// The battery's name in the reports: a changed case gets a new id, a changed
// battery a new name.
inline constexpr char SuiteName[] = "1";

enum class Level { Must, Should, Info };
enum class CaseOutcome { Pass, NonStrict, Fail, Info, Missing };
QByteArray levelName(Level level);            // "must", "should", "info"
QByteArray caseOutcomeName(CaseOutcome outcome); // "pass", "non-strict", "fail", "info", "missing"
std::optional<CaseOutcome> caseOutcomeFromName(const QByteArray &name);

struct CaseInfo
{
    const char *id;
    int section;
    Level level;
    const char *title;
    bool built; // false: the battery names it, this program does not run it yet
};

// Every case of the battery, in order; built or not.
const QList<CaseInfo> &battery();
QString sectionTitle(int section); // "Records", "Framing", "Delivery", "Load"
bool isCaseOrSection(const QString &id);

// Whether a case runs under --cases and --exclude.
bool isSelected(const CaseInfo &info, const QStringList &cases, const QStringList &exclude);

struct CaseResult
{
    CaseInfo info{};
    CaseOutcome outcome = CaseOutcome::Missing;
    QString reason;
    std::array<int, ReplyClassCount> counts{};
    double ms = 0;
    QList<ExchangeResult> exchanges; // at most MaxExchanges, those that decided the outcome first
    std::optional<CaseOutcome> earlier; // with --compare
    bool regression = false;

    static constexpr int MaxExchanges = 5;
};

struct SuiteResult
{
    QDateTime started; // UTC
    QString target;    // "127.0.0.1:50003"
    QString command;
    quint64 seed = 1;
    bool strict = false;
    bool compared = false;
    QList<CaseResult> cases; // every case of the battery, in order
    bool interrupted = false;

    int count(CaseOutcome outcome) const;
    int regressions() const;
    bool passed() const;
};

// "2.4 packet code not the record's characters 3 and 4 ... fail: accepted "ACK 08903043""
QByteArray caseLine(const CaseResult &result);
// "cases 34: pass N, non-strict N, fail N, info N, missing N"
QByteArray summaryLine(const SuiteResult &result);
