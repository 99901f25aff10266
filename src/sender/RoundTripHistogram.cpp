#include "sender/RoundTripHistogram.h"

#include <algorithm>
#include <cmath>

int RoundTripHistogram::bucketOf(double milliseconds)
{
    if (!(milliseconds >= LowestMs)) // also NaN
        return 0;
    const double index = std::floor(std::log(milliseconds / LowestMs) / std::log(Growth)) + 1;
    return index >= Buckets - 1 ? Buckets - 1 : int(index);
}

void RoundTripHistogram::add(double milliseconds)
{
    if (std::isnan(milliseconds))
        return;
    milliseconds = std::max(0.0, milliseconds);
    if (m_count == 0 || milliseconds < m_min)
        m_min = milliseconds;
    if (m_count == 0 || milliseconds > m_max)
        m_max = milliseconds;
    ++m_counts[size_t(bucketOf(milliseconds))];
    ++m_count;
}

double RoundTripHistogram::percentile(double p) const
{
    if (m_count == 0)
        return 0;
    const auto rank = std::clamp<qint64>(qint64(std::ceil(std::clamp(p, 0.0, 100.0) / 100.0 * double(m_count))), 1,
                                         m_count);
    qint64 seen = 0;
    int bucket = 0;
    for (; bucket < Buckets - 1; ++bucket) {
        seen += m_counts[size_t(bucket)];
        if (seen >= rank)
            break;
    }
    // The ends are known exactly: in the bucket of the least or the greatest
    // value, that value stands for the bucket (within its 1 %).
    if (bucket == bucketOf(m_min))
        return m_min;
    if (bucket == bucketOf(m_max))
        return m_max;
    const double middle = LowestMs * std::pow(Growth, double(bucket) - 0.5);
    return std::clamp(middle, m_min, m_max);
}
