#include "report/LogHistogram.h"

#include <algorithm>
#include <cmath>

qint64 nearestRank(double p, qint64 count)
{
    if (count <= 0)
        return 0;
    // In whole numbers: p / 100 * count in floating point makes 99.9 % of
    // 1000 a little over 999, and its rank 1000.
    constexpr quint64 Whole = 100'000'000; // 100 % in millionths of a percent
    const auto share = quint64(std::llround(std::clamp(p, 0.0, 100.0) * 1e6));
    const auto n = quint64(count);
    // share * n / Whole rounded up, without the product overflowing: at most n.
    const quint64 rank = n / Whole * share + (n % Whole * share + Whole - 1) / Whole;
    return std::max<qint64>(1, qint64(rank));
}

LogHistogram::LogHistogram(const Scale &scale)
    : m_scale(scale), m_perLog(1 / std::log(scale.growth)), m_counts(size_t(std::max(1, scale.bins)), 0)
{
}

int LogHistogram::binOf(double value) const
{
    if (!(value >= m_scale.lowest)) // also NaN
        return 0;
    // A value on an edge, give or take the rounding of the logarithm, goes
    // in the bin above it.
    const double position = std::floor(std::log(value / m_scale.lowest) * m_perLog + 1e-9);
    return position >= double(m_counts.size() - 1) ? int(m_counts.size() - 1) : int(position);
}

double LogHistogram::edge(int bin) const
{
    return m_scale.lowest * std::pow(m_scale.growth, double(bin));
}

void LogHistogram::add(double value)
{
    if (std::isnan(value))
        return;
    value = std::max(0.0, value);
    if (m_count == 0 || value < m_min)
        m_min = value;
    if (m_count == 0 || value > m_max)
        m_max = value;
    ++m_counts[size_t(binOf(value))];
    ++m_count;
}

double LogHistogram::percentile(double p) const
{
    if (m_count == 0)
        return 0;
    const qint64 rank = nearestRank(p, m_count);
    qint64 seen = 0;
    int bin = 0;
    for (; bin < bins() - 1; ++bin) {
        seen += m_counts[size_t(bin)];
        if (seen >= rank)
            break;
    }
    // The ends are known exactly: in the bin of the least or the greatest
    // value, that value stands for the bin.
    if (bin == binOf(m_min))
        return m_min;
    if (bin == binOf(m_max))
        return m_max;
    const double middle = m_scale.lowest * std::pow(m_scale.growth, double(bin) + 0.5);
    return std::clamp(middle, m_min, m_max);
}
