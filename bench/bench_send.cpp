// ipnd-send under load, side by side in one run with plain POSIX clients,
// against the plain reference receiver (ipnd-bench-receiver):
//   [1] closed loop over one connection: ipnd-send --period 0 against a plain
//       client doing the same exchanges (connect, 318-byte framed record,
//       read the reply, close), and against one that closes each connection
//       after the next send, as ipnd-send does;
//   [2] a receiver that answers after 5 ms: ipnd-send --connections 16
//       against --connections 1 and against a plain client running 16
//       connections;
//   [3] resident memory of ipnd-send after a short and after a long replay;
//   [4] the processor time ipnd-receiver uses while its descriptors are all
//       taken and further clients wait;
//   [5] a conformance run: the same replay with --manifest against without,
//       its rate and whether its resident memory stays flat.
//   [6] an open loop: --rate 2000 --duration 4 --connections 8 against the
//       reference receiver: the count, the run's length, none dropped, p99
//       latency from the intended send time;
//   [7] the same against a reference receiver that stalls 0.6 s: none
//       dropped, and the latency shows the stall;
//   [8] connections side by side against a server whose handshakes never
//       complete (its accept queue is full): 16 connections against one.
// Each figure is printed with its target and "met" or "MISSED". Loopback
// only; every wait is bounded.

#include "BenchSupport.h"
#include "testpackets/TestRecords.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr double OwnCostTarget = 0.95;
constexpr double OwnCpuTarget = 1.10; // CPU per record, of the plain client's
constexpr double ScaleTarget = 12.0;
constexpr double ParallelTarget = 0.80;
constexpr double MemoryTargetKiB = 1024.0;
constexpr double FullReceiverTarget = 0.02; // of one core
constexpr int DelayMs = 5;
constexpr int OpenLoopRate = 2000;
constexpr int OpenLoopSeconds = 4;
constexpr int OpenLoopConnections = 8;
constexpr double OpenLoopP99TargetMs = 10;
constexpr int StallAtMs = 1500;
constexpr int StallMs = 600;
constexpr double HandshakeScaleTarget = 14;
constexpr int Connections = 16;
constexpr int RunLimitSeconds = 600;
// Paired rounds of the closed loop; odd, so that the median is one of them.
constexpr int OwnCostRounds = 7;
constexpr double ManifestRateTarget = 0.95;
constexpr int ManifestRounds = 3;

// The ipnd-send under test: the one built beside this benchmark, or --sender PATH.
QByteArray senderProgram = IPND_SEND;

// Processor time, user and system, a running process has used so far.
double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
    return double(fields.value(12).toLongLong() + fields.value(13).toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

// A connection to 127.0.0.1:port the plain way, every wait on it bounded by
// 5 s; -1 on failure.
int plainConnect(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

struct ReferenceReceiver
{
    QProcess process;
    quint16 port = 0;

    bool start(int delayMs, const QStringList &more = {})
    {
        process.setProgram(QStringLiteral(IPND_BENCH_RECEIVER));
        process.setArguments(QStringList{QStringLiteral("--delay-ms"), QString::number(delayMs)} + more);
        process.start();
        if (process.waitForStarted(10000) && process.waitForReadyRead(10000)) {
            const QString line = QString::fromLatin1(process.readLine()).trimmed();
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$")).match(line);
            port = m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
        }
        if (port == 0)
            std::fprintf(stderr, "ipnd-bench-send: the reference receiver did not start\n");
        return port != 0;
    }

    ~ReferenceReceiver()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
    }
};

// One exchange the plain way; false on any failure.
bool plainExchange(quint16 port, const QByteArray &packet)
{
    const int fd = plainConnect(port);
    if (fd < 0)
        return false;
    char buffer[512];
    const bool replied = ::send(fd, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL) == packet.size()
                         && ::recv(fd, buffer, sizeof buffer, 0) > 0;
    ::close(fd);
    return replied;
}

struct Result
{
    long long done = 0;
    double seconds = 0;
    double cpuSeconds = 0; // of the sending process
    long maxRssKiB = 0;    // its peak resident memory (VmHWM)
    long lastRssKiB = 0;   // its resident memory (VmRSS) at the last look before it ended
    std::vector<std::pair<double, long>> rssSamples; // seconds from the start, VmRSS KiB
    // VmRSS at the sample nearest `share` of the run's time.
    long rssAt(double share) const
    {
        long best = 0;
        double distance = 1e300;
        for (const auto &[t, rss] : rssSamples) {
            if (std::abs(t - share * seconds) < distance) {
                distance = std::abs(t - share * seconds);
                best = rss;
            }
        }
        return best;
    }
    double perSecond() const { return seconds > 0 ? double(done) / seconds : 0; }
};

// The plain client: `connections` threads, each one exchange at a time,
// sharing `records` exchanges between them.
Result runPlain(quint16 port, const QByteArray &packet, long long records, int connections)
{
    std::atomic<long long> next{0}, done{0};
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = SteadyClock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c)
        threads.emplace_back([&] {
            while (next++ < records && secondsSince(start) < RunLimitSeconds)
                if (plainExchange(port, packet))
                    ++done;
        });
    for (std::thread &thread : threads)
        thread.join();
    Result result;
    result.seconds = secondsSince(start);
    ::getrusage(RUSAGE_SELF, &after);
    result.cpuSeconds = cpuSeconds(after) - cpuSeconds(before);
    result.done = done;
    return result;
}

