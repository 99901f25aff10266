#include "sender/LoadSchedule.h"

#include <QDate>
#include <QString>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double Forever = std::numeric_limits<double>::infinity();
}

LoadSchedule::LoadSchedule(const Settings &settings, const RunClock &clock)
    : m_settings(settings)
    , m_clock(clock)
    , m_durationNs(settings.durationSeconds > 0 ? std::llround(settings.durationSeconds * 1e9) : -1)
{
    double start = 0;
    double before = 0;
    double rate = 0;
    const auto add = [&](double seconds, double to) {
        m_segments.push_back({start, seconds, rate, to, before});
        start += seconds;
        before += seconds * (rate + to) / 2;
        rate = to;
    };
    if (!settings.stages.empty()) {
        // Stages end the run: after the last one nothing more comes due.
        for (const LoadStage &stage : settings.stages)
            add(stage.seconds, stage.rate);
    } else {
        if (settings.rampUpSeconds > 0)
            add(settings.rampUpSeconds, settings.rate);
        rate = settings.rate;
        add(Forever, settings.rate);
    }
}

qint64 LoadSchedule::intendedNs(qint64 index) const
{
    const double i = double(index);
    for (const Segment &s : m_segments) {
        // Over a segment whose rate goes from a to b in d seconds,
        // a t + (b - a) t² / (2 d) records come due by t seconds into it.
        const double within = i - s.before;
        const double records = s.seconds == Forever ? Forever : s.seconds * (s.fromRate + s.toRate) / 2;
        if (within < 0 || within >= records)
            continue;
        double t = 0;
        if (s.fromRate == s.toRate) {
            t = within / s.fromRate;
        } else {
            // The root of k t² + a t - n, in the form that stays exact as k
            // nears 0 and holds for a falling rate as for a rising one.
            const double k = (s.toRate - s.fromRate) / (2 * s.seconds);
            const double root = std::sqrt(std::max(0.0, s.fromRate * s.fromRate + 4 * k * within));
            t = s.fromRate + root > 0 ? 2 * within / (s.fromRate + root) : 0;
        }
        return std::llround((s.start + std::min(t, s.seconds)) * 1e9);
    }
    return std::numeric_limits<qint64>::max();
}

double LoadSchedule::rateAt(qint64 ns) const
{
    if (m_durationNs >= 0 && ns >= m_durationNs)
        return 0;
    const double t = double(ns) / 1e9;
    for (const Segment &s : m_segments) {
        if (t < s.start + s.seconds)
            return s.seconds == Forever ? s.toRate
                                        : s.fromRate + (s.toRate - s.fromRate) * std::max(0.0, t - s.start) / s.seconds;
    }
    return m_segments.empty() ? 0 : m_segments.back().toRate;
}

bool LoadSchedule::durationOver() const
{
    return m_durationNs >= 0 && m_clock.nsecsElapsed() >= m_durationNs;
}

bool LoadSchedule::noneLeft() const
{
    const qint64 next = intendedNs(m_next);
    return (m_settings.count >= 0 && m_next >= m_settings.count) || next == std::numeric_limits<qint64>::max()
        || (m_durationNs >= 0 && next >= m_durationNs);
}
bool LoadSchedule::ended() const
{
    return noneLeft() || durationOver();
}

std::optional<qint64> LoadSchedule::takeDue()
{
    // A record due before the end is taken even by a run that comes to it
    // only after the end: it was due, and is counted one way or the other.
    if (noneLeft())
        return std::nullopt;
    const qint64 due = intendedNs(m_next);
    if (due > m_clock.nsecsElapsed())
        return std::nullopt;
    ++m_next;
    return due;
}

qint64 LoadSchedule::wakeNs() const
{
    if (!ended())
        return m_durationNs >= 0 ? std::min(intendedNs(m_next), m_durationNs) : intendedNs(m_next);
    // Records still waiting may go out until the duration is over.
    return m_durationNs >= 0 && !durationOver() ? m_durationNs : -1;
}

std::optional<qint64> recordedTimeMs(QByteArrayView logFields)
{
    constexpr qsizetype Seconds = 19; // "yyyy-MM-dd HH:mm:ss"
    if (logFields.size() < Seconds)
        return std::nullopt;
    const QString stamp = QString::fromLatin1(logFields.first(Seconds));
    const QDate date = QDate::fromString(stamp.first(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(stamp.sliced(11), QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid() || (stamp[10] != QLatin1Char(' ') && stamp[10] != QLatin1Char('T')))
        return std::nullopt;
    qint64 ms = date.toJulianDay() * 86400000 + time.msecsSinceStartOfDay();
    // A fraction: its first three digits are the milliseconds.
    if (logFields.size() > Seconds && (logFields[Seconds] == '.' || logFields[Seconds] == ',')) {
        qint64 scale = 100;
        for (qsizetype i = Seconds + 1; i < logFields.size() && scale > 0 && logFields[i] >= '0' && logFields[i] <= '9';
             ++i, scale /= 10)
            ms += (logFields[i] - '0') * scale;
    }
    return ms;
}
