#pragma once

#include "conform/Cases.h"
#include "conform/ConformOptions.h"
#include "conform/Exchange.h"

#include <QHash>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

struct CaseRun;

// Runs the battery against one receiver, case after case, in the event
// loop: each wait is bounded by the reply timeout or the case's own time.
class Suite : public QObject
{
    Q_OBJECT

public:
    Suite(const ConformOptions &options, const ReplyPatterns &patterns, QObject *parent = nullptr);
    ~Suite() override;

    // Every exchange speaks TLS from `tls` (not owned).
    void setTls(TlsClient *tls) { m_tls = tls; }
    // Whether the receiver takes a connection at all, within the timeout;
    // *why says what became of the one tried.
    bool reachable(QByteArray *why);
    // Runs the selected cases, calling `caseEnded` as each one ends.
    SuiteResult run(const std::function<void(CaseResult &)> &caseEnded);
    // Ends the run at the case under way: it and the rest are missing.
    void interrupt() { m_stopped = true; }
    bool isInterrupted() const { return m_stopped; }

private:
    using Body = std::function<void(CaseRun &)>;
    struct LoadFigures
    {
        int planned = 0;
        int accepted = 0;
        double p99Ms = 0;
    };

    void addBodies();
    void runCase(CaseRun &run, const Body &body);
    // Serves events until `done` or the bound or a stop; whether it was done.
    bool wait(const std::function<bool()> &done, int boundMs);
    std::vector<ExchangeResult> exchangeAll(const std::vector<ExchangePlan> &plans);
    ExchangeResult exchange(const ExchangePlan &plan) { return exchangeAll({plan}).front(); }
    std::unique_ptr<Exchange> started(const ExchangePlan &plan);

    void validRecords(CaseRun &run);
    void fixedRecords(CaseRun &run, bool info);
    void brokenRecords(CaseRun &run, int kind);
    void framing(CaseRun &run, int which);
    void delivery(CaseRun &run, int which);
    void atOnce(CaseRun &run);
    void heldIdle(CaseRun &run);
    void drips(CaseRun &run);
    void idleClose(CaseRun &run);
    LoadFigures load(CaseRun &run, double rate, double seconds);
    void steadyLoad(CaseRun &run);
    void capacity(CaseRun &run);

    const ConformOptions m_options;
    const ReplyPatterns m_patterns;
    QHash<QByteArray, Body> m_bodies;
    bool m_stopped = false;
    TlsClient *m_tls = nullptr;
    std::unique_ptr<Exchange> m_keptIdle; // one of 3.8's idle connections, for 3.10
};
