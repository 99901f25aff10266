#include "sender/ReplyJudge.h"

#include "sender/Manifest.h"
#include "testpackets/FieldTable.h"

bool ReplyJudge::judge(OutcomeRecord &record) const
{
    const QByteArray whole = *record.reply;
    // Judged whole; kept in part.
    record.keepReply(whole);
    // {id} is the record id as a reply names it, the receiver's own.
    const QByteArray replyId = FieldTable::recordId(record.id);
    if (m_manifest) {
        record.outcome = m_manifest->judge(record.expect, whole, replyId);
        if (!isFailure(record.outcome))
            return false;
        record.reason = "Event: " + outcomeName(record.outcome).toLatin1() + " reply to record "
            + printable(record.id) + " (" + printable(record.expect) + "): " + printable(*record.reply);
        return true;
    }
    const ReplyExpectation::Match match =
        *m_expectation ? (*m_expectation)->match(whole, replyId) : ReplyExpectation::Match::Yes;
    if (match == ReplyExpectation::Match::Yes)
        return false;
    const bool no = match == ReplyExpectation::Match::No;
    record.outcome = no ? Outcome::Unexpected : Outcome::Unmatched;
    record.reason = no ? ReplyExpectation::unexpectedLine(record.id, whole) : ReplyExpectation::gaveUpLine(record.id, whole);
    return true;
}
