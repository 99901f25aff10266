#include "conform/Suite.h"

#include "conform/CaseRun.h"
#include "testpackets/TestRecords.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {
constexpr int ProbeSettleMs = 100;
} // namespace

void CaseRun::finish()
{
    QByteArrayList counted;
    for (int i = 0; i < ReplyClassCount; ++i) {
        if (result.counts[i])
            counted << QByteArray::number(result.counts[i]) + ' ' + replyClassName(ReplyClass(i));
    }
    for (const auto &[verdict, exchange] : kept)
        result.exchanges.append(exchange);
    if (result.info.level == Level::Info) {
        result.outcome = CaseOutcome::Info;
        result.reason = QString::fromLatin1(info.isEmpty() ? counted.join(", ") : info);
        return;
    }
    if (worst == Verdict::Pass) {
        result.outcome = CaseOutcome::Pass;
        result.reason = QString::fromLatin1(counted.join(", ") + detail);
        return;
    }
    QByteArray reason = worstReason;
    if (judged > 1 && worstCount > 0)
        reason += " (" + QByteArray::number(worstCount) + " of " + QByteArray::number(judged) + ')';
    // A case a receiver should pass, and does not, is a warning.
    const bool should = result.info.level == Level::Should && worst == Verdict::Fail;
    result.outcome = worst == Verdict::Fail && !should ? CaseOutcome::Fail : CaseOutcome::NonStrict;
    result.reason = QString::fromLatin1(should ? reason + "; a should case" : reason);
}

Suite::Suite(const ConformOptions &options, const ReplyPatterns &patterns, QObject *parent)
    : QObject(parent), m_options(options), m_patterns(patterns)
{
    addBodies();
}

Suite::~Suite() = default;

void Suite::addBodies()
{
    m_bodies.insert("1.1", [this](CaseRun &r) { validRecords(r); });
    m_bodies.insert("1.2", [this](CaseRun &r) { fixedRecords(r, false); });
    m_bodies.insert("1.3", [this](CaseRun &r) { fixedRecords(r, true); });
    for (int kind = 0; kind < 9; ++kind)
        m_bodies.insert("1." + QByteArray::number(kind + 4), [this, kind](CaseRun &r) { brokenRecords(r, kind); });
    for (int which = 1; which <= 10; ++which)
        m_bodies.insert("2." + QByteArray::number(which), [this, which](CaseRun &r) { framing(r, which); });
    for (int which = 1; which <= 6; ++which)
        m_bodies.insert("3." + QByteArray::number(which), [this, which](CaseRun &r) { delivery(r, which); });
    m_bodies.insert("3.7", [this](CaseRun &r) { atOnce(r); });
    m_bodies.insert("3.8", [this](CaseRun &r) { heldIdle(r); });
    m_bodies.insert("3.9", [this](CaseRun &r) { drips(r); });
    m_bodies.insert("3.10", [this](CaseRun &r) { idleClose(r); });
    m_bodies.insert("4.1", [this](CaseRun &r) { steadyLoad(r); });
    m_bodies.insert("4.2", [this](CaseRun &r) { capacity(r); });
}

