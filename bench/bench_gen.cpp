// Test data at scale: ipnd-gen writes N valid RAWLOG records to a file, side
// by side in one run with a plain Python generator of equivalent records
// (bench/gen_reference.py). Reports records per second, CPU time and peak
// resident memory of each, and ipnd-gen's peak memory at a tenth of N to show
// that memory stays flat in N. Target: ipnd-gen at least 30 times the
// records per second of the Python generator.
//
// usage: ipnd-bench-gen [RECORDS]   (default 1000000)

#include "BenchSupport.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr long long DefaultRecords = 1000000;
constexpr double Target = 30.0;

struct Measure
{
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
    qint64 bytes = 0;
};

double now()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return double(tv.tv_sec) + double(tv.tv_usec) / 1e6;
}

// Runs the program to its end; its own peak RSS and CPU time come from wait4.
Measure run(const QStringList &command, const QString &output)
{
    std::vector<QByteArray> bytes;
    for (const QString &part : command)
        bytes.push_back(part.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    Measure m;
    const double start = now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return m;
    m.seconds = now() - start;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    m.cpuSeconds = cpuSeconds(usage);
    m.peakMiB = double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    m.bytes = QFileInfo(output).size();
    return m;
}

void report(const char *name, long long records, const Measure &m)
{
    std::printf("%-10s %lld records in %.2f s: %.0f records/s; CPU %.2f s (%.0f records per CPU second); "
                "peak RSS %.1f MiB; %.1f bytes per line\n",
                name, records, m.seconds, double(records) / m.seconds, m.cpuSeconds, double(records) / m.cpuSeconds,
                m.peakMiB, double(m.bytes) / double(records));
}

} // namespace

int main(int argc, char *argv[])
{
    const long long records = argc > 1 ? std::atoll(argv[1]) : DefaultRecords;
    if (records < 10) {
        std::fprintf(stderr, "usage: ipnd-bench-gen [RECORDS (10 or more)]\n");
        return 2;
    }
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "ipnd-bench-gen: no temporary folder\n");
        return 1;
    }
    const QString count = QString::number(records);
    const QString genFile = dir.filePath(QStringLiteral("gen.dat"));
    const QString pyFile = dir.filePath(QStringLiteral("ref.dat"));
    const QString gen = QStringLiteral(IPND_GEN);

    const Measure small = run({gen, QStringLiteral("--count"), QString::number(records / 10), QStringLiteral("--seed"),
                               QStringLiteral("1"), QStringLiteral("--output"), genFile},
                              genFile);
    const Measure fast = run({gen, QStringLiteral("--count"), count, QStringLiteral("--seed"), QStringLiteral("1"),
                              QStringLiteral("--output"), genFile},
                             genFile);
    QFile::remove(genFile);
    const Measure slow = run({QStringLiteral("python3"), QStringLiteral(GEN_REFERENCE), count, QStringLiteral("1"),
                              pyFile},
                             pyFile);
    QFile::remove(pyFile);
    if (!small.ok || !fast.ok || !slow.ok) {
        std::fprintf(stderr, "ipnd-bench-gen: a generator failed\n");
        return 1;
    }

    report("ipnd-gen", records, fast);
    report("python3", records, slow);
    const double ratio = (double(records) / fast.seconds) / (double(records) / slow.seconds);
    const double cpuRatio = slow.cpuSeconds / fast.cpuSeconds;
    std::printf("ratio (records/s, wall clock): %.1fx; by CPU time: %.1fx; target >= %.0fx: %s\n", ratio, cpuRatio,
                Target, ratio >= Target ? "met" : "MISSED");
    std::printf("ipnd-gen peak RSS: %.1f MiB at %lld records, %.1f MiB at %lld records (flat in N: %s)\n",
                small.peakMiB, records / 10, fast.peakMiB, records,
                fast.peakMiB < small.peakMiB * 1.5 + 2 ? "yes" : "NO");
    return 0;
}