// The plain client with the overlap ipnd-send makes: each finished connection
// is closed once the next record has gone out. Not the target's reference;
// it shows what of the gain is that overlap.
Result runPlainClosingLate(quint16 port, const QByteArray &packet, long long records)
{
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = SteadyClock::now();
    Result result;
    int finished = -1;
    for (long long i = 0; i < records && secondsSince(start) < RunLimitSeconds; ++i) {
        const int fd = plainConnect(port);
        if (fd < 0)
            continue;
        const bool sent = ::send(fd, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL) == packet.size();
        if (finished >= 0)
            ::close(finished);
        char buffer[512];
        if (sent && ::recv(fd, buffer, sizeof buffer, 0) > 0)
            ++result.done;
        finished = fd;
    }
    if (finished >= 0)
        ::close(finished);
    result.seconds = secondsSince(start);
    ::getrusage(RUSAGE_SELF, &after);
    result.cpuSeconds = cpuSeconds(after) - cpuSeconds(before);
    return result;
}

long residentKiB(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("VmRSS:\\s*(\\d+) kB")).match(QString::fromLatin1(status.readAll()));
    return m.hasMatch() ? m.captured(1).toLong() : 0;
}

// Runs ipnd-send to its end; its output is in `output`. With sampleMemory,
// its resident memory is looked at every 20 ms while it runs.
Result runSender(const QStringList &arguments, QByteArray *output, bool sampleMemory = false)
{
    Result result;
    QTemporaryDir dir;
    const QByteArray outPath = dir.filePath(QStringLiteral("out")).toLocal8Bit();
    std::vector<QByteArray> args{senderProgram};
    for (const QString &argument : arguments)
        args.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    const auto start = SteadyClock::now();
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::printf("  cannot start %s: %s\n", senderProgram.constData(), std::strerror(spawned));
        return result;
    }
    int status = 0;
    rusage usage{};
    // Readable the moment the process ends, so that its end is seen at once
    // whether or not its memory is sampled meanwhile.
    const int ending = int(::syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        const pid_t ended = ::wait4(pid, &status, WNOHANG, &usage);
        if (ended == pid)
            break;
        if (secondsSince(start) > RunLimitSeconds) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            std::printf("  ipnd-send killed after %d s\n", RunLimitSeconds);
            if (ending >= 0)
                ::close(ending);
            return result;
        }
        if (sampleMemory)
            if (const long rss = residentKiB(pid); rss > 0) {
                result.lastRssKiB = rss;
                result.rssSamples.emplace_back(secondsSince(start), rss);
            }
        pollfd end{ending, POLLIN, 0};
        ::poll(&end, 1, sampleMemory || ending < 0 ? 20 : 1000);
    }
    if (ending >= 0)
        ::close(ending);
    result.seconds = secondsSince(start);
    result.cpuSeconds = cpuSeconds(usage);
    result.maxRssKiB = usage.ru_maxrss;
    QFile out(QString::fromLocal8Bit(outPath));
    if (out.open(QIODevice::ReadOnly))
        *output = out.readAll();
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("answered (\\d+)")).match(QString::fromLatin1(*output));
    result.done = m.hasMatch() ? m.captured(1).toLongLong() : 0;
    return result;
}

