#pragma once

// The parts of a case under way that the suite's files share.

#include "conform/Cases.h"
#include "DataFile/Framing.h"
#include "generator/Prng.h"
#include "generator/RecordMaker.h"
#include "report/Outcome.h"

#include <QList>

#include <utility>

enum class Verdict { Pass, NonStrict, Fail };
using Rule = std::array<Verdict, ReplyClassCount>;
// By class: accepted, refused, closed, timeout, unexpected, no-connection.
constexpr Rule MustAccept = {Verdict::Pass, Verdict::Fail, Verdict::Fail, Verdict::Fail, Verdict::Fail, Verdict::Fail};
constexpr Rule MustRefuse = {Verdict::Fail, Verdict::Pass, Verdict::NonStrict, Verdict::Fail, Verdict::Fail, Verdict::Fail};
constexpr Rule NotAccepted = {Verdict::Fail, Verdict::Pass, Verdict::Pass, Verdict::NonStrict, Verdict::NonStrict, Verdict::Fail};
constexpr Rule HalfClosed = {Verdict::Pass, Verdict::Fail, Verdict::NonStrict, Verdict::Fail, Verdict::Fail, Verdict::Fail};
constexpr Rule AnyAnswer = {Verdict::Pass, Verdict::Pass, Verdict::Pass, Verdict::Pass, Verdict::Pass, Verdict::Fail};

inline QByteArray shown(const ExchangeResult &result)
{
    QByteArray text = replyClassName(result.replyClass);
    if (!result.reply.isEmpty())
        text += " \"" + printable(result.reply.left(100)) + (result.reply.size() > 100 ? "...\"" : "\"");
    return text;
}

inline QByteArray frame(const QByteArray &record)
{
    return Framing::framePacket(record);
}

inline QByteArray digits(qint64 value, int width)
{
    return QByteArray::number(value).rightJustified(width, '0');
}

inline ExchangePlan pieces(QList<ExchangePlan::Piece> parts, const QByteArray &id,
                    ExchangePlan::End end = ExchangePlan::End::AwaitReply)
{
    return ExchangePlan{std::move(parts), end, id, {}};
}

// A case under way: its records, made from the seed and the case's place in
// the battery (so that the bytes of a case do not hang on which others run),
// and the verdicts so far.
struct CaseRun
{
    CaseRun(const CaseInfo &info, int index, quint64 seed)
        : prng(seed * 1000003u + quint64(index)), maker(prng), probePrng(~seed * 1000033u + quint64(index)),
          probeMaker(probePrng), index(index)
    {
        result.info = info;
    }

    QByteArray valid()
    {
        QByteArray record;
        maker.append(record, quint32((index + 1) * 100000 + ++made) % 100000000u);
        return record;
    }
    QByteArray probe()
    {
        QByteArray record;
        probeMaker.append(record, 90000000u + quint32(index) * 100 + quint32(++probes % 100));
        return record;
    }

    void add(const ExchangeResult &exchange, const Rule &rule) { add(exchange, rule[int(exchange.replyClass)]); }
    void add(const ExchangeResult &exchange, Verdict verdict)
    {
        ++result.counts[int(exchange.replyClass)];
        ++judged;
        if (verdict > worst) {
            worst = verdict;
            worstReason = shown(exchange);
            worstCount = 0;
        }
        worstCount += verdict == worst;
        keep(exchange, verdict);
    }
    // The exchanges that decided the outcome come first among those kept.
    void keep(const ExchangeResult &exchange, Verdict verdict)
    {
        if (kept.size() < CaseResult::MaxExchanges) {
            kept.append({verdict, exchange});
            return;
        }
        for (qsizetype i = kept.size() - 1; i >= 0; --i) {
            if (kept[i].first < verdict) {
                kept[i] = {verdict, exchange};
                return;
            }
        }
    }
    void fail(const QByteArray &reason)
    {
        worst = Verdict::Fail;
        worstReason = reason;
        worstCount = 0;
    }
    void finish();

    Prng prng;
    RecordMaker maker;
    Prng probePrng;
    RecordMaker probeMaker;
    const int index;
    int made = 0;
    int probes = 0;
    CaseResult result;
    Verdict worst = Verdict::Pass;
    QByteArray worstReason;
    int worstCount = 0;
    int judged = 0;
    QByteArray info;   // what an info case found
    QByteArray detail; // added to a pass's reason
    QList<std::pair<Verdict, ExchangeResult>> kept;
};

