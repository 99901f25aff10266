#pragma once

#include <QtGlobal>

#include <vector>

// The rank, counted from 1, of the nearest-rank p-th percentile of `count`
// values in order: the least rank that has at least p % of the values at or
// below it. p is taken as 0 to 100, to a millionth of a percent, and 0 as
// the first value; 0 when there are no values.
qint64 nearestRank(double p, qint64 count);

// Times (or any values at or above 0) counted in fixed memory, however many:
// in bins on a log scale, and the exact least and greatest value. Bin k
// holds the values from lowest * growth^k up to the next bin's edge; the
// first bin also holds everything below it, the last everything above.
class LogHistogram
{
public:
    struct Scale
    {
        double lowest; // the lower edge of the first bin
        double growth; // each bin's edge over the one below it
        int bins;
    };
    // Bins 1 % wide from 0.1 microsecond (in ms) to beyond a day: a
    // percentile read from them is within 1 % of the exact one.
    static constexpr Scale RoundTrips{1e-4, 1.01, 2800};

    LogHistogram() : LogHistogram(RoundTrips) {}
    explicit LogHistogram(const Scale &scale);

    // NaN is not counted; a negative value counts as 0.
    void add(double value);

    qint64 count() const { return m_count; }
    double min() const { return m_count ? m_min : 0; }
    double max() const { return m_count ? m_max : 0; }
    // The nearest-rank percentile (0 < p <= 100), read as the middle of its
    // bin on the log scale, or as the least or greatest value when it falls
    // in their bin; 0 when nothing was added.
    double percentile(double p) const;

    int bins() const { return int(m_counts.size()); }
    qint64 binCount(int bin) const { return m_counts[size_t(bin)]; }
    // The lower edge of `bin`; bins() gives the upper edge of the last.
    double edge(int bin) const;
    int binOf(double value) const;

private:
    Scale m_scale;
    double m_perLog; // bins per unit of the natural log
    std::vector<qint64> m_counts;
    qint64 m_count = 0;
    double m_min = 0;
    double m_max = 0;
};