bool Suite::wait(const std::function<bool()> &done, int boundMs)
{
    QTimer bound;
    bound.setSingleShot(true);
    bound.start(std::max(0, boundMs));
    while (!done()) {
        if (m_stopped || !bound.isActive())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

std::unique_ptr<Exchange> Suite::started(const ExchangePlan &plan)
{
    auto exchange = std::make_unique<Exchange>(m_options.host, m_options.port, m_options.timeoutMs, m_patterns, plan);
    exchange->setTls(m_tls);
    exchange->start();
    return exchange;
}

std::vector<ExchangeResult> Suite::exchangeAll(const std::vector<ExchangePlan> &plans)
{
    std::vector<std::unique_ptr<Exchange>> exchanges;
    int longest = 0;
    for (const ExchangePlan &plan : plans) {
        int planMs = 0;
        for (const ExchangePlan::Piece &piece : plan.pieces)
            planMs += piece.delayMs;
        longest = std::max(longest, planMs);
        exchanges.push_back(started(plan));
    }
    // Each exchange bounds its own waits; this bound only backs them up.
    wait([&] { return std::all_of(exchanges.begin(), exchanges.end(), [](const auto &e) { return e->isFinished(); }); },
         longest + 2 * m_options.timeoutMs + 1000);
    std::vector<ExchangeResult> results;
    for (const auto &exchange : exchanges) {
        exchange->close();
        results.push_back(exchange->result());
    }
    return results;
}

bool Suite::reachable(QByteArray *why)
{
    const auto exchange = started(pieces({}, {}, ExchangePlan::End::Hold));
    wait([&] { return exchange->isUp() || exchange->isFinished(); }, m_options.timeoutMs + 1000);
    *why = exchange->result().reply;
    return exchange->isUp();
}

SuiteResult Suite::run(const std::function<void(CaseResult &)> &caseEnded)
{
    SuiteResult suite;
    suite.started = QDateTime::currentDateTimeUtc();
    suite.target = m_options.host + QLatin1Char(':') + QString::number(m_options.port);
    suite.command = m_options.commandLine;
    suite.seed = m_options.seed;
    suite.strict = m_options.strict;
    const QList<CaseInfo> &cases = battery();
    for (int index = 0; index < cases.size(); ++index) {
        const CaseInfo &info = cases[index];
        CaseRun run(info, index, m_options.seed);
        const Body body = m_bodies.value(info.id);
        if (!info.built || !body)
            run.result.reason = QStringLiteral("not built in this version");
        else if (!isSelected(info, m_options.cases, m_options.exclude))
            run.result.reason = QStringLiteral("not selected");
        else if (m_stopped)
            run.result.reason = QStringLiteral("interrupted");
        else {
            runCase(run, body);
            if (run.result.outcome != CaseOutcome::Missing)
                caseEnded(run.result);
        }
        suite.cases.append(run.result);
    }
    m_keptIdle.reset();
    suite.interrupted = m_stopped;
    return suite;
}

void Suite::runCase(CaseRun &run, const Body &body)
{
    QElapsedTimer clock;
    clock.start();
    body(run);
    if (!m_stopped && (run.result.info.section == 2 || run.result.info.section == 3)) {
        // The receiver must still take a valid record after what it went
        // through; one that falls over gets a moment to do so first.
        wait([] { return false; }, ProbeSettleMs);
        const QByteArray record = run.probe();
        const ExchangeResult probe = exchange(ExchangePlan::whole(frame(record), recordId(record)));
        if (probe.replyClass != ReplyClass::Accepted && !m_stopped) {
            run.fail("the receiver stopped answering: the valid record after the case was " + shown(probe));
            run.keep(probe, Verdict::Fail);
        }
    }
    if (m_stopped) {
        run.result.reason = QStringLiteral("interrupted");
        return;
    }
    run.finish();
    run.result.ms = double(clock.nsecsElapsed()) / 1e6;
}

void Suite::validRecords(CaseRun &run)
{
    for (int i = 0; i < 50 && !m_stopped; ++i) {
        const QByteArray record = run.valid();
        run.add(exchange(ExchangePlan::whole(frame(record), recordId(record))), MustAccept);
    }
}

void Suite::fixedRecords(CaseRun &run, bool info)
{
    const QList<std::pair<QByteArray, QByteArray>> records =
        info ? QList<std::pair<QByteArray, QByteArray>>{{"long", TestRecords::Long}, {"max", TestRecords::Max}}
             : QList<std::pair<QByteArray, QByteArray>>{
                   {"standard", TestRecords::Standard}, {"noadd", TestRecords::NoAdd}, {"min", TestRecords::Min}};
    QByteArrayList found;
    for (const auto &[name, record] : records) {
        if (m_stopped)
            return;
        const ExchangeResult result = exchange(ExchangePlan::whole(record, recordId(record)));
        run.add(result, info ? AnyAnswer : MustAccept);
        found << name + ": " + shown(result);
    }
    run.info = found.join("; ");
}

void Suite::brokenRecords(CaseRun &run, int kind)
{
    for (int i = 0; i < 10 && !m_stopped; ++i) {
        QByteArray record = run.valid();
        run.maker.breakRecord(record, GenKind(kind));
        run.add(exchange(ExchangePlan::whole(frame(record), recordId(record))), MustRefuse);
    }
}
