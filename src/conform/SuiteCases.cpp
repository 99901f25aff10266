// The cases of sections 2 to 4: hostile framing, awkward delivery, load.

#include "conform/CaseRun.h"
#include "conform/Suite.h"
#include "link/Misbehaviour.h"
#include "report/LogHistogram.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

constexpr int HeaderSize = 7; // packet code and a four-digit length
constexpr int MostLoadConnections = 16;

// A valid record's packet broken in its header as framing case `which` says;
// `anyId` when the receiver cannot find the record's id in it.
QByteArray framingPacket(int which, const QByteArray &record, const QByteArray &code, Prng &prng, bool *anyId)
{
    const qint64 length = record.size();
    *anyId = true;
    switch (which) {
    case 3:
        return code + "LEN?" + record;
    case 5:
        return "PC?" + digits(length, 4) + record;
    case 6:
        return code + "0000";
    case 8:
        return "0909999" + QByteArray(9999, 'A');
    case 10: {
        QByteArray bytes(16 * 1024, Qt::Uninitialized);
        for (char &b : bytes)
            b = char(prng.below(256));
        return bytes;
    }
    default:
        break;
    }
    *anyId = false;
    switch (which) {
    case 1:
        return code + digits(length - 1, 4) + record;
    case 2:
        return code + digits(length + 1, 4) + record;
    case 4:
        return digits((code.toInt() + 1) % 100, 3) + digits(length, 4) + record;
    default:
        return {};
    }
}

} // namespace

void Suite::framing(CaseRun &run, int which)
{
    const QByteArray record = run.valid();
    const QByteArray id = recordId(record);
    if (which == 7) {
        const QByteArray second = run.valid();
        const ExchangeResult result = exchange(ExchangePlan::whole(frame(record) + frame(second), id));
        run.add(result, AnyAnswer);
        run.info = "the first record's reply: " + shown(result);
        return;
    }
    if (which == 9) {
        // What passes is the receiver's answer to the valid record after it.
        run.add(exchange(pieces({}, id, ExchangePlan::End::Close)), AnyAnswer);
        return;
    }
    bool anyId = false;
    const QByteArray packet = framingPacket(which, record, Framing::packetCode(record), run.prng, &anyId);
    run.add(exchange(ExchangePlan::whole(packet, anyId ? QByteArray() : id)), NotAccepted);
}

void Suite::delivery(CaseRun &run, int which)
{
    const QByteArray record = run.valid();
    const QByteArray id = recordId(record);
    const QByteArray packet = frame(record);
    // Written as ipnd-send --misbehave writes it.
    using Mode = Misbehaviour::Mode;
    const auto written = [&](Misbehaviour::Mode mode, int ms, int bytes) {
        const Misbehaviour m{mode, ms, bytes};
        QList<ExchangePlan::Piece> parts;
        for (const auto &[delay, part] : m.pieces(packet))
            parts.append({delay, part});
        const ExchangePlan::End end = mode == Mode::HalfClose ? ExchangePlan::End::HalfClose
                                    : mode == Mode::Reset     ? ExchangePlan::End::Reset
                                                              : ExchangePlan::End::AwaitReply;
        return exchange(pieces(parts, id, end));
    };
    switch (which) {
    case 1:
        run.add(written(Mode::Trickle, 5, 0), MustAccept);
        return;
    case 2:
        run.add(written(Mode::Split, 200, int(HeaderSize)), MustAccept);
        return;
    case 3:
        run.add(written(Mode::Split, 200, int(HeaderSize + record.size() / 2)), MustAccept);
        return;
    case 4:
        run.add(written(Mode::Delay, 2000, 0), MustAccept);
        return;
    case 5:
        run.add(written(Mode::HalfClose, 0, 0), HalfClosed);
        return;
    case 6:
        // What passes is the receiver's answer to the valid record after it.
        run.add(written(Mode::Reset, 0, int(packet.size() / 2)), AnyAnswer);
        return;
    default:
        return;
    }
}

void Suite::atOnce(CaseRun &run)
{
    std::vector<ExchangePlan> plans;
    for (int i = 0; i < 64; ++i) {
        const QByteArray record = run.valid();
        plans.push_back(ExchangePlan::whole(frame(record), recordId(record)));
    }
    for (const ExchangeResult &result : exchangeAll(plans))
        run.add(result, MustAccept);
}

void Suite::heldIdle(CaseRun &run)
{
    std::vector<std::unique_ptr<Exchange>> idle;
    for (int i = 0; i < 100; ++i)
        idle.push_back(started(pieces({}, {}, ExchangePlan::End::Hold)));
    const auto allUp = [&] {
        return std::all_of(idle.begin(), idle.end(), [](const auto &e) { return e->isUp() || e->isFinished(); });
    };
    wait(allUp, m_options.timeoutMs);
    const int up = int(std::count_if(idle.begin(), idle.end(), [](const auto &e) { return e->isUp(); }));
    const QByteArray record = run.valid();
    run.add(exchange(ExchangePlan::whole(frame(record), recordId(record))), MustAccept);
    run.detail = ", with " + QByteArray::number(up) + " of 100 idle connections up";
    // One of them stays open for the next cases, to see when the receiver closes it.
    if (idle.front()->isUp() && !idle.front()->isFinished())
        m_keptIdle = std::move(idle.front());
}

