#pragma once

#include <QtGlobal>

#include <array>

// Round-trip times in fixed memory, however long the run: counts in buckets
// whose bounds grow by 1 % each, from 0.1 microsecond to beyond a day, and
// the exact least and greatest value. A percentile is read as the middle of
// its bucket (on a log scale), or as the least or greatest value when it
// falls in their bucket: within 1 % of the exact one.
class RoundTripHistogram
{
public:
    void add(double milliseconds);

    qint64 count() const { return m_count; }
    double min() const { return m_count ? m_min : 0; }
    double max() const { return m_count ? m_max : 0; }
    // The nearest-rank percentile (0 < p <= 100); 0 when nothing was added.
    double percentile(double p) const;

private:
    static constexpr double LowestMs = 1e-4;
    static constexpr double Growth = 1.01;
    // Bucket 0 takes everything below LowestMs, the last one everything
    // above the greatest bound (about 34 hours).
    static constexpr int Buckets = 2800;

    static int bucketOf(double milliseconds);

    std::array<qint64, Buckets> m_counts{};
    qint64 m_count = 0;
    double m_min = 0;
    double m_max = 0;
};