QStringList senderArguments(quint16 port, const QString &dataFile, long long records)
{
    return {QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"), QString::number(port),
            QStringLiteral("--replay"), dataFile, QStringLiteral("--period"), QStringLiteral("0"),
            QStringLiteral("--count"), QString::number(records), QStringLiteral("--quiet")};
}

bool writeDataFile(const QString &path, long long records)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray line = "2007-11-14 13:38:24\tTCPIN\t127.0.0.1:50003\t" + TestRecords::Standard + '\n';
    QByteArray block;
    for (int i = 0; i < 1000; ++i)
        block += line;
    for (long long i = 0; i < records; i += 1000)
        if (file.write(i + 1000 <= records ? block : line.repeated(int(records - i))) < 0)
            return false;
    return file.flush();
}

bool senderHasConnections()
{
    QProcess help;
    help.start(QString::fromLocal8Bit(senderProgram), {QStringLiteral("--help")});
    if (!help.waitForFinished(10000))
        return false;
    return help.readAllStandardOutput().contains("--connections");
}

void printRun(const char *label, const Result &r)
{
    std::printf("    %-34s %8.0f records/s (%lld in %.2f s", label, r.perSecond(), r.done, r.seconds);
    if (r.cpuSeconds > 0 && r.done > 0)
        std::printf(", %.1f us CPU per record", r.cpuSeconds * 1e6 / double(r.done));
    std::printf(")\n");
}

// The figures of ipnd-send's summary; -1 where it gave none.
struct SendSummary
{
    long long read = -1, sent = -1, answered = -1, notSent = -1; // answered: accepted, with a manifest
    double elapsed = -1;
    double latencyP99 = -1, latencyMax = -1, rttP99 = -1, rttMax = -1;
};

SendSummary parseSummary(const QByteArray &output)
{
    const QString text = QString::fromLatin1(output);
    SendSummary s;
    const QRegularExpressionMatch counts =
        QRegularExpression(QStringLiteral(R"(summary: records read (\d+), sent (\d+), (?:answered|accepted) (\d+), .*not sent (\d+),)"))
            .match(text);
    if (counts.hasMatch()) {
        s.read = counts.captured(1).toLongLong();
        s.sent = counts.captured(2).toLongLong();
        s.answered = counts.captured(3).toLongLong();
        s.notSent = counts.captured(4).toLongLong();
    }
    const QRegularExpressionMatch rate = QRegularExpression(QStringLiteral(R"(sent in ([0-9.]+) s\))")).match(text);
    if (rate.hasMatch())
        s.elapsed = rate.captured(1).toDouble();
    const QRegularExpressionMatch rtt =
        QRegularExpression(QStringLiteral(R"(round trip ms: .*p99 ([0-9.]+), max ([0-9.]+))")).match(text);
    if (rtt.hasMatch()) {
        s.rttP99 = rtt.captured(1).toDouble();
        s.rttMax = rtt.captured(2).toDouble();
    }
    const QRegularExpressionMatch latency =
        QRegularExpression(QStringLiteral(R"(latency ms from the intended send time: .*p99 ([0-9.]+), .*max ([0-9.]+))"))
            .match(text);
    if (latency.hasMatch()) {
        s.latencyP99 = latency.captured(1).toDouble();
        s.latencyMax = latency.captured(2).toDouble();
    }
    return s;
}

QStringList openLoopArguments(quint16 port, const QString &dataFile)
{
    return {QStringLiteral("--host"),        QStringLiteral("127.0.0.1"),
            QStringLiteral("--port"),        QString::number(port),
            QStringLiteral("--replay"),      dataFile,
            QStringLiteral("--rate"),        QString::number(OpenLoopRate),
            QStringLiteral("--duration"),    QString::number(OpenLoopSeconds),
            QStringLiteral("--connections"), QString::number(OpenLoopConnections),
            QStringLiteral("--quiet")};
}

// A listener on 127.0.0.1 whose accept queue is full and never emptied: a
// new connection's handshake never completes. The descriptors to close are
// in `held`; 0 when it could not be made.
quint16 fullListener(std::vector<int> *held)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 0) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    held->push_back(listener);
    // A queue of length 0 still takes one; two more fill it whatever the kernel rounds to.
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
        held->push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return ntohs(address.sin_port);
}