void Suite::drips(CaseRun &run)
{
    std::vector<std::unique_ptr<Exchange>> dripping;
    for (int i = 0; i < 20; ++i) {
        const QByteArray packet = frame(run.valid());
        QList<ExchangePlan::Piece> bytes;
        for (qsizetype at = 0; at < packet.size(); ++at)
            bytes.append({at ? 1000 : 0, packet.mid(at, 1)});
        dripping.push_back(started(pieces(bytes, {}, ExchangePlan::End::Hold)));
    }
    // Each has sent a byte and waits to send the next.
    wait([] { return false; }, 1500);
    const QByteArray record = run.valid();
    run.add(exchange(ExchangePlan::whole(frame(record), recordId(record))), MustAccept);
    const int open = int(std::count_if(dripping.begin(), dripping.end(), [](const auto &e) { return !e->isFinished(); }));
    run.detail = ", with " + QByteArray::number(open) + " of 20 slow connections still open";
}

void Suite::idleClose(CaseRun &run)
{
    if (!m_keptIdle) {
        m_keptIdle = started(pieces({}, {}, ExchangePlan::End::Hold));
        wait([this] { return m_keptIdle->isUp() || m_keptIdle->isFinished(); }, m_options.timeoutMs);
    }
    // The receiver has one more reply timeout to close it.
    wait([this] { return m_keptIdle->isFinished(); }, m_options.timeoutMs);
    const ExchangeResult &result = m_keptIdle->result();
    const auto seconds = [](double ms) { return QByteArray::number(ms / 1000, 'f', 1); };
    if (m_keptIdle->isFinished() && result.closedAtMs >= 0)
        run.info = "closed by the receiver after " + seconds(result.closedAtMs) + " s idle";
    else if (m_keptIdle->isFinished())
        run.info = "no connection to hold: " + shown(result);
    else
        run.info = "still open after " + seconds(m_keptIdle->elapsedMs()) + " s idle";
    m_keptIdle->close();
    run.keep(m_keptIdle->result(), Verdict::Pass);
    m_keptIdle.reset();
}

// An open loop: record i is due i / rate seconds from the start and goes out
// on a free one of at most MostLoadConnections connections, or waits in
// order until one is free; its latency runs from the time it was due. The
// sending ends with `seconds`, the waiting one reply timeout later.
Suite::LoadFigures Suite::load(CaseRun &run, double rate, double seconds)
{
    LoadFigures figures;
    figures.planned = std::max(1, int(std::lround(rate * seconds)));
    struct Live
    {
        std::unique_ptr<Exchange> exchange;
        double dueMs;
        double startMs;
    };
    std::vector<Live> live;
    QList<double> latencies;
    int next = 0;
    int ended = 0;
    QElapsedTimer clock;
    clock.start();
    const auto nowMs = [&] { return double(clock.nsecsElapsed()) / 1e6; };
    QTimer tick; // wakes the wait for each record that falls due
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(1);
    const auto step = [&] {
        for (auto it = live.begin(); it != live.end();) {
            if (!it->exchange->isFinished()) {
                ++it;
                continue;
            }
            const ExchangeResult &result = it->exchange->result();
            if (result.replyClass == ReplyClass::Accepted)
                latencies << it->startMs - it->dueMs + result.ms;
            run.add(result, MustAccept);
            ++ended;
            it = live.erase(it);
        }
        while (next < figures.planned && live.size() < MostLoadConnections && next * 1000.0 / rate <= nowMs()) {
            const QByteArray record = run.valid();
            live.push_back({started(ExchangePlan::whole(frame(record), recordId(record))), next * 1000.0 / rate, nowMs()});
            ++next;
        }
        return ended == figures.planned;
    };
    wait(step, int(seconds * 1000) + m_options.timeoutMs + 1000);
    for (Live &l : live) {
        l.exchange->close();
        run.add(l.exchange->result(), MustAccept);
    }
    if (next < figures.planned && !m_stopped)
        run.fail(QByteArray::number(figures.planned - next) + " records not sent by the end: every connection busy");
    figures.accepted = int(latencies.size());
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.isEmpty())
        figures.p99Ms = latencies[nearestRank(99, latencies.size()) - 1];
    return figures;
}

void Suite::steadyLoad(CaseRun &run)
{
    const LoadFigures figures = load(run, m_options.rate, m_options.durationSeconds);
    const QByteArray p99 = "p99 " + QByteArray::number(figures.p99Ms, 'f', 1) + " ms";
    if (figures.accepted == figures.planned && figures.p99Ms > m_options.maxP99Ms)
        run.fail(p99 + ", above --max-p99 " + QByteArray::number(m_options.maxP99Ms));
    run.detail = ", " + p99;
}

void Suite::capacity(CaseRun &run)
{
    double held = 0;
    QByteArray heldAt;
    QByteArray stopped;
    double rate = m_options.rate;
    for (int stepNumber = 0; stepNumber < 7 && !m_stopped; ++stepNumber, rate *= 2) {
        const LoadFigures figures = load(run, rate, 3);
        const QByteArray at = QByteArray::number(rate, 'g', 6) + " records/s";
        const QByteArray p99 = "p99 " + QByteArray::number(figures.p99Ms, 'f', 1) + " ms";
        if (figures.accepted < figures.planned) {
            stopped = "; at " + at + " " + QByteArray::number(figures.planned - figures.accepted) + " of " +
                      QByteArray::number(figures.planned) + " not accepted";
            break;
        }
        if (figures.p99Ms > m_options.maxP99Ms) {
            stopped = "; at " + at + " " + p99 + ", above --max-p99";
            break;
        }
        held = rate;
        heldAt = at + " (" + p99 + ")";
    }
    run.info = held > 0 ? "held " + heldAt + stopped : "held no rate" + stopped;
}
