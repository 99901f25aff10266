#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// A timeout that is set and cleared once per exchange, thousands of times a
// second. Starting and stopping a QTimer registers and unregisters a timer
// each time; this one leaves its timer running when it is cleared or set
// again, and when the timer comes due for a deadline that has since moved, it
// waits for the rest. The timer never runs on with no deadline set beyond the
// one period already under way, so nothing wakes while idle.
class LazyTimeout
{
public:
    explicit LazyTimeout(std::function<void()> expired) : m_expired(std::move(expired))
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { onTimer(); });
    }

    void start(int milliseconds)
    {
        m_deadline = QDeadlineTimer(milliseconds);
        // A timer that would come due later than the new deadline (a shorter
        // timeout than last time) is set again.
        if (!m_timer.isActive() || m_deadline < m_due) {
            m_timer.start(milliseconds);
            m_due = m_deadline;
        }
    }
    void stop() { m_deadline = QDeadlineTimer(QDeadlineTimer::Forever); }
    bool isActive() const { return !m_deadline.isForever(); }

private:
    void onTimer()
    {
        if (m_deadline.isForever())
            return;
        if (const qint64 left = m_deadline.remainingTime(); left > 0) {
            m_timer.start(int(left));
            m_due = m_deadline;
            return;
        }
        m_deadline = QDeadlineTimer(QDeadlineTimer::Forever);
        m_expired();
    }

    QTimer m_timer;
    std::function<void()> m_expired;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
    QDeadlineTimer m_due; // when the timer, if running, comes due
};