long long argumentValue(const QStringList &args, const QString &name, long long fallback)
{
    const qsizetype i = args.indexOf(name);
    return i > 0 && i + 1 < args.size() ? std::max(1LL, args[i + 1].toLongLong()) : fallback;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(QStringLiteral("--help"))) {
        std::printf("usage: ipnd-bench-send [--records N] [--delayed-records N] [--memory-records SHORT LONG]\n"
                    "                       [--manifest-records N] [--sender PATH] [--section 1|2|3|4|5|6|7|8]\n");
        return 0;
    }
    if (const qsizetype i = args.indexOf(QStringLiteral("--sender")); i > 0 && i + 1 < args.size())
        senderProgram = args[i + 1].toLocal8Bit();
    const long long records = argumentValue(args, QStringLiteral("--records"), 20000);
    const long long delayed = argumentValue(args, QStringLiteral("--delayed-records"), 1000);
    const long long manifestRecords = argumentValue(args, QStringLiteral("--manifest-records"), 1000000);
    long long memoryShort = 100000, memoryLong = 600000;
    if (const qsizetype i = args.indexOf(QStringLiteral("--memory-records")); i > 0 && i + 2 < args.size()) {
        memoryShort = std::max(1LL, args[i + 1].toLongLong());
        memoryLong = std::max(memoryShort, args[i + 2].toLongLong());
    }
    const long long section = argumentValue(args, QStringLiteral("--section"), 0);
    const auto wanted = [section](int number) { return section == 0 || section == number; };
    bool allMeasured = true;

    // 318 bytes on the wire: the Standard record framed as the replay frames it.
    const QByteArray packet = "0900311" + TestRecords::Standard;
    QTemporaryDir dir;
    const QString dataFile = dir.filePath(QStringLiteral("closed-loop.dat"));
    if (!dir.isValid() || !writeDataFile(dataFile, std::max(records, delayed * Connections))) {
        std::fprintf(stderr, "ipnd-bench-send: cannot write the data file\n");
        return 1;
    }
    std::printf("ipnd-bench-send: %s, %u cores, load average now: ", senderProgram.constData(),
                std::thread::hardware_concurrency());
    {
        QFile load(QStringLiteral("/proc/loadavg"));
        std::printf("%s", load.open(QIODevice::ReadOnly) ? load.readLine().constData() : "unknown\n");
    }

    // [1] The sender's own cost.
    if (wanted(1)) {
        ReferenceReceiver receiver;
        if (!receiver.start(0))
            return 1;
        std::printf("\n[1] closed loop, one connection, %lld records of %lld bytes, reference receiver on "
                    "127.0.0.1:%u answering at once\n",
                    records, static_cast<long long>(packet.size()), receiver.port);
        // Warm up, then pair the two in every round, taking turns at going
        // first: the machine's own noise (this is a 2-core machine, where one
        // run may be 30 % slower than the next) then hits both sides of a
        // pair alike, and the median of the pairs' ratios sets it aside.
        runPlain(receiver.port, packet, 500, 1);
        QByteArray summary;
        Result plainBest, senderBest;
        std::vector<double> ratios, lateRatios;
        double plainCpu = 0, senderCpu = 0;
        bool complete = true;
        for (int round = 1; round <= OwnCostRounds; ++round) {
            Result plain, sender;
            if (round % 2) {
                plain = runPlain(receiver.port, packet, records, 1);
                sender = runSender(senderArguments(receiver.port, dataFile, records), &summary);
            } else {
                sender = runSender(senderArguments(receiver.port, dataFile, records), &summary);
                plain = runPlain(receiver.port, packet, records, 1);
            }
            const Result late = runPlainClosingLate(receiver.port, packet, records);
            const double ratio = plain.perSecond() > 0 ? sender.perSecond() / plain.perSecond() : 0;
            const double lateRatio = late.perSecond() > 0 ? sender.perSecond() / late.perSecond() : 0;
            std::printf("  round %d: ipnd-send / plain client = %.2f; / plain client closing late = %.2f\n", round,
                        ratio, lateRatio);
            printRun("plain client", plain);
            printRun("plain client closing late", late);
            printRun("ipnd-send --period 0", sender);
            ratios.push_back(ratio);
            lateRatios.push_back(lateRatio);
            plainCpu += plain.cpuSeconds;
            senderCpu += sender.cpuSeconds;
            complete = complete && plain.done == records && sender.done == records;
            if (plain.perSecond() > plainBest.perSecond())
                plainBest = plain;
            if (sender.perSecond() > senderBest.perSecond())
                senderBest = sender;
        }
        std::printf("  ipnd-send's own summary of its last run:\n%s", summary.constData());
        std::sort(ratios.begin(), ratios.end());
        const double middle = median(ratios);
        const double bestRatio = plainBest.perSecond() > 0 ? senderBest.perSecond() / plainBest.perSecond() : 0;
        std::printf("  ipnd-send / plain client, median of %d paired rounds = %.2f (lowest %.2f, highest %.2f; "
                    "target >= %.2f: %s)\n",
                    OwnCostRounds, middle, ratios.front(), ratios.back(), OwnCostTarget,
                    verdict(middle >= OwnCostTarget));
        std::sort(lateRatios.begin(), lateRatios.end());
        std::printf("  ipnd-send / a plain client that also closes each connection after the next send (no "
                    "target: what is left of our own cost), median %.2f (lowest %.2f, highest %.2f)\n",
                    median(lateRatios), lateRatios.front(), lateRatios.back());
        std::printf("  best round of each: plain client %.0f/s, ipnd-send %.0f/s, ratio %.2f "
                    "(process wall time, start-up included)\n",
                    plainBest.perSecond(), senderBest.perSecond(), bestRatio);
        const double total = double(records) * OwnCostRounds;
        const double cpuRatio = plainCpu > 0 ? senderCpu / plainCpu : 0;
        std::printf("  CPU per record over all rounds: plain client %.1f us, ipnd-send %.1f us, ratio %.2f "
                    "(target <= %.2f: %s)\n",
                    plainCpu * 1e6 / total, senderCpu * 1e6 / total, cpuRatio, OwnCpuTarget,
                    verdict(cpuRatio > 0 && cpuRatio <= OwnCpuTarget));
        if (!complete) {
            std::printf("  not every exchange completed in every round\n");
            allMeasured = false;
        }
    }

    // [2] Many connections against a receiver that takes its time.
    if (wanted(2)) {
        ReferenceReceiver receiver;
        if (!receiver.start(DelayMs))
            return 1;
        const long long many = delayed * Connections;
        std::printf("\n[2] reference receiver answering after %d ms on 127.0.0.1:%u: %lld records over 1 connection, "
                    "%lld over %d\n",
                    DelayMs, receiver.port, delayed, many, Connections);
        if (!senderHasConnections()) {
            std::printf("  skipped: ipnd-send has no --connections\n");
        } else {
            QByteArray summary1, summary16;
            QStringList one = senderArguments(receiver.port, dataFile, delayed);
            one << QStringLiteral("--connections") << QStringLiteral("1");
            QStringList sixteen = senderArguments(receiver.port, dataFile, many);
            sixteen << QStringLiteral("--connections") << QString::number(Connections);
            const Result single = runSender(one, &summary1);
            const Result parallel = runSender(sixteen, &summary16);
            const Result plain = runPlain(receiver.port, packet, many, Connections);
            printRun("ipnd-send --connections 1", single);
            printRun("ipnd-send --connections 16", parallel);
            printRun("plain client, 16 connections", plain);
            const double scale = single.perSecond() > 0 ? parallel.perSecond() / single.perSecond() : 0;
            const double share = plain.perSecond() > 0 ? parallel.perSecond() / plain.perSecond() : 0;
            std::printf("  16 connections / 1 connection = %.1f (target >= %.0f: %s)\n", scale, ScaleTarget,
                        verdict(scale >= ScaleTarget));
            std::printf("  ipnd-send / plain client, 16 connections each = %.2f (target >= %.2f: %s)\n", share,
                        ParallelTarget, verdict(share >= ParallelTarget));
            if (single.done != delayed || parallel.done != many || plain.done != many) {
                std::printf("  not every exchange completed: %lld of %lld, %lld and %lld of %lld\n", single.done,
                            delayed, parallel.done, plain.done, many);
                std::printf("  ipnd-send's summaries:\n%s%s", summary1.constData(), summary16.constData());
                allMeasured = false;
            }
        }
    }

    // [3] Flat memory: a long replay ends with the resident memory of a short one.
    if (wanted(3)) {
        ReferenceReceiver receiver;
        if (!receiver.start(0))
            return 1;
        std::printf("\n[3] resident memory of ipnd-send --period 0 after %lld and after %lld records, each a file "
                    "of its own\n",
                    memoryShort, memoryLong);
        Result runs[2];
        const long long counts[2] = {memoryShort, memoryLong};
        for (int i = 0; i < 2; ++i) {
            const QString file = dir.filePath(QStringLiteral("memory-%1.dat").arg(i));
            QByteArray summary;
            if (!writeDataFile(file, counts[i])) {
                std::printf("  cannot write %lld records to %s\n", counts[i], qPrintable(file));
                allMeasured = false;
                break;
            }
            runs[i] = runSender(senderArguments(receiver.port, file, counts[i]), &summary, true);
            QFile::remove(file);
            std::printf("    %7lld records: VmHWM %ld KiB, VmRSS near the end %ld KiB, %.0f records/s\n", counts[i],
                        runs[i].maxRssKiB, runs[i].lastRssKiB, runs[i].perSecond());
            if (runs[i].done != counts[i]) {
                std::printf("  not every exchange completed: %lld of %lld\n%s", runs[i].done, counts[i],
                            summary.constData());
                allMeasured = false;
            }
        }
        if (runs[0].maxRssKiB > 0 && runs[1].maxRssKiB > 0) {
            const double growth = double(runs[1].maxRssKiB - runs[0].maxRssKiB);
            const double rssGrowth = double(runs[1].lastRssKiB - runs[0].lastRssKiB);
            std::printf("  growth: VmHWM %+.0f KiB, VmRSS %+.0f KiB (target within %.0f KiB: %s)\n", growth,
                        rssGrowth, MemoryTargetKiB,
                        verdict(growth <= MemoryTargetKiB && rssGrowth <= MemoryTargetKiB));
        }
    }

    // [4] ipnd-receiver out of descriptors: the clients it cannot take wait
    // in the kernel's queue and cost it nothing.
    if (wanted(4)) {
        std::printf("\n[4] ipnd-receiver with a limit of 64 open files and 60 clients connected\n");
        QProcess receiver;
        receiver.setChildProcessModifier([] {
            const rlimit limit{64, 64};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        });
        receiver.start(QStringLiteral(IPND_RECEIVER), {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--quiet")});
        quint16 port = 0;
        if (receiver.waitForReadyRead(10000)) {
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral(R"(:(\d+)$)")).match(QString::fromLatin1(receiver.readLine()).trimmed());
            port = m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
        }
        std::vector<int> crowd;
        for (int i = 0; port != 0 && i < 60; ++i)
            crowd.push_back(plainConnect(port));
        QByteArray said;
        for (int i = 0; i < 100 && !said.endsWith('\n') && receiver.waitForReadyRead(100);)
            said += receiver.readAllStandardError();
        said += receiver.readAllStandardError();
        const double before = processCpuSeconds(receiver.processId());
        const auto start = SteadyClock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double share = (processCpuSeconds(receiver.processId()) - before) / secondsSince(start);
        for (size_t i = 20; i < crowd.size(); ++i)
            ::close(crowd[i]);
        const bool served = port != 0 && plainExchange(port, TestRecords::Standard);
        for (size_t i = 0; i < std::min<size_t>(20, crowd.size()); ++i)
            ::close(crowd[i]);
        receiver.kill();
        receiver.waitForFinished(5000);
        if (port == 0 || before < 0 || !served) {
            std::printf("  the receiver did not start, could not be measured, or served no client afterwards\n");
            allMeasured = false;
        } else {
            std::printf("    it said: %s", said.isEmpty() ? "nothing\n" : said.constData());
            std::printf("  processor time while full: %.2f %% of one core (target < %.0f %%: %s); a client served "
                        "once others closed\n",
                        share * 100, FullReceiverTarget * 100, verdict(share < FullReceiverTarget));
        }
    }

    // [5] A conformance run costs next to nothing: the manifest is read in
    // step with the data file, a line per record.
    if (wanted(5)) {
        ReferenceReceiver receiver;
        if (!receiver.start(0))
            return 1;
        std::printf("\n[5] %lld records made by ipnd-gen, replayed with --manifest and without, %d paired rounds\n",
                    manifestRecords, ManifestRounds);
        const QString data = dir.filePath(QStringLiteral("conform.dat"));
        const QString manifest = dir.filePath(QStringLiteral("conform.jsonl"));
        QProcess gen;
        gen.start(QStringLiteral(IPND_GEN), {QStringLiteral("--count"), QString::number(manifestRecords),
                                             QStringLiteral("--seed"), QStringLiteral("5"), QStringLiteral("--output"),
                                             data, QStringLiteral("--manifest"), manifest});
        if (!gen.waitForFinished(RunLimitSeconds * 1000) || gen.exitCode() != 0) {
            std::printf("  ipnd-gen failed: %s\n", gen.readAllStandardError().constData());
            allMeasured = false;
        } else {
            // The reference receiver answers "ACK" without the id: every
            // reply is tried against both patterns and judged unexpected,
            // the dearest way through the judging.
            std::vector<double> ratios;
            Result withManifest;
            QByteArray summary;
            bool complete = true;
            for (int round = 1; round <= ManifestRounds; ++round) {
                const QStringList plainArguments = senderArguments(receiver.port, data, manifestRecords);
                const QStringList conformArguments =
                    plainArguments + QStringList{QStringLiteral("--manifest"), manifest};
                Result plain, conform;
                QByteArray plainSummary;
                if (round % 2) {
                    plain = runSender(plainArguments, &plainSummary);
                    conform = runSender(conformArguments, &summary, true);
                } else {
                    conform = runSender(conformArguments, &summary, true);
                    plain = runSender(plainArguments, &plainSummary);
                }
                // Every reply counts as unexpected in the conformance run.
                const QRegularExpressionMatch m =
                    QRegularExpression(QStringLiteral("unexpected (\\d+)")).match(QString::fromLatin1(summary));
                conform.done = m.hasMatch() ? m.captured(1).toLongLong() : 0;
                const double ratio = plain.perSecond() > 0 ? conform.perSecond() / plain.perSecond() : 0;
                std::printf("  round %d: with --manifest / without = %.3f\n", round, ratio);
                printRun("ipnd-send", plain);
                printRun("ipnd-send --manifest", conform);
                std::printf("    --manifest VmRSS at a sixth of the run %ld KiB, near its end %ld KiB\n",
                            conform.rssAt(1.0 / 6), conform.lastRssKiB);
                ratios.push_back(ratio);
                complete = complete && plain.done == manifestRecords && conform.done == manifestRecords;
                if (round == 1 || conform.lastRssKiB - conform.rssAt(1.0 / 6)
                                      > withManifest.lastRssKiB - withManifest.rssAt(1.0 / 6))
                    withManifest = conform;
            }
            std::sort(ratios.begin(), ratios.end());
            const double middle = median(ratios);
            std::printf("  with --manifest / without, median of %d paired rounds = %.3f (lowest %.3f, highest "
                        "%.3f; target >= %.2f: %s)\n",
                        ManifestRounds, middle, ratios.front(), ratios.back(), ManifestRateTarget,
                        verdict(middle >= ManifestRateTarget));
            const long growth = withManifest.lastRssKiB - withManifest.rssAt(1.0 / 6);
            std::printf("  VmRSS growth from a sixth of the run to its end, largest of the rounds: %+ld KiB "
                        "(target within %.0f KiB: %s)\n",
                        growth, MemoryTargetKiB, verdict(growth <= MemoryTargetKiB));
            if (!complete) {
                std::printf("  not every exchange completed in every round; last summary:\n%s", summary.constData());
                allMeasured = false;
            }
        }
        QFile::remove(data);
        QFile::remove(manifest);
    }

    // [6] and [7]: an open loop, against a receiver that keeps up and one that stalls.
    for (const int number : {6, 7}) {
        if (!wanted(number))
            continue;
        const bool stalls = number == 7;
        ReferenceReceiver receiver;
        if (!receiver.start(0, stalls ? QStringList{QStringLiteral("--stall-at-ms"), QString::number(StallAtMs),
                                                    QStringLiteral("--stall-ms"), QString::number(StallMs)}
                                      : QStringList()))
            return 1;
        const long long due = static_cast<long long>(OpenLoopRate) * OpenLoopSeconds;
        std::printf("\n[%d] open loop: --rate %d --duration %d --connections %d against the reference receiver%s\n",
                    number, OpenLoopRate, OpenLoopSeconds, OpenLoopConnections,
                    stalls ? qPrintable(QStringLiteral(" that stalls %1 ms, %2 ms after the first connection")
                                            .arg(StallMs)
                                            .arg(StallAtMs))
                           : "");
        QByteArray output;
        const Result run = runSender(openLoopArguments(receiver.port, dataFile), &output);
        const SendSummary s = parseSummary(output);
        if (s.sent < 0 || s.latencyMax < 0) {
            std::printf("  no summary:\n%s", output.constData());
            allMeasured = false;
            continue;
        }
        std::printf("  sent %lld of %lld due, answered %lld, not sent %lld; sending and replies %.3f s, process %.3f s; "
                    "%.1f us CPU per record\n",
                    s.sent, due, s.answered, s.notSent, s.elapsed, run.seconds,
                    s.sent > 0 ? run.cpuSeconds * 1e6 / double(s.sent) : 0.0);
        std::printf("  latency from the intended time p99 %.3f ms, max %.3f ms; round trip p99 %.3f ms, max %.3f ms\n",
                    s.latencyP99, s.latencyMax, s.rttP99, s.rttMax);
        const bool countMet = std::abs(double(s.sent - due)) <= 0.01 * double(due);
        const bool noneDropped = s.notSent == 0;
        if (!stalls) {
            const bool lengthMet = s.elapsed >= OpenLoopSeconds && s.elapsed <= OpenLoopSeconds * 1.1;
            std::printf("  sent within 1 %% of %lld: %s; run %.3f s within %d-%.1f s: %s; none dropped: %s; "
                        "p99 latency %.3f ms < %.0f ms: %s\n",
                        due, verdict(countMet), s.elapsed, OpenLoopSeconds, OpenLoopSeconds * 1.1, verdict(lengthMet),
                        verdict(noneDropped), s.latencyP99, OpenLoopP99TargetMs,
                        verdict(s.latencyP99 < OpenLoopP99TargetMs));
        } else {
            // The records due during the stall wait for it: late by up to its length.
            const bool shown = s.latencyMax >= StallMs * 0.9 && s.latencyMax <= StallMs * 1.5;
            std::printf("  none dropped: %s; latency max %.3f ms shows the %d ms stall (%.0f-%.0f ms): %s\n",
                        verdict(noneDropped), s.latencyMax, StallMs, StallMs * 0.9, StallMs * 1.5, verdict(shown));
        }
    }

    // [8] One link's handshake holds up no other.
    if (wanted(8)) {
        std::vector<int> held;
        const quint16 port = fullListener(&held);
        std::printf("\n[8] a server whose handshakes never complete (accept queue full) on 127.0.0.1:%u, "
                    "--connect-timeout 1: 3 records over 1 connection, 48 over 16\n",
                    port);
        if (port == 0) {
            std::printf("  could not make the listener\n");
            allMeasured = false;
        } else {
            Result runs[2];
            const int connections[2] = {1, Connections};
            for (int i = 0; i < 2; ++i) {
                QStringList arguments = senderArguments(port, dataFile, 3LL * connections[i]);
                arguments << QStringLiteral("--connections") << QString::number(connections[i])
                          << QStringLiteral("--connect-timeout") << QStringLiteral("1");
                QByteArray output;
                runs[i] = runSender(arguments, &output);
                const SendSummary s = parseSummary(output);
                runs[i].done = s.read; // each one tried, none connected
                std::printf("    --connections %-2d %lld records tried in %.2f s (%lld sent)\n", connections[i], s.read,
                            runs[i].seconds, s.sent);
            }
            const double scale = runs[0].perSecond() > 0 ? runs[1].perSecond() / runs[0].perSecond() : 0;
            std::printf("  16 connections / 1 connection, records tried per second = %.1f (target >= %.0f: %s)\n",
                        scale, HandshakeScaleTarget, verdict(scale >= HandshakeScaleTarget));
        }
        for (const int fd : held)
            ::close(fd);
    }

    std::printf("\n%s\n", allMeasured ? "all measurements made" : "SOME MEASUREMENTS COULD NOT BE MADE");
    return allMeasured ? 0 : 1;
}
