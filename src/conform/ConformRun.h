#pragma once

#include "conform/ConformOptions.h"

#include <QObject>

#include <cstdio>

class Suite;

// ipnd-conform's run: the battery, its lines on `out`, its reports, its exit
// status.
class ConformRun : public QObject
{
    Q_OBJECT

public:
    enum Status { Passed = 0, Failed = 1, Usage = 2, NoConnection = 3 };

    ConformRun(const ConformOptions &options, std::FILE *out, std::FILE *err, QObject *parent = nullptr);
    ~ConformRun() override;

    int run();
    // SIGINT or SIGTERM: the case under way ends, the reports are written
    // whole, and run() returns 128 and the signal's number.
    void interrupt(int signalNumber);

private:
    void say(std::FILE *stream, const QByteArray &line);

    const ConformOptions m_options;
    std::FILE *const m_out;
    std::FILE *const m_err;
    Suite *m_suite = nullptr;
    int m_signal = 0;
};
