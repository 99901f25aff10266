#pragma once

#include "report/Outcome.h"
#include "report/ReplyExpectation.h"

#include <optional>

class ManifestMatch;

// The verdict on each reply: by the pattern it must match (--expect), by
// the kind the manifest gives its record, or, with neither, any reply.
class ReplyJudge
{
public:
    ReplyJudge(const std::optional<ReplyExpectation> &expectation, const ManifestMatch *manifest)
        : m_expectation(&expectation), m_manifest(manifest)
    {
    }

    // Judges an answered record by its whole reply, and keeps the reply in
    // part. True when the reply fails the run: the record's outcome then
    // says how, and its reason is the line to log.
    bool judge(OutcomeRecord &record) const;

private:
    const std::optional<ReplyExpectation> *m_expectation;
    const ManifestMatch *m_manifest;
};
