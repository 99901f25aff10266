#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into an event on the event thread: the signal
// handler only writes a byte to a pipe, and stopRequested() is emitted from
// the event loop (also from a wait nested in a handler). Make one per process.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // False when the pipe or the handlers could not be set up.
    bool isWatching() const { return m_watching; }

signals:
    void stopRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
    bool m_watching = false;
    bool m_hangup = false; // SIGHUP is watched: it was not ignored
};
